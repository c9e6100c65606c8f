// The compressed container of packages: "FX\x08", a zlib stream of the whole
// input, its CRC-32 and length (little-endian) and "EOZ".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
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

// The container written from bytes handed over piece by piece, without the
// whole input in a file first: the same bytes CompressFile writes for a file
// of that content (its 32 KB pieces and the finish with the last one are
// kept). Begin raises EInOutError when dest cannot be created and gives false
// when zlib cannot be set up; a false from Write or End, or a writer dropped
// before End, leaves no dest behind.
struct TCompressWriter {
  std::string Path;
  std::FILE* File = nullptr;
  void* Stream = nullptr;  // the zlib stream, owned
  std::string In, Out;     // the pending piece and the output buffer
  uint32_t Crc = 0;
  uint32_t Length = 0;
  TCompressWriter() = default;
  TCompressWriter(const TCompressWriter&) = delete;
  TCompressWriter& operator=(const TCompressWriter&) = delete;
  ~TCompressWriter();
};
bool CompressBegin(TCompressWriter& w, const std::string& dest, int level);
bool CompressWrite(TCompressWriter& w, const char* data, size_t length);
bool CompressEnd(TCompressWriter& w);
