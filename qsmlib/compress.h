// The compressed container of packages: "FX\x08", a zlib stream of the whole
// input, its CRC-32 and length (little-endian) and "EOZ".
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "qsmlib/crc32.h"

bool CompressFile(const std::string& source, const std::string& dest, int level);
// True only when the signature, the whole stream and the trailer (CRC-32,
// length, "EOZ") check out; otherwise false and no destination is left.
bool DecompressFile(const std::string& source, const std::string& dest);

// As DecompressFile, handing every piece of output to inspect as it is made;
// inspect returning false refuses the content (false, no destination).
using TOutputInspector = std::function<bool(const char* data, size_t length)>;
bool DecompressFile(const std::string& source, const std::string& dest,
                    const TOutputInspector& inspect);
