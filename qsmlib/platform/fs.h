// File-system layer. Names match without regard to case, as on the system
// the program was made for: a mask "*.FEX" finds "tmvscab.fex", and a look-up
// of "dir/tmvscab.fex" finds "dir/TMVSCAB.FEX". Directories are separated by
// "/"; ".." in a path is resolved by its text (ResolvePath), so a path through
// a directory that does not exist still names a place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fs_layer {

// Directory part of a path, up to and including its last '/', empty when none.
std::string ExtractFilePath(const std::string& path);
// File-name part (after the last '/').
std::string ExtractFileName(const std::string& path);
// ".." and "." resolved by text: "a/b/../c" gives "a/c".
std::string ResolvePath(const std::string& path);

// The existing file that the path names, matched without regard to case in
// each component; empty when there is none. An exact match wins.
std::string FindFile(const std::string& path);
bool FileExists(const std::string& path);       // a regular file (case-insensitive)
bool DirectoryExists(const std::string& path);

struct DirEntry {
  std::string path;  // full path as found on disk
  std::string name;  // file name as found on disk
  bool isDirectory;
  bool hidden;       // name starts with '.'
  bool readOnly;     // no write permission for the owner
  int64_t size;
};
// Entries of the mask's directory whose names match the mask's file part
// ('*' and '?', without regard to case), sorted by name. A mask without a
// directory part searches the current directory.
std::vector<DirEntry> FindByMask(const std::string& mask);

bool DeleteFile(const std::string& path);                    // case-insensitive look-up
bool RenameFile(const std::string& from, const std::string& to);

}  // namespace fs_layer
