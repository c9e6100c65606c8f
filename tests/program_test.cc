// The program body: switches, daily rotation and the exit codes of the built
// binary run as a separate process.
#include <gtest/gtest.h>

#include <filesystem>

#include "main/program.h"
#include "processing/runparams.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/except.h"
#include "qsmlib/helpers.h"
#include "qsmlib/platform/datetime.h"
#include "support/testutil.h"

using testutil::FileIsThere;
using testutil::ReadFileBytes;
using testutil::RunProgram;
using testutil::TempDir;

namespace {

void ResetRunParameters() {
  InputFile = OutputFile = IdentName = QsmsDescription = Action = LogFileName = "";
  LogLevel = -1;
}

// The message texts of a log file, without checksum and prefix.
std::vector<std::string> LogTexts(const std::string& path) {
  std::vector<std::string> out;
  for (const std::string& l : testutil::ReadLines(path)) {
    const size_t p = l.find(" : ");
    out.push_back(p == std::string::npos ? "<" + l + ">" : l.substr(p + 3));
  }
  return out;
}

std::vector<std::string> Banner(const std::string& input, const std::string& action,
                                const std::string& ident) {
  const std::string dashes(59, '-');
  return {" ", dashes, dashes, " ", "Inicia o processamento do arquivo.", "Arquivo : " + input,
          "Ação Requisitada : ["_cp + action + "]",
          "Nome de identificação da copiado arquivo : ["_cp + ident + "]"};
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Every file and directory under root, relative to it.
std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    out.push_back(std::filesystem::relative(e.path(), root).string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string DayKey(TDateTime day) { return RemoveDateSeparators(DmyToYmd(DateToStr(day))); }

const std::string kStart = "< < < INICIANDO > > >";
const std::string kInvalid = "Ação cadastrada no QSMS é inválida."_cp;

}  // namespace

TEST(CommandLine, SwitchTable) {
  struct Case {
    std::vector<std::string> args;
    std::string input, output, ident, qsms, action;
    int32_t level;
    std::string logFile;
  } cases[] = {
      {{}, "", "", "", "", "", 0, ""},
      {{"-i", "in.dsg", "-o", "/j/out/r.zfx", "-s", "d", "-a", "dp"},
       "in.dsg", "/j/out/r.zfx", "", "d", "dp", 10, "/j/out/../debug_veruvav.txt"},
      {{"-U", "u", "-A", "ZZ"}, "", "", "u", "", "ZZ", 10, ""},
      {{"-U", "u"}, "", "", "u", "", "", 0, ""},
      {{"/X", "-I", "a", "-Z", "b", "-d"}, "a", "", "", "", "", 10, ""},
      {{"-D", "-I", "x"}, "x", "", "", "", "", 10, ""},
      {{"-I", "-O", "r.zfx"}, "-O", "", "", "", "", 10, ""},
      {{"-I", "a", "-O"}, "a", "", "", "", "", 10, "../debug_veruvav.txt"},
      {{"-I", "a", "-I", "b", "-U", "x", "-U"}, "b", "", "", "", "", 10, ""},
      {{"-S", "  d e \t", "-O", " /j/o/r.zfx\r"}, "", "/j/o/r.zfx", "", "d e", "", 10,
       "/j/o/../debug_veruvav.txt"},
      {{"-O", "r.zfx"}, "", "r.zfx", "", "", "", 10, "../debug_veruvav.txt"},
      {{"--I", "x", "-IO", "y", "I"}, "", "", "", "", "", 0, ""},
  };
  for (const Case& c : cases) {
    ResetRunParameters();
    ReadCommandLine(c.args);
    std::string where;
    for (const auto& a : c.args) where += "[" + a + "]";
    EXPECT_EQ(InputFile, c.input) << where;
    EXPECT_EQ(OutputFile, c.output) << where;
    EXPECT_EQ(IdentName, c.ident) << where;
    EXPECT_EQ(QsmsDescription, c.qsms) << where;
    EXPECT_EQ(Action, c.action) << where;
    EXPECT_EQ(LogLevel, c.level) << where;
    EXPECT_EQ(LogFileName, c.logFile) << where;
  }
  ResetRunParameters();
}

TEST(DailyRotation, OncePerNewDayAndNeverBackwards) {
  TempDir t;
  ResetRunParameters();
  LogFileName = t / "out/../debug_veruvav.txt";
  TTrvLog log(LogFileName, 10, 15);
  Log = &log;
  log.Start();
  const std::string ini = t / "rotate.ini";
  const std::string firstGen = t / "debug_veruvav.001";

  RotateLogDaily("20240115");  // first run: file made, no rotation
  EXPECT_EQ(ReadFileBytes(ini), "[Data]\r\nData=20240115\r\n");
  EXPECT_FALSE(FileIsThere(firstGen));

  RotateLogDaily("20240116");  // a new day
  EXPECT_TRUE(FileIsThere(firstGen));
  EXPECT_EQ(ReadFileBytes(ini), "[Data]\r\nData=20240116\r\n");

  RotateLogDaily("20240116");  // same day
  RotateLogDaily("20240110");  // clock set back
  EXPECT_FALSE(FileIsThere(t / "debug_veruvav.002"));
  EXPECT_EQ(ReadFileBytes(ini), "[Data]\r\nData=20240116\r\n");
  EXPECT_EQ(LogTexts(t / "debug_veruvav.txt"), (std::vector<std::string>{kStart}));

  for (const char* stored : {"[Data]\r\nData=abc\r\n", "[Data]\r\n", "[Data]\r\nData=\r\n"}) {
    testutil::WriteFileBytes(ini, stored);
    const std::string value = stored == std::string("[Data]\r\nData=abc\r\n") ? "abc" : "";
    try {
      RotateLogDaily("20240117");
      ADD_FAILURE() << "no error for " << stored;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + value + "' is not a valid integer value");
    }
  }
  EXPECT_FALSE(FileIsThere(t / "debug_veruvav.002"));
  Log = nullptr;
  log.Finish();

  // Where rotate.ini cannot be made there is nothing to rotate and no error.
  LogFileName = t / "missing/out/../debug_veruvav.txt";
  EXPECT_NO_THROW(RotateLogDaily("20240118"));
  EXPECT_FALSE(FileIsThere(t / "missing"));
  ResetRunParameters();
}

TEST(Binary, NoArgumentsEndsWithFourAndWritesNothing) {
  TempDir t;
  testutil::MakeDirs(t / "a/b");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-U", "u", "-A", "ZZ"}, {"-I", "x", "-S", "d", "-A", "ZZ"}}) {
    const testutil::RunResult r = RunProgram(VERUVAV_BINARY, args, t / "a/b");
    EXPECT_EQ(r.exitCode, 4) << r.output;
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(Tree(t.path()), (std::vector<std::string>{"a", "a/b"}));
  }
}

TEST(Binary, MissingInputWithLogWritesTheReasonAndEndsWithFour) {
  TempDir t;
  testutil::MakeDirs(t / "out");  // where the failure retorno goes
  const testutil::RunResult r =
      RunProgram(VERUVAV_BINARY, {"-O", t / "out/r.zfx", "-S", "d", "-A", "ZZ"});
  EXPECT_EQ(r.exitCode, 4) << r.output;
  const std::vector<std::string> texts = LogTexts(t / "debug_veruvav.txt");
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[0], kStart);
  EXPECT_EQ(texts[1], "Faltando parâmetros para inicializar a aplicação."_cp);
  EXPECT_FALSE(FileIsThere(t / "rotate.ini"));
}

TEST(Binary, UnknownActionLogsBannerAndEndsWithZero) {
  TempDir t;
  const std::string today = DayKey(Now());
  // Switches in lower case are switches too; "dp" in lower case is no action.
  const std::vector<std::vector<std::string>> runs = {
      {"-I", "x", "-O", t / "out/r.zfx", "-S", "d", "-A", "ZZ"},
      {"-i", "x", "-o", t / "out/r.zfx", "-s", "d", "-a", "dp", "-u", "job 1"},
  };
  ASSERT_EQ(RunProgram(VERUVAV_BINARY, runs[0]).exitCode, 0);
  ASSERT_EQ(RunProgram(VERUVAV_BINARY, runs[1]).exitCode, 0);

  EXPECT_FALSE(FileIsThere(t / "out"));
  EXPECT_EQ(ReadFileBytes(t / "rotate.ini"), "[Data]\r\nData=" + today + "\r\n");
  const auto expected = Concat(Concat(Concat({kStart}, Banner("x", "ZZ", "")), {kInvalid, kStart}),
                               Concat(Banner("x", "dp", "job 1"), {kInvalid}));
  EXPECT_EQ(LogTexts(t / "debug_veruvav.txt"), expected);
  // The text reaches the file as single bytes: "ç" is 0xE7.
  EXPECT_NE(ReadFileBytes(t / "debug_veruvav.txt").find("A\xE7\xE3o Requisitada : [ZZ]"),
            std::string::npos);
}

TEST(Binary, ANewDayRotatesTheLogBeforeTheBanner) {
  TempDir t;
  const std::string today = DayKey(Now());
  testutil::WriteFileBytes(t / "rotate.ini", "[Data]\r\nData=" + DayKey(Now() - 1) + "\r\n");
  testutil::WriteFileBytes(t / "debug_veruvav.txt", "");
  const std::vector<std::string> args = {"-I", "x", "-O", t / "out/r.zfx", "-S", "d", "-A", ""};
  ASSERT_EQ(RunProgram(VERUVAV_BINARY, args).exitCode, 0);
  ASSERT_EQ(RunProgram(VERUVAV_BINARY, args).exitCode, 0);

  EXPECT_EQ(LogTexts(t / "debug_veruvav.001"),
            (std::vector<std::string>{kStart, "< < < ROTACIONADO > > >", "< < < FINALIZANDO > > >"}));
  EXPECT_FALSE(FileIsThere(t / "debug_veruvav.002"));
  EXPECT_EQ(LogTexts(t / "debug_veruvav.txt"),
            Concat(Concat(Concat({kStart}, Banner("x", "", "")), {kInvalid, kStart}),
                   Concat(Banner("x", "", ""), {kInvalid})));
  EXPECT_EQ(ReadFileBytes(t / "rotate.ini"), "[Data]\r\nData=" + today + "\r\n");

  // A date ahead of today is left alone.
  testutil::WriteFileBytes(t / "rotate.ini", "[Data]\r\nData=99991231\r\n");
  ASSERT_EQ(RunProgram(VERUVAV_BINARY, args).exitCode, 0);
  EXPECT_FALSE(FileIsThere(t / "debug_veruvav.002"));
  EXPECT_EQ(ReadFileBytes(t / "rotate.ini"), "[Data]\r\nData=99991231\r\n");
}

TEST(Binary, UnreadableRotationDateEndsWithEight) {
  TempDir t;
  testutil::WriteFileBytes(t / "rotate.ini", "[Data]\r\nData=2024-01-15\r\n");
  const testutil::RunResult r =
      RunProgram(VERUVAV_BINARY, {"-I", "x", "-O", t / "out/r.zfx", "-S", "d", "-A", "ZZ"});
  EXPECT_EQ(r.exitCode, 8) << r.output;
  const std::vector<std::string> texts = LogTexts(t / "debug_veruvav.txt");
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[0], kStart);
  EXPECT_EQ(texts[1],
            "Erro durante a execução do programa, erro: '2024-01-15' is not a valid integer value"_cp);
  for (const std::string& line : texts) EXPECT_NE(line, "Inicia o processamento do arquivo.");
}

TEST(Binary, LogThatCannotOpenDoesNotStopTheRun) {
  TempDir t;
  const testutil::RunResult r = RunProgram(
      VERUVAV_BINARY, {"-I", "x", "-O", t / "no/such/out/r.zfx", "-S", "d", "-A", "ZZ"});
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(Tree(t.path()).empty());
}
