#include "qsmlib/platform/fs.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace fs_layer {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// '*' any run of characters, '?' exactly one; without regard to case.
bool MatchMask(const char* name, const char* mask) {
  const char* starMask = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*mask == '*') {
      starMask = ++mask;
      starName = name;
    } else if (*mask == '?' || (*mask && Lower(*mask) == Lower(*name))) {
      ++mask;
      ++name;
    } else if (starMask) {
      mask = starMask;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*mask == '*') ++mask;
  return *mask == 0;
}

bool StatPath(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st) == 0; }

std::vector<std::string> SortedNames(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// One path component under dir (which ends in '/' or is empty for the current
// directory): the exact name when it exists, otherwise the first name equal
// to it without regard to case.
std::string MatchComponent(const std::string& dir, const std::string& component, bool needDirectory) {
  struct stat st {};
  if (StatPath(dir + component, st) && (!needDirectory || S_ISDIR(st.st_mode))) return component;
  for (const std::string& name : SortedNames(dir)) {
    if (!SameText(name, component)) continue;
    if (StatPath(dir + name, st) && (!needDirectory || S_ISDIR(st.st_mode))) return name;
  }
  return {};
}

std::string IncludeSlash(const std::string& dir) { return dir.back() == '/' ? dir : dir + '/'; }

}  // namespace

std::string ExtractFilePath(const std::string& path) {
  const size_t pos = path.rfind('/');
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string ExtractFileName(const std::string& path) {
  const size_t pos = path.rfind('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string ResolvePath(const std::string& path) {
  if (path.empty()) return path;
  const bool absolute = path[0] == '/';
  const bool trailingSlash = path.back() == '/';
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part.empty() || part == ".") {
      // nothing
    } else if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);  // above the current directory: kept as text
      }
    } else {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '/';
    out += parts[i];
  }
  if (out.empty()) return absolute ? "/" : ".";
  if (trailingSlash && out.back() != '/') out += '/';
  return out;
}

std::string FindFile(const std::string& path) {
  if (path.empty()) return {};
  const std::string resolved = ResolvePath(path);
  struct stat st {};
  if (StatPath(resolved, st)) return resolved;

  std::string found = resolved[0] == '/' ? "/" : "";
  size_t start = found.size();
  while (start < resolved.size()) {
    size_t end = resolved.find('/', start);
    const bool last = end == std::string::npos;
    if (last) end = resolved.size();
    const std::string component = resolved.substr(start, end - start);
    if (!component.empty()) {
      const std::string name =
          (component == "..") ? component : MatchComponent(found, component, !last);
      if (name.empty()) return {};
      found += name;
      if (!last) found += '/';
    }
    start = end + 1;
  }
  return StatPath(found, st) ? found : std::string();
}

bool FileExists(const std::string& path) {
  const std::string found = FindFile(path);
  struct stat st {};
  return !found.empty() && StatPath(found, st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  const std::string found = FindFile(path);
  struct stat st {};
  return !found.empty() && StatPath(found, st) && S_ISDIR(st.st_mode);
}

std::vector<DirEntry> FindByMask(const std::string& mask) {
  std::vector<DirEntry> entries;
  const std::string dirPart = ExtractFilePath(mask);
  std::string pattern = ExtractFileName(mask);
  if (pattern.empty()) return entries;
  if (pattern == "*.*") pattern = "*";

  std::string dir;
  if (!dirPart.empty()) {
    dir = FindFile(dirPart);
    if (dir.empty()) return entries;
    dir = IncludeSlash(dir);
  }
  for (const std::string& name : SortedNames(dir)) {
    if (!MatchMask(name.c_str(), pattern.c_str())) continue;
    struct stat st {};
    const std::string full = dir + name;
    if (!StatPath(full, st)) continue;
    entries.push_back(DirEntry{full, name, S_ISDIR(st.st_mode), name[0] == '.',
                               (st.st_mode & S_IWUSR) == 0, static_cast<int64_t>(st.st_size)});
  }
  return entries;
}

bool DeleteFile(const std::string& path) {
  const std::string found = FindFile(path);
  struct stat st {};
  if (found.empty() || !StatPath(found, st) || S_ISDIR(st.st_mode)) return false;
  // A read-only file is kept: work-file clean-up must not remove protected files.
  if ((st.st_mode & S_IWUSR) == 0) return false;
  return ::unlink(found.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  const std::string source = FindFile(from);
  if (source.empty() || to.empty()) return false;
  std::string target = ResolvePath(to);
  const std::string targetDir = ExtractFilePath(target);
  if (!targetDir.empty()) {
    const std::string foundDir = FindFile(targetDir);
    if (foundDir.empty()) return false;
    target = IncludeSlash(foundDir) + ExtractFileName(target);
  }
  // Never replaces an existing entry; a change of case of the same file is allowed.
  const std::string existing = FindFile(target);
  if (!existing.empty()) {
    struct stat a {}, b {};
    if (!(StatPath(source, a) && StatPath(existing, b) && a.st_dev == b.st_dev && a.st_ino == b.st_ino))
      return false;
  }
  return std::rename(source.c_str(), target.c_str()) == 0;
}

}  // namespace fs_layer
