#include "support/testutil.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace testutil {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/veruvav-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Restore write permission first so read-only fixtures can go too.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool FileIsThere(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void MakeDirs(const std::string& path) { std::filesystem::create_directories(path); }

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir,
                     const std::vector<std::pair<std::string, std::string>>& env,
                     int timeoutSeconds) {
  // Everything the child needs is built before fork.
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [k, v] : env)
      if (entry.compare(0, k.size() + 1, k + "=") == 0) replaced = true;
    if (!replaced) envStore.push_back(entry);
  }
  for (const auto& [k, v] : env) envStore.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  int pipeFd[2];
  if (::pipe(pipeFd) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::close(pipeFd[0]);
    ::dup2(pipeFd[1], 1);
    ::dup2(pipeFd[1], 2);
    ::close(pipeFd[1]);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, 0);
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) ::_exit(126);
    ::alarm(static_cast<unsigned>(timeoutSeconds));
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipeFd[1]);
  RunResult result;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(pipeFd[0], buf, sizeof buf);
    if (n > 0) {
      result.output.append(buf, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeFd[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  else if (WIFSIGNALED(status)) result.exitCode = 128 + WTERMSIG(status);
  return result;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFileBytes(path));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace testutil
