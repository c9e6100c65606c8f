// The table of the reflected CRC-32 polynomial 0xEDB88320, shared by the log's
// line checksum and the compressed-file format.
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint32_t kCrc32Table[256];

// One byte through the table: Table[(reg ^ byte) & 0xFF] ^ (reg >> 8).
inline uint32_t Crc32Update(uint8_t byte, uint32_t reg) {
  return kCrc32Table[(reg ^ byte) & 0xFFu] ^ (reg >> 8);
}

// The standard CRC-32 (complemented before and after); chaining calls over
// consecutive pieces gives the CRC of the whole. A null buffer gives 0.
uint32_t Crc32Buffer(uint32_t previous, const void* buffer, size_t length);
