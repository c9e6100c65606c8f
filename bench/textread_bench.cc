// Line reading speed: a generated package-sized text file read line by line
// through OpenTextRead/ReadTextLine, against a plain read of the same bytes
// in large blocks (the floor the disk and page cache allow). Prints MB/s for
// both and their ratio.
//
//   textread_bench [megabytes]     (default: 200)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "qsmlib/helpers.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::atol(argv[1]) : 200;
  char name[] = "/tmp/veruvav-textread-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return 1;
  ::close(fd);

  // Lines of 20 KB to 60 KB with every byte value except LF, as wide FEX
  // records have.
  {
    std::FILE* out = std::fopen(name, "wb");
    std::string line;
    long written = 0, n = 0;
    while (written < megabytes * 1000000L) {
      line.assign(static_cast<size_t>(20000 + (n * 7919) % 40000), 'x');
      for (size_t i = 0; i < line.size(); i += 97) line[i] = static_cast<char>((i + n) % 256 == '\n' ? ' ' : (i + n) % 256);
      line += "\r\n";
      std::fwrite(line.data(), 1, line.size(), out);
      written += static_cast<long>(line.size());
      ++n;
    }
    std::fclose(out);
  }

  // Warm the page cache so both runs read from memory.
  std::vector<char> block(1 << 20);
  size_t total = 0;
  for (int pass = 0; pass < 2; ++pass) {
    std::FILE* in = std::fopen(name, "rb");
    total = 0;
    auto start = std::chrono::steady_clock::now();
    for (size_t got; (got = std::fread(block.data(), 1, block.size(), in)) > 0;) total += got;
    std::fclose(in);
    if (pass == 1) {
      const double raw = Seconds(start);
      TTextFile f;
      OpenTextRead(f, name);
      std::string line;
      size_t lines = 0, bytes = 0;
      start = std::chrono::steady_clock::now();
      while (ReadTextLine(f, line)) {
        ++lines;
        bytes += line.size() + 2;
      }
      const double lineRead = Seconds(start);
      CloseTextRead(f);
      const double mb = static_cast<double>(total) / 1e6;
      std::printf("file: %.1f MB, %zu lines (%zu bytes seen)\n", mb, lines, bytes);
      std::printf("block read:  %8.1f MB/s\n", mb / raw);
      std::printf("ReadTextLine: %8.1f MB/s\n", mb / lineRead);
      std::printf("ratio ReadTextLine/block read time: %.2f\n", lineRead / raw);
    }
  }
  std::remove(name);
  return 0;
}
