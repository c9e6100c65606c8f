// Entry points of the libFuzzer targets, shared with the test that replays
// the inputs kept under tests/fuzz/regressions. Each takes arbitrary bytes as
// a file that came over the air and must end without a crash, whatever the
// bytes say; the table layer's errors are the expected way to refuse them.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "qsmlib/compress.h"
#include "qsmlib/fex.h"
#include "qsmlib/package.h"

namespace fuzz_targets {

// One scratch directory per process, removed when the process ends.
inline const std::string& WorkDir() {
  struct Scratch {
    std::string path;
    Scratch() {
      const char* base = std::getenv("TMPDIR");
      path = std::string(base && *base ? base : "/tmp") + "/veruvav-fuzz-XXXXXX";
      if (!mkdtemp(path.data())) std::abort();
    }
    ~Scratch() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  };
  static const Scratch scratch;
  return scratch.path;
}

inline void Clear(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir, ec);
}

inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

// The bytes as a FEX table: open, read every record and every field as each
// type, and write the table as a package section.
inline int FexRead(const uint8_t* data, size_t size) {
  // The same two files are overwritten by every input.
  static const std::string dir = [] {
    const std::string d = WorkDir() + "/fex/";
    Clear(d);
    return d;
  }();
  const std::string table = dir + "IN.FEX";
  WriteBytes(table, data, size);
  try {
    IsFexFile(table);
    TFEX t;
    if (FexOpen(t, table)) {
      const int32_t fields = FexFieldCount(t);
      const int32_t records = FexRecordCount(t);
      for (int32_t n = 1; n <= records; ++n) {
        try {
          FexRead(t, n);
        } catch (const EInOutError&) {
          break;  // the count promised more than the file holds
        }
        for (int i = 0; i < fields; ++i) {
          const std::string name = FexField(t, i).name;
          try { FexGetString(t, name); } catch (const Exception&) {}
          try { FexGetInteger(t, name); } catch (const Exception&) {}
          try { FexGetFloat(t, name); } catch (const Exception&) {}
          try { FexGetDate(t, name); } catch (const Exception&) {}
        }
      }
      FexClose(t);
      PackageWriter w;
      if (BeginPackageText(w, dir + "OUT.$$$")) {
        WriteTableSection(w, table, nullptr, false);
        EndPackageText(w);
      }
    }
  } catch (const Exception&) {
  }
  return 0;
}

// The first byte chooses what the rest is: a package file as it arrives
// (even), or package text that is first put into a sound container (odd), so
// that the text reader is reached past the container's checks.
inline int PackageSplit(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string dir = WorkDir() + "/pkg/";
  Clear(dir);
  const std::string package = dir + "IN.zfx";
  std::error_code ec;
  std::filesystem::create_directories(dir + "out", ec);
  try {
    if (data[0] & 1) {
      WriteBytes(dir + "IN.txt", data + 1, size - 1);
      if (!CompressFile(dir + "IN.txt", package, 1)) return 0;
    } else {
      WriteBytes(package, data + 1, size - 1);
    }
    SplitPackage(package, dir + "out/", false);
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace fuzz_targets
