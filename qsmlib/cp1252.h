// All text the system writes or reads (log, FEX, package text, SQL) is
// single-byte Windows-1252. Source files are UTF-8, so every literal that
// holds a non-ASCII character is converted with the _cp suffix:
//   Log->Write(1, "Ação cadastrada no QSMS é inválida."_cp);
#pragma once

#include <string>
#include <string_view>

// UTF-8 to Windows-1252. Characters that have no CP1252 byte become '?'.
std::string Utf8ToCp1252(std::string_view utf8);
// Windows-1252 to UTF-8 (for showing text on a UTF-8 terminal).
std::string Cp1252ToUtf8(std::string_view cp1252);

inline std::string operator""_cp(const char* s, std::size_t n) {
  return Utf8ToCp1252(std::string_view(s, n));
}
