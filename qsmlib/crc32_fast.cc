#include "qsmlib/crc32_fast.h"

#include <zlib.h>

#include <initializer_list>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

uint32_t ZlibCrc(uint32_t crc, const unsigned char* p, size_t n) {
  while (n > 0) {
    const uInt chunk = n > (1u << 30) ? (1u << 30) : uInt(n);
    crc = uint32_t(crc32(crc, p, chunk));
    p += chunk;
    n -= chunk;
  }
  return crc;
}

#if defined(__x86_64__)

// Folding by carry-less multiplication (the reflected CRC-32 constants of
// Gopal et al., "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ
// Instruction"): four 128-bit lanes fold 64 bytes a step, then fold into one
// lane, then to 64 bits, and a Barrett reduction gives the 32-bit register.
// Works on the register itself (not complemented); len >= 64, a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldCrc(const unsigned char* buf, size_t len,
                                                          uint32_t reg) {
  alignas(16) static const uint64_t k1k2[] = {0x0154442bd4ull, 0x01c6e41596ull};
  alignas(16) static const uint64_t k3k4[] = {0x01751997d0ull, 0x00ccaa009eull};
  alignas(16) static const uint64_t k5k0[] = {0x0163cd6124ull, 0};
  alignas(16) static const uint64_t poly[] = {0x01db710641ull, 0x01f7011641ull};

  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(int(reg)));
  __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
  buf += 64;
  len -= 64;

  while (len >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    const __m128i x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
    const __m128i x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
    const __m128i x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
    x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
    x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
    const __m128i y5 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
    const __m128i y6 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
    const __m128i y7 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
    const __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), y5);
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), y6);
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), y7);
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), y8);
    buf += 64;
    len -= 64;
  }

  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
  for (const __m128i next : {x2, x3, x4}) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
  }
  while (len >= 16) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf));
    const __m128i x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, y), x5);
    buf += 16;
    len -= 16;
  }

  __m128i x2b = _mm_clmulepi64_si128(x1, x0, 0x10);
  const __m128i mask = _mm_setr_epi32(~0, 0, ~0, 0);
  x1 = _mm_srli_si128(x1, 8);
  x1 = _mm_xor_si128(x1, x2b);
  x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
  x2b = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, mask);
  x1 = _mm_clmulepi64_si128(x1, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2b);

  x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
  x2b = _mm_and_si128(x1, mask);
  x2b = _mm_clmulepi64_si128(x2b, x0, 0x10);
  x2b = _mm_and_si128(x2b, mask);
  x2b = _mm_clmulepi64_si128(x2b, x0, 0x00);
  x1 = _mm_xor_si128(x1, x2b);
  return uint32_t(_mm_extract_epi32(x1, 1));
}

bool HasFold() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

#endif

}  // namespace

uint32_t Crc32Fast(uint32_t previous, const void* buffer, size_t length) {
  if (buffer == nullptr) return 0;
  const auto* p = static_cast<const unsigned char*>(buffer);
#if defined(__x86_64__)
  if (length >= 64 && HasFold()) {
    const size_t folded = length & ~size_t(15);
    previous = ~FoldCrc(p, folded, ~previous);
    p += folded;
    length -= folded;
  }
#endif
  return ZlibCrc(previous, p, length);
}
