// Profile files in the usual layout: "[Section]" lines, then "Key=Value"
// lines. Sections and keys match without regard to case.
#pragma once

#include <string>

class TIniFile {
 public:
  explicit TIniFile(std::string fileName) : fileName_(std::move(fileName)) {}
  // The value, or def when the file, the section or the key is absent.
  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& def) const;
  // Writes the value, creating the file and the section when absent. False
  // when the file cannot be written.
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) const;

 private:
  std::string fileName_;
};
