#include "qsmlib/crc32.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();
static_assert(kTable[1] == 0x77073096u && kTable[255] == 0x2D02EF8Du);

}  // namespace

const uint32_t kCrc32Table[256] = {
#define R(i) kTable[i], kTable[i + 1], kTable[i + 2], kTable[i + 3], kTable[i + 4], kTable[i + 5], \
             kTable[i + 6], kTable[i + 7]
#define R64(i) R(i), R(i + 8), R(i + 16), R(i + 24), R(i + 32), R(i + 40), R(i + 48), R(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R
};

uint32_t Crc32Buffer(uint32_t previous, const void* buffer, size_t length) {
  if (buffer == nullptr) return 0;
  const auto* p = static_cast<const uint8_t*>(buffer);
  uint32_t reg = ~previous;
  for (size_t i = 0; i < length; ++i) reg = Crc32Update(p[i], reg);
  return ~reg;
}
