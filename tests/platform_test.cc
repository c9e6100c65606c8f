// Platform layer: date-time conversions, number texts, integer parsing,
// case-insensitive file look-up, masks, profile files and the code page.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>

#include "qsmlib/cp1252.h"
#include "qsmlib/except.h"
#include "qsmlib/platform/datetime.h"
#include "qsmlib/platform/fs.h"
#include "qsmlib/platform/inifile.h"
#include "support/testutil.h"

using testutil::TempDir;

TEST(DateTime, EncodeDecodeRoundTripsOverCenturies) {
  EXPECT_EQ(EncodeDateTime(1970, 1, 1), 25569.0);
  EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25);
  for (int day = -800; day < 200000; day += 37) {
    // Before day 0 the fraction counts away from zero: -1.5 is noon of day -1.
    const DateTimeParts p = DecodeDateTime(day >= 0 ? day + 0.5 : day - 0.5);
    EXPECT_EQ(EncodeDateTime(p.year, p.month, p.day), static_cast<double>(day)) << day;
    EXPECT_EQ(p.hour, 12);
  }
  const DateTimeParts p = DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 58, 999));
  EXPECT_EQ((std::vector<int>{p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond}),
            (std::vector<int>{2024, 2, 29, 23, 59, 58, 999}));
}

TEST(DateTime, TextForms) {
  struct Case {
    TDateTime value;
    const char* text;
  } cases[] = {
      {EncodeDateTime(2024, 1, 15, 8, 5, 9), "15/01/2024 08:05:09"},
      {EncodeDateTime(2024, 1, 15), "15/01/2024"},
      {EncodeDateTime(2024, 1, 15, 0, 0, 0, 500), "15/01/2024 00:00:00"},
      {EncodeDateTime(1999, 12, 31, 23, 59, 59), "31/12/1999 23:59:59"},
      {EncodeDateTime(2025, 12, 9, 0, 0, 1), "09/12/2025 00:00:01"},
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeToStr(c.value), c.text);
  EXPECT_EQ(DateToStr(EncodeDateTime(2025, 12, 9, 10, 11, 12)), "09/12/2025");
}

TEST(DateTime, NowIsLocalTimeWithMilliseconds) {
  const TDateTime a = Now();
  const time_t t = time(nullptr);
  tm local{};
  localtime_r(&t, &local);
  const TDateTime expected = EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                            local.tm_hour, local.tm_min, local.tm_sec);
  EXPECT_NEAR(a, expected, 2.0 / 86400);
  // Milliseconds are there: over a few readings not all land on a whole second.
  bool fraction = false;
  for (int i = 0; i < 50 && !fraction; ++i) {
    fraction = DecodeDateTime(Now()).millisecond != 0;
    usleep(1100);
  }
  EXPECT_TRUE(fraction);
}

TEST(FloatText, GeneralFormatWithDecimalComma) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {17, "17"},
      {1234.5, "1234,5"},
      {-0.25, "-0,25"},
      {0.1 + 0.2, "0,3"},
      {1.0 / 3, "0,333333333333333"},
      {2.0 / 3, "0,666666666666667"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {1.5e20, "1,5E20"},
      {0.00001, "0,00001"},
      {0.000025, "0,000025"},
      {0.000001, "1E-6"},
      {-1.5e-7, "-1,5E-7"},
      {100, "100"},
      {99999.999, "99999,999"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToStr(c.value), c.text) << c.value;
}

TEST(IntegerText, ParsesAndRejectsWithThePlatformMessage) {
  EXPECT_EQ(StrToInt("20240115"), 20240115);
  EXPECT_EQ(StrToInt("  -5"), -5);
  EXPECT_EQ(StrToInt("+7"), 7);
  EXPECT_EQ(StrToInt("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt32("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "abc", "12 ", "1.5", "-", "9223372036854775808", "0x10"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << "accepted '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(bad) + "' is not a valid integer value");
    }
  }
  EXPECT_THROW(StrToInt32("2147483648"), EConvertError);
}

TEST(Paths, ResolveByText) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"a/b/../c", "a/c"},
      {"/x/out/../debug_veruvav.txt", "/x/debug_veruvav.txt"},
      {"../debug_veruvav.txt", "../debug_veruvav.txt"},
      {"a/../../b", "../b"},
      {"/..", "/"},
      {"a/./b//c", "a/b/c"},
      {"a/..", "."},
      {"/x/y/", "/x/y/"},
  };
  for (const Case& c : cases) EXPECT_EQ(fs_layer::ResolvePath(c.in), c.out) << c.in;
  EXPECT_EQ(fs_layer::ExtractFilePath("/j/out/r.zfx"), "/j/out/");
  EXPECT_EQ(fs_layer::ExtractFilePath("r.zfx"), "");
  EXPECT_EQ(fs_layer::ExtractFileName("/j/out/r.zfx"), "r.zfx");
}

TEST(Paths, LookUpIgnoresCaseAndPassesMissingDirectories) {
  TempDir t;
  testutil::MakeDirs(t / "Sub");
  testutil::WriteFileBytes(t / "Sub/File.TXT", "x");
  EXPECT_EQ(fs_layer::FindFile(t / "sub/file.txt"), t / "Sub/File.TXT");
  EXPECT_EQ(fs_layer::FindFile(t / "nowhere/../SUB/FILE.txt"), t / "Sub/File.TXT");
  EXPECT_TRUE(fs_layer::FileExists(t / "SUB/file.TXT"));
  EXPECT_FALSE(fs_layer::FileExists(t / "sub"));
  EXPECT_TRUE(fs_layer::DirectoryExists(t / "sub"));
  EXPECT_EQ(fs_layer::FindFile(t / "sub/other.txt"), "");
  EXPECT_EQ(fs_layer::FindFile(""), "");

  testutil::WriteFileBytes(t / "a.txt", "lower");
  testutil::WriteFileBytes(t / "A.TXT", "upper");
  EXPECT_EQ(fs_layer::FindFile(t / "A.TXT"), t / "A.TXT");
  EXPECT_EQ(fs_layer::FindFile(t / "a.txt"), t / "a.txt");
}

TEST(Paths, MaskSearchDeleteAndRename) {
  TempDir t;
  for (const char* name : {"TMVSCAB.FEX", "tmvsitp.fex", "other.txt", ".hidden.fex"})
    testutil::WriteFileBytes(t / name, "1234");
  testutil::MakeDirs(t / "D.FEX");

  auto names = [](const std::vector<fs_layer::DirEntry>& es) {
    std::string s;
    for (const auto& e : es) s += e.name + (e.isDirectory ? "/" : "") + (e.hidden ? "h" : "") + " ";
    return s;
  };
  EXPECT_EQ(names(fs_layer::FindByMask(t / "*.fex")), ".hidden.fexh D.FEX/ TMVSCAB.FEX tmvsitp.fex ");
  EXPECT_EQ(names(fs_layer::FindByMask(t / "TMVS???.Fex")), "TMVSCAB.FEX tmvsitp.fex ");
  EXPECT_EQ(fs_layer::FindByMask(t / "*.*").size(), 5u);
  EXPECT_EQ(names(fs_layer::FindByMask(t / "other.TXT")), "other.txt ");
  EXPECT_TRUE(fs_layer::FindByMask(t / "missing/*.fex").empty());
  EXPECT_EQ(fs_layer::FindByMask(t / "other.txt")[0].size, 4);

  testutil::MakeDirs(t / "Sub");
  EXPECT_TRUE(fs_layer::RenameFile(t / "OTHER.TXT", t / "SUB/../sub/moved.txt"));
  EXPECT_TRUE(fs_layer::RenameFile(t / "sub/MOVED.txt", t / "moved.txt"));
  EXPECT_TRUE(testutil::FileIsThere(t / "moved.txt"));
  EXPECT_FALSE(fs_layer::RenameFile(t / "moved.txt", t / "nowhere/moved.txt"));
  EXPECT_FALSE(fs_layer::RenameFile(t / "gone.txt", t / "x.txt"));
  // An existing target is never replaced.
  EXPECT_FALSE(fs_layer::RenameFile(t / "moved.txt", t / "TMVSCAB.fex"));
  EXPECT_EQ(testutil::ReadFileBytes(t / "TMVSCAB.FEX"), "1234");

  ::chmod((t / "tmvsitp.fex").c_str(), 0444);
  EXPECT_FALSE(fs_layer::DeleteFile(t / "TMVSITP.FEX"));
  EXPECT_TRUE(fs_layer::DeleteFile(t / "tmvscab.fex"));
  EXPECT_FALSE(testutil::FileIsThere(t / "TMVSCAB.FEX"));
  EXPECT_FALSE(fs_layer::DeleteFile(t / "D.FEX"));
}

TEST(IniFile, ReadsWritesAndKeepsOtherEntries) {
  TempDir t;
  const TIniFile ini(t / "out/../rotate.ini");
  EXPECT_EQ(ini.ReadString("Data", "Data", "def"), "def");
  ASSERT_TRUE(ini.WriteString("Data", "Data", "20240115"));
  EXPECT_EQ(testutil::ReadFileBytes(t / "rotate.ini"), "[Data]\r\nData=20240115\r\n");
  EXPECT_EQ(ini.ReadString("DATA", "data", ""), "20240115");

  testutil::WriteFileBytes(t / "rotate.ini", "[Other]\nData=1\n\n[data]\nX = y \nDATA=2\n");
  ASSERT_TRUE(ini.WriteString("Data", "Data", "3"));
  ASSERT_TRUE(ini.WriteString("Data", "New", "4"));
  ASSERT_TRUE(ini.WriteString("Third", "K", "v"));
  EXPECT_EQ(ini.ReadString("Other", "Data", ""), "1");
  EXPECT_EQ(ini.ReadString("Data", "Data", ""), "3");
  EXPECT_EQ(ini.ReadString("Data", "X", ""), "y");
  EXPECT_EQ(ini.ReadString("Data", "New", ""), "4");
  EXPECT_EQ(ini.ReadString("Third", "K", ""), "v");
  EXPECT_EQ(ini.ReadString("Third", "Data", "none"), "none");

  EXPECT_FALSE(TIniFile(t / "missing/rotate.ini").WriteString("Data", "Data", "1"));
}

TEST(CodePage, Windows1252BothWays) {
  EXPECT_EQ("Ação é inválida"_cp, "A\xE7\xE3o \xE9 inv\xE1lida");
  EXPECT_EQ("€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ"_cp,
            "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E\x91\x92\x93\x94\x95\x96\x97\x98"
            "\x99\x9A\x9B\x9C\x9E\x9F");
  EXPECT_EQ(Utf8ToCp1252("a→b\xFFz"), "a?b?z");
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
  EXPECT_EQ(Cp1252ToUtf8("\x80\xE7"), "€ç");
}
