// The run's one log: a text file of check-summed lines, rotated daily.
#pragma once

#include <cstdint>
#include <string>

enum TLogOption : int32_t {
  loDate = 1,
  loTime = 2,
  loMilliseconds = 4,
  loLevel = 8,
};

class TTrvLog {
 public:
  TTrvLog(std::string fileName, int32_t level, int32_t options);
  TTrvLog(const TTrvLog&) = delete;
  TTrvLog& operator=(const TTrvLog&) = delete;
  ~TTrvLog();  // does not write the closing marker: call Finish first

  void Start();
  void Finish();
  void Flush();
  void Write(int32_t level, const std::string& text);
  void Rotate(int count);

  bool IsOpen() const { return handle_ >= 0; }
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  int handle_ = -1;
  int32_t options_;
  int32_t level_;
};

// Checksum of one log line body: the CRC-32 table walk from 0x0096A5C5,
// without the final complement.
uint32_t LineChecksum(const std::string& text);
