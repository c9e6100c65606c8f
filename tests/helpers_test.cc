// String, date and file helpers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "qsmlib/except.h"
#include "qsmlib/helpers.h"
#include "support/testutil.h"

using testutil::TempDir;

TEST(Strings, FixedWidthAndFilters) {
  EXPECT_EQ(FixedWidth("abc", 5), "abc  ");
  EXPECT_EQ(FixedWidth("abc", 3), "abc");
  EXPECT_EQ(FixedWidth("abc", 2), "ab");
  EXPECT_EQ(FixedWidth("abc", 0), "");
  EXPECT_EQ(FixedWidth("abc", -4), "");
  EXPECT_EQ(FixedWidth("", 2), "  ");

  EXPECT_EQ(IncludeBackslash("/x"), "/x/");
  EXPECT_EQ(IncludeBackslash("/x/"), "/x/");
  EXPECT_EQ(IncludeBackslash(""), "/");

  EXPECT_EQ(CommaToPoint("1,5,0"), "1.5.0");
  EXPECT_EQ(ReplaceChar("a b  c", ' ', '0'), "a0b00c");
  EXPECT_EQ(RemoveChars("", ",."), "");
  EXPECT_EQ(RemoveChars("1.234,5", ",."), "12345");
  EXPECT_EQ(RemoveChars(std::string("a\0b\xE7", 4), std::string_view("\0", 1)), "ab\xE7");
  EXPECT_EQ(RemoveQuotes("d'agua ''x'"), "dagua x");
  EXPECT_EQ(RemoveDateSeparators("2025/12-09.x"), "20251209x");
  EXPECT_EQ(Trim("\t  a b \r\n\x01"), "a b");
  EXPECT_EQ(Trim(" \xE7\xA0"), "\xE7\xA0");  // bytes above 127 are letters, not blanks
  EXPECT_EQ(UpperCase("-o\xE7"), "-O\xE7");
  EXPECT_EQ(LowerCase("TMVS.FEX"), "tmvs.fex");
}

TEST(Strings, NextTokenWalksADelimitedList) {
  std::string s = "a:b";
  EXPECT_EQ(NextToken(s, ":"), "a");
  EXPECT_EQ(s, "b");
  EXPECT_EQ(NextToken(s, ":"), "b");
  EXPECT_EQ(s, "");
  EXPECT_EQ(NextToken(s, ":"), "");
  EXPECT_EQ(s, "");

  s = ":b";
  EXPECT_EQ(NextToken(s, ":"), "");
  EXPECT_EQ(s, "b");

  s = "x;;y;";
  std::vector<std::string> tokens;
  while (!s.empty()) tokens.push_back(NextToken(s, ";"));
  EXPECT_EQ(tokens, (std::vector<std::string>{"x", "", "y"}));
}

TEST(Dates, TextRearrangementAndOracleLiteral) {
  EXPECT_EQ(DmyToYmd("09/12/2025"), "2025/12/09");
  EXPECT_EQ(DmyToYmd("09/12/2025 10:11:12"), "2025/12/09");
  EXPECT_EQ(DmyToMdy("09/12/2025"), "12/09/2025");
  EXPECT_EQ(DmyToMdy("09/12/2025 10:11:12"), "12/09/2025");
  EXPECT_EQ(DmyToYmd("09/12"), "/12/09");
  EXPECT_EQ(DmyToYmd(""), "//");
  EXPECT_EQ(OracleToDate("09/12/2025 10:11:12"),
            "to_date('09/12/2025 10:11:12','DD/MM/YYYY HH24:MI:SS')");
}

TEST(Dates, UnixSeconds) {
  EXPECT_EQ(UnixToDateTime(0), 25569.0);
  EXPECT_EQ(UnixToDateTime(86400), EncodeDateTime(1970, 1, 2));
  EXPECT_EQ(DateTimeToStr(UnixToDateTime(1700000000)), "14/11/2023 22:13:20");
  EXPECT_THROW(UnixToDateTime(-1), EConvertError);
  EXPECT_THROW(UnixToDateTime(-86400), EConvertError);

  struct Case {
    TDateTime dt;
    int32_t secs;
  } cases[] = {
      {EncodeDateTime(1970, 1, 1), 0},
      {EncodeDateTime(1969, 6, 1, 12), 0},
      {EncodeDateTime(1970, 1, 2), 86400},
      {EncodeDateTime(2023, 11, 14, 22, 13, 20, 999), 1700000000},
      {EncodeDateTime(2038, 1, 19, 3, 14, 7), INT32_MAX},
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeToUnix(c.dt), c.secs) << DateTimeToStr(c.dt);
  for (int32_t s : {1, 59, 3599, 86399, 86401, 1234567890})
    EXPECT_EQ(DateTimeToUnix(UnixToDateTime(s)), s);
}

TEST(TextFile, LinesOfAnyBytesAndLength) {
  TempDir t;
  std::string longLine;
  for (int i = 0; i < 150000; ++i) longLine += static_cast<char>(i % 256 == '\n' ? 'x' : i % 256);
  // Lines around the read-ahead size so some cross its edge.
  std::string content = "a\r\nb\n\n" + longLine + "\n";
  std::vector<std::string> expected{"a", "b", "", longLine};
  for (int i = 0; i < 30; ++i) {
    std::string l(70001 + i, static_cast<char>('A' + i % 26));
    content += l + "\r\n";
    expected.push_back(l);
  }
  content += "cr\rinside\nlast";
  expected.push_back("cr\rinside");
  expected.push_back("last");
  testutil::WriteFileBytes(t / "Pkg.TXT", content);

  TTextFile f;
  ASSERT_TRUE(OpenTextRead(f, t / "pkg.txt"));
  std::vector<std::string> lines;
  std::string line;
  while (ReadTextLine(f, line)) lines.push_back(line);
  CloseTextRead(f);
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i;

  testutil::WriteFileBytes(t / "empty.txt", "");
  ASSERT_TRUE(OpenTextRead(f, t / "empty.txt"));
  EXPECT_FALSE(ReadTextLine(f, line));
  CloseTextRead(f);

  testutil::WriteFileBytes(t / "one.txt", "x\n");
  ASSERT_TRUE(OpenTextRead(f, t / "one.txt"));
  EXPECT_TRUE(ReadTextLine(f, line));
  EXPECT_FALSE(ReadTextLine(f, line));
  CloseTextRead(f);

  EXPECT_FALSE(OpenTextRead(f, t / "missing.txt"));
  EXPECT_FALSE(ReadTextLine(f, line));
}

TEST(Files, DeleteByMaskKeepsDirectoriesAndReadOnlyFiles) {
  TempDir t;
  testutil::MakeDirs(t / "out/SUB.FEX");
  for (const char* name : {"out/A.FEX", "out/b.fex", "out/ro.FEX", "out/keep.txt"})
    testutil::WriteFileBytes(t / name, "x");
  ::chmod((t / "out/ro.FEX").c_str(), 0444);

  DeleteFilesByMask(t / "OUT/*.FEX");
  EXPECT_FALSE(testutil::FileIsThere(t / "out/A.FEX"));
  EXPECT_FALSE(testutil::FileIsThere(t / "out/b.fex"));
  EXPECT_TRUE(testutil::FileIsThere(t / "out/ro.FEX"));
  EXPECT_TRUE(testutil::FileIsThere(t / "out/SUB.FEX"));
  EXPECT_TRUE(testutil::FileIsThere(t / "out/keep.txt"));

  DeleteFilesByMask(t / "out/KEEP.txt");  // a plain path deletes just that file
  EXPECT_FALSE(testutil::FileIsThere(t / "out/keep.txt"));
  DeleteFilesByMask(t / "nowhere/*.FEX");

  // Without a directory part the current directory is searched.
  testutil::WriteFileBytes(t / "c1.fex", "x");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(t.path().c_str()), 0);
  DeleteFilesByMask("*.FEX");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_FALSE(testutil::FileIsThere(t / "c1.fex"));
}

TEST(Files, SizeByName) {
  TempDir t;
  testutil::WriteFileBytes(t / "empty.dsg", "");
  testutil::WriteFileBytes(t / "Data.DSG", std::string(1500, 'x'));
  testutil::WriteFileBytes(t / ".hidden", "abc");
  testutil::MakeDirs(t / "dir");
  EXPECT_EQ(FileSizeByName(t / "empty.dsg"), 0);
  EXPECT_EQ(FileSizeByName(t / "data.dsg"), 1500);
  EXPECT_EQ(FileSizeByName(t / "missing"), -1);
  EXPECT_EQ(FileSizeByName(t / ".hidden"), -1);
  EXPECT_EQ(FileSizeByName(t / "dir"), -1);
}
