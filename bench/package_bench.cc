// Building and splitting a large package against raw zlib on the same text.
//
//   package_bench [MB]      (default 200 MB of package text)
//
// Build and split each run in a fresh process (this program re-executed), so
// that each peak resident size is its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "qsmlib/fex.h"
#include "qsmlib/package.h"
#include "qsmlib/platform/datetime.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// User plus system time of this process: on a machine shared with other work
// the wall clock says more about the neighbours than about the code.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Timing {
  double wall = 0;
  double cpu = 0;
  long peakKb = 0;
  int status = 0;
};

const char* const kWords[] = {"SUPERMERCADO", "PADARIA", "SAO JOSE", "LTDA", "COMERCIO",
                              "DISTRIBUIDORA", "RUA", "AVENIDA", "CENTRO", "JARDIM",
                              "ALIMENTOS", "BEBIDAS", "DO", "DA", "NORTE", "SUL"};

std::string Words(std::mt19937& rng, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kWords[rng() % (sizeof kWords / sizeof *kWords)];
  }
  return s;
}

// Four tables in the proportions of a busy descarga: order headers, many
// items, customers with long text, and payments. Returns the record count.
long MakeTables(const std::string& dir, size_t targetBytes) {
  std::mt19937 rng(12345);
  struct TableLayout {
    const char* file;
    const char* name;
    const char* id;
    int share;  // of every 10 records
  } layouts[] = {{"TMVSCAB.FEX", "TMVSCAB", "CB", 2},
               {"TMVSITE.FEX", "TMVSITE", "IT", 5},
               {"TMVOCLI.FEX", "TMVOCLI", "CL", 2},
               {"TMVSFINANC.FEX", "TMVSFINANC", "FN", 1}};
  TFEX t[4];
  for (int i = 0; i < 4; ++i) {
    FexCreate(t[i], dir + "/" + layouts[i].file, layouts[i].name, layouts[i].id);
    FexAddField(t[i], "CDPED", fxChar, 20, 0, 0);
    FexAddField(t[i], "NUSEQ", fxInteger, 10, 0, 0);
    FexAddField(t[i], "DTCRIA", fxTime, 10, 0, 0);
    FexAddField(t[i], "VLTOT", fxFloat, 15, 4, 0);
    FexAddField(t[i], "QTD", fxFloat, 12, 3, 0);
    FexAddField(t[i], "ST", fxByte, 1, 0, 0);
  }
  FexAddField(t[0], "OBS", fxChar, 240, 0, 0);
  FexAddField(t[0], "CDCLI", fxChar, 14, 0, 0);
  FexAddField(t[1], "CDPRD", fxChar, 20, 0, 0);
  FexAddField(t[1], "DSPRD", fxChar, 60, 0, 0);
  FexAddField(t[2], "NMCLI", fxChar, 120, 0, 0);
  FexAddField(t[2], "ENDER", fxChar, 300, 0, 0);
  FexAddField(t[2], "OBS", fxChar, 500, 0, 0);
  FexAddField(t[3], "DSPGTO", fxChar, 80, 0, 0);
  size_t bytes = 0;
  long records = 0;
  const TDateTime base = EncodeDateTime(2025, 1, 1);
  while (bytes < targetBytes) {
    for (int i = 0; i < 4; ++i) {
      for (int k = 0; k < layouts[i].share; ++k) {
        TFEX& f = t[i];
        const int32_t n = FexAppend(f);
        FexSetString(f, "CDPED", "P" + std::to_string(100000 + records / 3));
        FexSetInteger(f, "NUSEQ", int32_t(records));
        FexSetDate(f, "DTCRIA", base + double(rng() % 3000000) / 86400.0);
        FexSetFloat(f, "VLTOT", (rng() % 10000000) / 100.0L);
        FexSetFloat(f, "QTD", (rng() % 100000) / 1000.0L);
        FexSetString(f, "ST", (rng() % 7 == 0) ? "\n" : "A");  // some bytes need escapes
        switch (i) {
          case 0:
            FexSetString(f, "OBS", Words(rng, rng() % 20));
            FexSetString(f, "CDCLI", std::to_string(rng() % 90000));
            break;
          case 1:
            FexSetString(f, "CDPRD", "PRD" + std::to_string(rng() % 5000));
            FexSetString(f, "DSPRD", Words(rng, 3 + rng() % 4));
            break;
          case 2:
            FexSetString(f, "NMCLI", Words(rng, 2 + rng() % 5));
            FexSetString(f, "ENDER", Words(rng, 4 + rng() % 10) + "\\" + std::to_string(rng() % 2000));
            FexSetString(f, "OBS", Words(rng, rng() % 40));
            break;
          default:
            FexSetString(f, "DSPGTO", Words(rng, 1 + rng() % 5));
            break;
        }
        FexPost(f, n);
        bytes += size_t(FexRecordSize(f)) + 5;
        ++records;
      }
    }
  }
  for (TFEX& f : t) FexClose(f);
  return records;
}

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto n = std::filesystem::file_size(path, ec);
  return ec ? -1 : int64_t(n);
}

bool SameBytes(const std::string& a, const std::string& b) {
  std::FILE* fa = std::fopen(a.c_str(), "rb");
  std::FILE* fb = std::fopen(b.c_str(), "rb");
  bool same = fa && fb;
  std::vector<char> ba(1 << 16), bb(1 << 16);
  while (same) {
    const size_t na = std::fread(ba.data(), 1, ba.size(), fa);
    const size_t nb = std::fread(bb.data(), 1, bb.size(), fb);
    same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
    if (na == 0) break;
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return same;
}

// Raw zlib over the same text, file to file with generous buffers: the
// yardstick the package operations are measured against.
Timing RawDeflate(const std::string& in, const std::string& out) {
  const auto start = Clock::now();
  const double cpu = CpuSeconds();
  std::FILE* fi = std::fopen(in.c_str(), "rb");
  std::FILE* fo = std::fopen(out.c_str(), "wb");
  z_stream zs{};
  deflateInit(&zs, 6);
  std::vector<unsigned char> ib(1 << 18), ob(1 << 18);
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    const size_t got = std::fread(ib.data(), 1, ib.size(), fi);
    flush = got < ib.size() ? Z_FINISH : Z_NO_FLUSH;
    zs.next_in = ib.data();
    zs.avail_in = uInt(got);
    do {
      zs.next_out = ob.data();
      zs.avail_out = uInt(ob.size());
      deflate(&zs, flush);
      std::fwrite(ob.data(), 1, ob.size() - zs.avail_out, fo);
    } while (zs.avail_out == 0);
  }
  deflateEnd(&zs);
  std::fclose(fi);
  std::fclose(fo);
  return Timing{Seconds(start), CpuSeconds() - cpu, 0, 0};
}

Timing RawInflate(const std::string& in, const std::string& out) {
  const auto start = Clock::now();
  const double cpu = CpuSeconds();
  std::FILE* fi = std::fopen(in.c_str(), "rb");
  std::FILE* fo = std::fopen(out.c_str(), "wb");
  z_stream zs{};
  inflateInit(&zs);
  std::vector<unsigned char> ib(1 << 16), ob(1 << 17);
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (zs.avail_in == 0) {
      const size_t got = std::fread(ib.data(), 1, ib.size(), fi);
      if (got == 0) break;
      zs.next_in = ib.data();
      zs.avail_in = uInt(got);
    }
    zs.next_out = ob.data();
    zs.avail_out = uInt(ob.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    std::fwrite(ob.data(), 1, ob.size() - zs.avail_out, fo);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) break;
  }
  inflateEnd(&zs);
  std::fclose(fi);
  std::fclose(fo);
  return Timing{Seconds(start), CpuSeconds() - cpu, 0, 0};
}

Timing RunChild(const std::vector<std::string>& args) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    std::string self = "/proc/self/exe";
    argv.push_back(self.data());
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  Timing r;
  struct rusage ru {};
  int status = 0;
  wait4(pid, &status, 0, &ru);
  r.wall = Seconds(start);
  r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  r.peakKb = ru.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

int ChildMain(int argc, char** argv) {
  const std::string what = argv[2];
  try {
    if (what == "build" && argc == 4) return BuildPackage(std::string(argv[3]) + "/*.FEX", "bench", false, false) ? 0 : 1;
    if (what == "split" && argc == 5) return SplitPackage(argv[3], std::string(argv[4]) + "/", false) ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) return ChildMain(argc, argv);
  const size_t megabytes = argc > 1 ? size_t(std::atol(argv[1])) : 200;
  const std::string root = (std::filesystem::temp_directory_path() / "veruvav-package-bench").string();
  std::filesystem::remove_all(root);
  const std::string src = root + "/src", out = root + "/out", raw = root + "/raw";
  for (const std::string& d : {src, out, raw}) std::filesystem::create_directories(d);

  auto start = Clock::now();
  const long records = MakeTables(src, megabytes << 20);
  std::printf("tables: %ld records in 4 tables, made in %.1f s\n", records, Seconds(start));

  // The very text a build compresses, for the raw yardsticks.
  const double textCpu = CpuSeconds();
  PackageWriter w;
  BeginPackageText(w, raw + "/text");
  for (const char* f : {"TMVOCLI.FEX", "TMVSCAB.FEX", "TMVSFINANC.FEX", "TMVSITE.FEX"})
    WriteTableSection(w, src + "/" + f, nullptr, false);
  EndPackageText(w);
  const double textMb = double(FileSize(raw + "/text")) / (1 << 20);
  std::printf("package text alone (part of build): %.2f s cpu\n", CpuSeconds() - textCpu);

  // Best of a few runs each: the machine is shared, and the least disturbed
  // run is the one that says what the code costs.
  const int runs = std::getenv("PACKAGE_BENCH_RUNS") ? std::atoi(std::getenv("PACKAGE_BENCH_RUNS")) : 3;
  auto best = [](Timing a, const Timing& b) {
    a.wall = std::min(a.wall, b.wall);
    a.cpu = std::min(a.cpu, b.cpu);
    a.peakKb = std::max(a.peakKb, b.peakKb);
    a.status = std::max(a.status, b.status);
    return a;
  };
  const std::string package = src + "/bench.zfx";
  Timing deflate, inflate, build, split;
  for (int i = 0; i < runs; ++i) {
    const Timing d = RawDeflate(raw + "/text", raw + "/text.z");
    const Timing f = RawInflate(raw + "/text.z", raw + "/text.back");
    const Timing b = RunChild({"--child", "build", src});
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    const Timing s = RunChild({"--child", "split", package, out});
    deflate = i ? best(deflate, d) : d;
    inflate = i ? best(inflate, f) : f;
    build = i ? best(build, b) : b;
    split = i ? best(split, s) : s;
  }
  if (build.status != 0 || split.status != 0) {
    std::printf("FAILED: build exit %d, split exit %d\n", build.status, split.status);
    return 1;
  }
  bool same = true;
  for (const char* f : {"TMVOCLI.FEX", "TMVSCAB.FEX", "TMVSFINANC.FEX", "TMVSITE.FEX"})
    same = same && SameBytes(out + "/" + f, src + "/" + f);

  std::printf("package text: %.1f MB, package %.1f MB; best of %d runs\n", textMb,
              double(FileSize(package)) / (1 << 20), runs);
  std::printf("%-14s %10s %10s %10s\n", "", "wall MB/s", "cpu MB/s", "peak MB");
  auto row = [&](const char* name, const Timing& t) {
    std::printf("%-14s %10.1f %10.1f", name, textMb / t.wall, textMb / t.cpu);
    if (t.peakKb) std::printf(" %10.1f", t.peakKb / 1024.0);
    std::printf("\n");
  };
  row("raw deflate 6", deflate);
  row("build", build);
  row("raw inflate", inflate);
  row("split", split);
  std::printf("ratio build/raw deflate: wall %.2f, cpu %.2f (target >= 0.85)\n",
              deflate.wall / build.wall, deflate.cpu / build.cpu);
  std::printf("ratio split/raw inflate: wall %.2f, cpu %.2f (target >= 0.50)\n",
              inflate.wall / split.wall, inflate.cpu / split.cpu);
  std::printf("peak memory: build %.1f MB, split %.1f MB (target < 32 MB each)\n",
              build.peakKb / 1024.0, split.peakKb / 1024.0);
  std::printf("split tables identical to the sources: %s\n", same ? "yes" : "NO");
  if (!std::getenv("PACKAGE_BENCH_KEEP")) std::filesystem::remove_all(root);
  return 0;
}
