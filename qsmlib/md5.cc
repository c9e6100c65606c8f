#include "qsmlib/md5.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qsmlib/platform/fs.h"

namespace {

constexpr size_t kFileBlockSize = 1024;
constexpr const char* kNoDigest = "00000000000000000000000000000000";

constexpr uint32_t kT[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};
constexpr int kShift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

uint32_t Rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

void Transform(uint32_t state[4], const uint8_t block[64]) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<uint32_t>(block[i * 4]) | (static_cast<uint32_t>(block[i * 4 + 1]) << 8) |
           (static_cast<uint32_t>(block[i * 4 + 2]) << 16) |
           (static_cast<uint32_t>(block[i * 4 + 3]) << 24);
  }
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (int i = 0; i < 64; ++i) {
    uint32_t f;
    int g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    const uint32_t tmp = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kT[i] + x[g], kShift[i]);
    a = tmp;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

}  // namespace

void MD5Init(TMD5Context& ctx) {
  ctx.state[0] = 0x67452301;
  ctx.state[1] = 0xefcdab89;
  ctx.state[2] = 0x98badcfe;
  ctx.state[3] = 0x10325476;
  ctx.count[0] = ctx.count[1] = 0;
  std::memset(ctx.buffer, 0, sizeof ctx.buffer);
}

void MD5Update(TMD5Context& ctx, const void* data, size_t length) {
  const auto* in = static_cast<const uint8_t*>(data);
  size_t used = (ctx.count[0] >> 3) & 0x3F;
  const uint64_t bits = (static_cast<uint64_t>(ctx.count[1]) << 32 | ctx.count[0]) +
                        (static_cast<uint64_t>(length) << 3);
  ctx.count[0] = static_cast<uint32_t>(bits);
  ctx.count[1] = static_cast<uint32_t>(bits >> 32);
  if (used) {
    const size_t take = std::min(length, 64 - used);
    std::memcpy(ctx.buffer + used, in, take);
    used += take;
    in += take;
    length -= take;
    if (used < 64) return;
    Transform(ctx.state, ctx.buffer);
  }
  for (; length >= 64; in += 64, length -= 64) Transform(ctx.state, in);
  if (length) std::memcpy(ctx.buffer, in, length);
}

void MD5Final(TMD5Context& ctx, uint8_t digest[16]) {
  uint8_t lengthBytes[8];
  for (int i = 0; i < 4; ++i) {
    lengthBytes[i] = static_cast<uint8_t>(ctx.count[0] >> (8 * i));
    lengthBytes[i + 4] = static_cast<uint8_t>(ctx.count[1] >> (8 * i));
  }
  const size_t used = (ctx.count[0] >> 3) & 0x3F;
  const size_t padLen = used < 56 ? 56 - used : 120 - used;
  uint8_t padding[64] = {0x80};
  MD5Update(ctx, padding, padLen);
  MD5Update(ctx, lengthBytes, 8);
  for (int i = 0; i < 4; ++i)
    for (int k = 0; k < 4; ++k) digest[i * 4 + k] = static_cast<uint8_t>(ctx.state[i] >> (8 * k));
  std::memset(&ctx, 0, sizeof ctx);
}

std::string MD5OfFile(const std::string& fileName) {
  const std::string found = fs_layer::FindFile(fileName);
  if (found.empty()) return kNoDigest;
  // Non-blocking open and a regular-file check: a FIFO or device never stalls the run.
  const int fd = ::open(found.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kNoDigest;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return kNoDigest;
  }
  TMD5Context ctx;
  MD5Init(ctx);
  uint8_t block[kFileBlockSize];
  for (;;) {
    const ssize_t n = ::read(fd, block, sizeof block);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      // A file that cannot be read to its end has no digest.
      ::close(fd);
      return kNoDigest;
    }
    MD5Update(ctx, block, static_cast<size_t>(n));
  }
  ::close(fd);
  uint8_t digest[16];
  MD5Final(ctx, digest);
  static const char* const kHex = "0123456789abcdef";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[static_cast<size_t>(i) * 2] = kHex[digest[i] >> 4];
    out[static_cast<size_t>(i) * 2 + 1] = kHex[digest[i] & 0xF];
  }
  return out;
}
