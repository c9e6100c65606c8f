// Test helpers: temporary directories, files as bytes, and running a built
// binary as a separate process.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testutil {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + relative
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);  // empty when missing
bool FileIsThere(const std::string& path);           // exact name, no case folding
void WriteFileBytes(const std::string& path, const std::string& bytes);
void MakeDirs(const std::string& path);

struct RunResult {
  int exitCode = -1;   // the process's exit code; 128 + signal when killed
  std::string output;  // stdout and stderr together
};
// Runs program with args (argv[0] is the program itself), in workDir when not
// empty, with env added to (or replacing entries of) the current environment.
// The child is killed after timeoutSeconds.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir = {},
                     const std::vector<std::pair<std::string, std::string>>& env = {},
                     int timeoutSeconds = 300);

// The message of the E that f raises, or "(nothing raised)".
template <class E>
std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(nothing raised)";
}

// The log lines of a file (CR LF ends), without their line ends.
std::vector<std::string> ReadLines(const std::string& path);

}  // namespace testutil
