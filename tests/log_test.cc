// The check-summed log: line layout, thresholds, open/closed states, rotation.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "qsmlib/cp1252.h"
#include "qsmlib/crc32.h"
#include "qsmlib/log.h"
#include "qsmlib/platform/datetime.h"
#include "support/testutil.h"

using testutil::ReadFileBytes;
using testutil::ReadLines;
using testutil::TempDir;

namespace {

constexpr int32_t kAll = loDate | loTime | loMilliseconds | loLevel;

// The text after " : " of each line.
std::vector<std::string> Texts(const std::string& path) {
  std::vector<std::string> out;
  for (const std::string& l : ReadLines(path)) {
    const size_t p = l.find(" : ");
    out.push_back(p == std::string::npos ? "<" + l + ">" : l.substr(p + 3));
  }
  return out;
}

using Texts_t = std::vector<std::string>;

}  // namespace

TEST(Checksum, LineChecksumAndStandardCrc) {
  EXPECT_EQ(LineChecksum("abc"), 0x971DB2A6u);
  EXPECT_EQ(LineChecksum(""), 0x0096A5C5u);
  EXPECT_EQ(kCrc32Table[1], 0x77073096u);
  EXPECT_EQ(kCrc32Table[255], 0x2D02EF8Du);
  EXPECT_EQ(Crc32Buffer(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32Buffer(Crc32Buffer(0, "1234", 4), "56789", 5), 0xCBF43926u);
  EXPECT_EQ(Crc32Buffer(0, "", 0), 0u);
  EXPECT_EQ(Crc32Buffer(0x1234, nullptr, 5), 0u);
}

TEST(LogLine, LayoutChecksumAndBytes) {
  TempDir t;
  TTrvLog log(t / "debug_veruvav.txt", 10, kAll);
  const TDateTime before = Now();
  log.Start();
  log.Write(1, "Ação cadastrada no QSMS é inválida."_cp);
  log.Write(10, "");
  log.Write(123, "too high");
  log.Finish();
  const TDateTime after = Now();

  const std::string bytes = ReadFileBytes(t / "debug_veruvav.txt");
  const std::vector<std::string> lines = ReadLines(t / "debug_veruvav.txt");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 4);
  EXPECT_EQ(bytes.find("\n\r"), std::string::npos);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

  const std::regex shape("([0-9A-F]{8}) (\\d{2})(\\d{2})(\\d{4}) (\\d{2})(\\d{2})(\\d{2})\\.(\\d{3}) (\\d{2,}) : (.*)");
  const char* levels[] = {"01", "01", "10", "01"};
  const std::string texts[] = {"< < < INICIANDO > > >", "Ação cadastrada no QSMS é inválida."_cp, "",
                               "< < < FINALIZANDO > > >"};
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
    char sum[9];
    std::snprintf(sum, sizeof sum, "%08X", LineChecksum(lines[i].substr(9)));
    EXPECT_EQ(m[1].str(), sum);
    EXPECT_EQ(m[9].str(), levels[i]);
    EXPECT_EQ(m[10].str(), texts[i]);
    const TDateTime stamp =
        EncodeDateTime(std::stoi(m[4]), std::stoi(m[3]), std::stoi(m[2]), std::stoi(m[5]),
                       std::stoi(m[6]), std::stoi(m[7]), std::stoi(m[8]));
    EXPECT_GE(stamp, before - 1e-8);
    EXPECT_LE(stamp, after + 1e-8);
  }
}

TEST(LogLine, PrefixOptions) {
  struct Case {
    int32_t options;
    const char* shape;
  } cases[] = {
      {0, " : x"},
      {loDate, "\\d{8} : x"},
      {loTime, " \\d{6} : x"},
      {loMilliseconds, " : x"},
      {loTime | loMilliseconds, " \\d{6}\\.\\d{3} : x"},
      {loLevel, " 07 : x"},
      {loDate | loLevel, "\\d{8} 07 : x"},
  };
  for (const Case& c : cases) {
    TempDir t;
    TTrvLog log(t / "l.txt", 10, c.options);
    log.Start();
    log.Write(7, "x");
    const std::vector<std::string> lines = ReadLines(t / "l.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("[0-9A-F]{8} " + std::string(c.shape))))
        << c.options << ": " << lines[1];
  }
}

TEST(LogState, ThresholdAndOpenState) {
  TempDir t;
  const std::string name = t / "debug_veruvav.txt";
  {
    TTrvLog silent(name, 0, kAll);
    silent.Start();
    silent.Write(1, "x");
    silent.Rotate(30);  // rotates the empty file, still writes nothing
    silent.Finish();
    EXPECT_TRUE(testutil::FileIsThere(name));
    EXPECT_EQ(ReadFileBytes(name), "");
    EXPECT_EQ(ReadFileBytes(t / "debug_veruvav.001"), "");
  }
  TTrvLog log(name, 5, kAll);
  log.Write(1, "before start");
  log.Finish();
  EXPECT_EQ(ReadFileBytes(name), "");
  log.Start();
  log.Write(5, "equal");
  log.Write(6, "above");
  log.Finish();
  log.Write(1, "after finish");
  log.Finish();
  log.Flush();
  EXPECT_EQ(Texts(name), (Texts_t{"< < < INICIANDO > > >", "equal", "< < < FINALIZANDO > > >"}));

  // Appends to what is there.
  log.Start();
  EXPECT_EQ(Texts(name).size(), 4u);
}

TEST(LogState, OpensWhereTheResolvedPathPointsAndFailsSilently) {
  TempDir t;
  TTrvLog log(t / "out/../debug_veruvav.txt", 10, kAll);
  log.Start();
  EXPECT_TRUE(log.IsOpen());
  log.Write(1, "x");
  EXPECT_EQ(Texts(t / "debug_veruvav.txt"), (Texts_t{"< < < INICIANDO > > >", "x"}));

  TTrvLog nowhere(t / "a/b/debug_veruvav.txt", 10, kAll);
  nowhere.Start();
  EXPECT_FALSE(nowhere.IsOpen());
  nowhere.Write(1, "x");
  nowhere.Rotate(30);
  nowhere.Finish();
  EXPECT_FALSE(testutil::FileIsThere(t / "a"));

  TTrvLog unnamed("", 10, kAll);
  unnamed.Start();
  EXPECT_FALSE(unnamed.IsOpen());
}

TEST(LogRotation, ShiftsGenerationsAndKeepsGaps) {
  TempDir t;
  const std::string name = t / "debug_veruvav.txt";
  testutil::WriteFileBytes(t / "debug_veruvav.001", "one");
  testutil::WriteFileBytes(t / "debug_veruvav.003", "three");
  TTrvLog log(name, 10, kAll);
  log.Start();
  log.Write(1, "old");
  log.Rotate(30);
  log.Write(1, "new");

  EXPECT_EQ(Texts(t / "debug_veruvav.001"),
            (Texts_t{"< < < INICIANDO > > >", "old", "< < < ROTACIONADO > > >",
                     "< < < FINALIZANDO > > >"}));
  EXPECT_EQ(ReadFileBytes(t / "debug_veruvav.002"), "one");
  EXPECT_FALSE(testutil::FileIsThere(t / "debug_veruvav.003"));
  EXPECT_EQ(ReadFileBytes(t / "debug_veruvav.004"), "three");
  EXPECT_EQ(Texts(name), (Texts_t{"< < < INICIANDO > > >", "new"}));

  // A second rotation pushes both down one place.
  log.Rotate(30);
  EXPECT_EQ(Texts(t / "debug_veruvav.002")[1], "old");
  EXPECT_EQ(Texts(t / "debug_veruvav.001")[1], "new");
  EXPECT_EQ(ReadFileBytes(t / "debug_veruvav.003"), "one");
  EXPECT_EQ(ReadFileBytes(t / "debug_veruvav.005"), "three");
}

TEST(LogRotation, OldestGenerationGoesAndClosedLogStaysClosed) {
  TempDir t;
  const std::string name = t / "debug_veruvav.txt";
  for (int n : {29, 30}) {
    char gen[32];
    std::snprintf(gen, sizeof gen, "debug_veruvav.%03d", n);
    testutil::WriteFileBytes(t / gen, std::to_string(n));
  }
  testutil::WriteFileBytes(name, "current");
  TTrvLog log(name, 10, kAll);
  log.Rotate(30);
  EXPECT_FALSE(log.IsOpen());
  EXPECT_FALSE(testutil::FileIsThere(name));
  EXPECT_EQ(ReadFileBytes(t / "debug_veruvav.001"), "current");
  EXPECT_EQ(ReadFileBytes(t / "debug_veruvav.030"), "29");
  EXPECT_FALSE(testutil::FileIsThere(t / "debug_veruvav.031"));
  EXPECT_FALSE(testutil::FileIsThere(t / "debug_veruvav.029"));

  // Nothing to rotate: nothing renamed, and an open log stays open.
  TTrvLog missing(t / "other.txt", 10, kAll);
  missing.Rotate(30);
  EXPECT_EQ(ReadFileBytes(t / "debug_veruvav.001"), "current");
}

TEST(LogRotation, GenerationNamesCutAtTheFirstExtension) {
  struct Case {
    const char* file;
    const char* generation;
  } cases[] = {{"noext", ".001"}, {"a.txtb.txt", "a.001"}, {"x.log", "x.001"}};
  for (const Case& c : cases) {
    TempDir t;
    testutil::WriteFileBytes(t / c.file, "old\r\n");
    TTrvLog log(t / c.file, 10, kAll);
    log.Start();
    log.Rotate(30);
    EXPECT_EQ(Texts(t / c.generation).size(), 4u) << c.file;
    EXPECT_EQ(Texts(t / c.file), (Texts_t{"< < < INICIANDO > > >"})) << c.file;
  }
}
