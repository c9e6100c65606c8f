#include "qsmlib/helpers.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "qsmlib/except.h"
#include "qsmlib/platform/fs.h"

namespace {

// Large enough that a 200 MB package is read in a few thousand calls.
constexpr size_t kTextBufferSize = 1 << 20;
constexpr char kDirSeparator = '/';

std::string Copy(const std::string& s, size_t index1, size_t count) {
  if (index1 < 1 || index1 > s.size()) return {};
  return s.substr(index1 - 1, count);
}

}  // namespace

bool OpenTextRead(TTextFile& f, const std::string& fileName) {
  f.name = fileName;
  f.pos = f.end = 0;
  const std::string found = fs_layer::FindFile(fileName);
  f.file = found.empty() ? nullptr : std::fopen(found.c_str(), "rb");
  if (!f.file) {
    f.buffer.clear();
    f.buffer.shrink_to_fit();
    return false;
  }
  // The read-ahead below is the only buffer the file needs.
  std::setvbuf(f.file, nullptr, _IONBF, 0);
  f.buffer.resize(kTextBufferSize);
  return true;
}

bool ReadTextLine(TTextFile& f, std::string& line) {
  line.clear();
  if (!f.file) return false;
  bool gotAny = false;
  for (;;) {
    if (f.pos == f.end) {
      f.pos = 0;
      f.end = std::fread(f.buffer.data(), 1, f.buffer.size(), f.file);
      if (f.end == 0) break;
    }
    const char* start = f.buffer.data() + f.pos;
    const size_t avail = f.end - f.pos;
    const void* nl = std::memchr(start, '\n', avail);
    gotAny = true;
    if (nl) {
      const size_t n = static_cast<size_t>(static_cast<const char*>(nl) - start);
      line.append(start, n);
      f.pos += n + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    line.append(start, avail);
    f.pos = f.end;
  }
  // The last line of a file may lack its line end.
  if (!gotAny || line.empty()) return false;
  if (line.back() == '\r') line.pop_back();
  return true;
}

void CloseTextRead(TTextFile& f) {
  std::FILE* file = f.file;
  f.file = nullptr;
  f.buffer.clear();
  f.buffer.shrink_to_fit();
  f.pos = f.end = 0;
  if (file && std::fclose(file) != 0) throw EInOutError(std::strerror(errno));
}

std::string IncludeBackslash(const std::string& s) {
  if (!s.empty() && s.back() == kDirSeparator) return s;
  return s + kDirSeparator;
}

void DeleteFilesByMask(const std::string& mask) {
  for (const fs_layer::DirEntry& e : fs_layer::FindByMask(mask)) {
    if (e.isDirectory) continue;
    fs_layer::DeleteFile(e.path);
    PumpMessage();
  }
}

int32_t FileSizeByName(const std::string& name) {
  for (const fs_layer::DirEntry& e : fs_layer::FindByMask(name)) {
    if (e.isDirectory || e.hidden) continue;
    return static_cast<int32_t>(static_cast<uint32_t>(e.size));
  }
  return -1;
}

std::string FixedWidth(const std::string& s, int width) {
  if (width <= 0) return {};
  const auto w = static_cast<size_t>(width);
  if (w < s.size()) return s.substr(0, w);
  return s + std::string(w - s.size(), ' ');
}

std::string CommaToPoint(const std::string& s) { return ReplaceChar(s, ',', '.'); }

std::string RemoveChars(const std::string& s, std::string_view set) {
  bool drop[256] = {};
  for (char c : set) drop[static_cast<unsigned char>(c)] = true;
  std::string out;
  out.reserve(s.size());
  for (char c : s)
    if (!drop[static_cast<unsigned char>(c)]) out += c;
  return out;
}

std::string RemoveQuotes(const std::string& s) { return RemoveChars(s, "'"); }

std::string RemoveDateSeparators(const std::string& s) { return RemoveChars(s, "-./"); }

std::string ReplaceChar(const std::string& s, char from, char to) {
  std::string out = s;
  for (char& c : out)
    if (c == from) c = to;
  return out;
}

std::string NextToken(std::string& s, std::string_view set) {
  const size_t pos = s.find_first_of(set);
  if (pos == std::string::npos) {
    std::string token = std::move(s);
    s.clear();
    return token;
  }
  std::string token = s.substr(0, pos);
  s.erase(0, pos + 1);
  return token;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

std::string UpperCase(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string LowerCase(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string DmyToMdy(const std::string& s) {
  return Copy(s, 4, 2) + "/" + Copy(s, 1, 2) + "/" + Copy(s, 7, 4);
}

std::string DmyToYmd(const std::string& s) {
  return Copy(s, 7, 4) + "/" + Copy(s, 4, 2) + "/" + Copy(s, 1, 2);
}

std::string OracleToDate(const std::string& s) {
  return "to_date('" + s + "','DD/MM/YYYY HH24:MI:SS')";
}

TDateTime UnixToDateTime(int32_t secs) {
  if (secs < 0) throw EConvertError("Invalid argument to time encode");
  const int32_t days = secs / 86400;
  const int32_t rest = secs % 86400;
  return kUnixEpochDay + days + rest / 86400.0;
}

int32_t DateTimeToUnix(TDateTime dt) {
  const double d = dt - kUnixEpochDay;
  if (d <= 0) return 0;
  // Whole seconds of the value rounded to the millisecond, so a time that
  // rounds up to midnight counts as the next day rather than losing one.
  const int64_t ms = std::llround(d * 86400000.0);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(ms / 1000)));
}
