// MD5 (RFC 1321) of a whole file, as 32 lower-case hexadecimal digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct TMD5Context {
  uint32_t state[4];
  uint32_t count[2];  // message length in bits, low word first
  uint8_t buffer[64];
};
void MD5Init(TMD5Context& ctx);
void MD5Update(TMD5Context& ctx, const void* data, size_t length);
void MD5Final(TMD5Context& ctx, uint8_t digest[16]);  // zeroes the context

// 32 zeros when the file cannot be opened or read.
std::string MD5OfFile(const std::string& fileName);
