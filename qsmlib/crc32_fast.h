// The standard CRC-32 of Crc32Buffer (same value, same chaining) at memory
// speed for the large streams of the compressed-file format: carry-less
// multiplication where the processor has it, zlib's word-wise routine
// otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t Crc32Fast(uint32_t previous, const void* buffer, size_t length);
