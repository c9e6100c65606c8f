#include "qsmlib/cp1252.h"

#include <cstdint>

namespace {

// Code points of bytes 0x80-0x9F; 0 marks the five unassigned bytes, which
// map to the C1 control of the same value.
constexpr char32_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char32_t ByteToCodePoint(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

int CodePointToByte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return 0x80 + i;
  if (cp >= 0x80 && cp <= 0x9F && kHigh[cp - 0x80] == 0) return static_cast<int>(cp);
  return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    int len = 0;
    char32_t cp = 0;
    if (b < 0x80) {
      len = 1;
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07;
    }
    bool valid = len > 0 && i + static_cast<size_t>(len) <= utf8.size();
    for (int k = 1; valid && k < len; ++k) {
      const auto c = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
      if ((c & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!valid) {  // a stray byte: one '?' for it, then resynchronise
      out += '?';
      ++i;
      continue;
    }
    const int byte = CodePointToByte(cp);
    out += byte < 0 ? '?' : static_cast<char>(byte);
    i += static_cast<size_t>(len);
  }
  return out;
}

std::string Cp1252ToUtf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + cp1252.size() / 8);
  for (char c : cp1252) AppendUtf8(out, ByteToCodePoint(static_cast<unsigned char>(c)));
  return out;
}
