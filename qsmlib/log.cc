#include "qsmlib/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "qsmlib/crc32.h"
#include "qsmlib/platform/datetime.h"
#include "qsmlib/platform/fs.h"

namespace {

constexpr uint32_t kLineChecksumSeed = 0x0096A5C5u;
constexpr const char* kStartMarker = "< < < INICIANDO > > >";
constexpr const char* kFinishMarker = "< < < FINALIZANDO > > >";
constexpr const char* kRotateMarker = "< < < ROTACIONADO > > >";

// Cut of the file name before the first occurrence of its extension; a name
// without an extension gives an empty cut, so its generations are ".001" etc.
std::string GenerationBase(const std::string& fileName) {
  const std::string dir = fs_layer::ExtractFilePath(fileName);
  const std::string name = fs_layer::ExtractFileName(fileName);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return dir;
  const size_t cut = name.find(name.substr(dot));
  return dir + name.substr(0, cut);
}

std::string GenerationName(const std::string& base, int n) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%03d", n);
  return base + suffix;
}

}  // namespace

uint32_t LineChecksum(const std::string& text) {
  uint32_t reg = kLineChecksumSeed;
  for (char c : text) reg = Crc32Update(static_cast<uint8_t>(c), reg);
  return reg;
}

TTrvLog::TTrvLog(std::string fileName, int32_t level, int32_t options)
    : fileName_(std::move(fileName)), options_(options), level_(level) {}

TTrvLog::~TTrvLog() {
  // The file stays as it is; only the descriptor is given back.
  if (handle_ >= 0) ::close(handle_);
}

void TTrvLog::Start() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
  if (fileName_.empty()) return;
  const std::string existing = fs_layer::FindFile(fileName_);
  const std::string path = existing.empty() ? fs_layer::ResolvePath(fileName_) : existing;
  // O_APPEND: every line lands at the end even if another run shares the file.
  handle_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (handle_ < 0) return;
  Write(1, kStartMarker);
}

void TTrvLog::Finish() {
  if (handle_ < 0) return;
  Write(1, kFinishMarker);
  Flush();
  ::close(handle_);
  handle_ = -1;
}

void TTrvLog::Flush() {
  if (handle_ >= 0) ::fsync(handle_);
}

void TTrvLog::Write(int32_t level, const std::string& text) {
  if (handle_ < 0 || level > level_) return;

  const DateTimeParts now = DecodeDateTime(::Now());
  char prefix[96];
  size_t n = 0;
  auto add = [&](const char* fmt, auto... args) {
    const int r = std::snprintf(prefix + n, sizeof prefix - n, fmt, args...);
    if (r > 0) n = std::min(sizeof prefix - 1, n + static_cast<size_t>(r));
  };
  if (options_ & loDate) add("%2.2d%2.2d%4.4d", now.day, now.month, now.year);
  if (options_ & loTime) {
    if (options_ & loMilliseconds) {
      add(" %2.2d%2.2d%2.2d.%3.3d", now.hour, now.minute, now.second, now.millisecond);
    } else {
      add(" %2.2d%2.2d%2.2d", now.hour, now.minute, now.second);
    }
  }
  if (options_ & loLevel) add(" %2.2d", static_cast<int>(level));

  std::string body(prefix, n);
  body += " : ";
  body += text;

  char sum[16];
  std::snprintf(sum, sizeof sum, "%08X ", LineChecksum(body));
  std::string line;
  line.reserve(body.size() + 11);
  line += sum;
  line += body;
  line += "\r\n";
  // One call per line; a short or failed write is not the log's concern.
  [[maybe_unused]] const ssize_t written = ::write(handle_, line.data(), line.size());
}

void TTrvLog::Rotate(int count) {
  if (!fs_layer::FileExists(fileName_)) return;
  const bool wasOpen = handle_ >= 0;
  if (wasOpen) {
    Write(1, kRotateMarker);
    Finish();
  }
  const std::string base = GenerationBase(fileName_);
  const std::string oldest = GenerationName(base, count);
  if (fs_layer::FileExists(oldest)) fs_layer::DeleteFile(oldest);
  for (int n = count; n >= 1; --n) {
    const std::string older = GenerationName(base, n - 1);
    if (fs_layer::FileExists(older)) fs_layer::RenameFile(older, GenerationName(base, n));
  }
  if (fs_layer::FileExists(fileName_)) fs_layer::RenameFile(fileName_, GenerationName(base, 1));
  if (wasOpen) Start();
}
