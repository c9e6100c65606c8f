#include "qsmlib/platform/inifile.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "qsmlib/platform/fs.h"

namespace {

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> ReadLines(const std::string& fileName, bool& exists) {
  std::vector<std::string> lines;
  const std::string found = fs_layer::FindFile(fileName);
  exists = false;
  if (found.empty()) return lines;
  std::ifstream in(found, std::ios::binary);
  if (!in) return lines;
  exists = true;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "[name]" gives name; anything else is not a section line.
bool SectionName(const std::string& line, std::string& name) {
  const std::string t = TrimBlanks(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  name = TrimBlanks(t.substr(1, t.size() - 2));
  return true;
}

bool KeyLine(const std::string& line, const std::string& key, std::string* value) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos || !SameText(TrimBlanks(line.substr(0, eq)), key)) return false;
  if (value) *value = TrimBlanks(line.substr(eq + 1));
  return true;
}

}  // namespace

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
  bool exists = false;
  const std::vector<std::string> lines = ReadLines(fileName_, exists);
  bool inSection = false;
  for (const std::string& line : lines) {
    std::string name;
    if (SectionName(line, name)) {
      inSection = SameText(name, section);
      continue;
    }
    std::string value;
    if (inSection && KeyLine(line, key, &value)) return value;
  }
  return def;
}

bool TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) const {
  bool exists = false;
  std::vector<std::string> lines = ReadLines(fileName_, exists);
  const std::string entry = key + "=" + value;

  bool inSection = false, written = false;
  size_t sectionEnd = std::string::npos;  // where a new key of the section goes
  for (size_t i = 0; i < lines.size() && !written; ++i) {
    std::string name;
    if (SectionName(lines[i], name)) {
      if (inSection) break;
      inSection = SameText(name, section);
      if (inSection) sectionEnd = i + 1;
      continue;
    }
    if (!inSection) continue;
    if (KeyLine(lines[i], key, nullptr)) {
      lines[i] = entry;
      written = true;
    } else if (!TrimBlanks(lines[i]).empty()) {
      sectionEnd = i + 1;
    }
  }
  if (!written) {
    if (sectionEnd != std::string::npos) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(sectionEnd), entry);
    } else {
      if (!lines.empty() && !TrimBlanks(lines.back()).empty()) lines.push_back("");
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    }
  }

  const std::string found = fs_layer::FindFile(fileName_);
  const std::string target = found.empty() ? fs_layer::ResolvePath(fileName_) : found;
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (const std::string& line : lines) out << line << "\r\n";
  out.flush();
  return static_cast<bool>(out);
}
