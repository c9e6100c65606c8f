// The operator's tool, run as its own process as an operator would.
#include <gtest/gtest.h>

#include "qsmlib/cp1252.h"
#include "qsmlib/fex.h"
#include "support/testutil.h"

namespace {

using testutil::FileIsThere;
using testutil::ReadFileBytes;
using testutil::RunProgram;
using testutil::TempDir;
using testutil::WriteFileBytes;

testutil::RunResult Tool(const std::vector<std::string>& args) {
  return RunProgram(FEXTOOL_BINARY, args, {}, {}, 60);
}

const char kPedidos[] =
    "CDPED:C:20,VLPED:F:15:4,DTCRIA:T:10,QTREIM:I:10,OBS:C:12,ST:B\n"
    "P001,1234.5,2024-01-01 10:20:30,-42,\"Ação, já\",A\r\n"
    "P002,-0.5,2024-02-29,0,\"two\r\nlines\",\n"
    "\"P\"\"3\",,,,,\n";

TEST(Fextool, CreateMakesTheTableTheCsvDescribes) {
  TempDir dir;
  WriteFileBytes(dir / "pedidos.csv", kPedidos);
  const auto r = Tool({"create", dir / "TMVSCAB.FEX", dir / "pedidos.csv", "--id", "R1"});
  ASSERT_EQ(r.exitCode, 0) << r.output;

  TFEX t;
  ASSERT_TRUE(FexOpen(t, dir / "TMVSCAB.FEX"));
  EXPECT_EQ(FexTableName(t), "TMVSCAB");
  EXPECT_EQ(FexFileId(t), "R1");
  ASSERT_EQ(FexRecordCount(t), 3);
  EXPECT_EQ(FexRecordSize(t), 20 + 16 + 11 + 11 + 12 + 1);
  FexRead(t, 1);
  EXPECT_EQ(FexGetString(t, "VLPED"), "0000000012345000");
  EXPECT_EQ(FexGetString(t, "DTCRIA"), "01704104430");
  EXPECT_EQ(FexGetString(t, "QTREIM"), "-0000000042");
  EXPECT_EQ(FexGetString(t, "OBS"), "Ação, já   "_cp + " ");  // CP1252 bytes, padded
  EXPECT_EQ(FexGetString(t, "ST"), "A");
  FexRead(t, 2);
  EXPECT_EQ(FexGetString(t, "OBS"), "two\r\nlines  ");  // line ends inside quotes are kept
  EXPECT_EQ(FexGetString(t, "DTCRIA"), "01709164800");
  EXPECT_EQ(FexGetString(t, "VLPED"), "-000000000005000");
  FexRead(t, 3);
  EXPECT_EQ(FexGetString(t, "CDPED"), "P\"3" + std::string(17, ' '));
  EXPECT_EQ(FexGetString(t, "QTREIM"), std::string(11, ' '));  // empty cell: left blank
  FexClose(t);

  // Shown as CSV, the table reads back into the same bytes.
  const auto shown = Tool({"show", dir / "TMVSCAB.FEX", "--csv"});
  ASSERT_EQ(shown.exitCode, 0) << shown.output;
  EXPECT_NE(shown.output.find("CDPED:C:20,VLPED:F:15:4,DTCRIA:T:11,QTREIM:I:11,OBS:C:12,ST:B:1\n"),
            std::string::npos)
      << shown.output;
  EXPECT_NE(shown.output.find("P001,1234.5000,2024-01-01 10:20:30,-42,\"Ação, já\",A\n"),
            std::string::npos)
      << shown.output;
  WriteFileBytes(dir / "again.csv", shown.output);
  ASSERT_EQ(Tool({"create", dir / "AGAIN.FEX", dir / "again.csv", "--table", "TMVSCAB", "--id", "R1"})
                .exitCode,
            0);
  EXPECT_EQ(ReadFileBytes(dir / "AGAIN.FEX"), ReadFileBytes(dir / "TMVSCAB.FEX"));

  const auto plain = Tool({"show", dir / "TMVSCAB.FEX"});
  ASSERT_EQ(plain.exitCode, 0);
  EXPECT_NE(plain.output.find("OBS     = \"two\\x0D\\x0Alines  \""), std::string::npos) << plain.output;
}

TEST(Fextool, BuildListDumpAndSplitAPackage) {
  TempDir dir;
  TempDir tables;
  WriteFileBytes(dir / "pedidos.csv", kPedidos);
  WriteFileBytes(dir / "equipe.csv", "CDEQP:C:10\nEQ01\n");
  ASSERT_EQ(Tool({"create", tables / "TMVSCAB.FEX", dir / "pedidos.csv"}).exitCode, 0);
  ASSERT_EQ(Tool({"create", tables / "TMVSEQP.FEX", dir / "equipe.csv", "--id", "EQ"}).exitCode, 0);
  const auto built = Tool({"build", tables.path(), dir / "descarga.zfx"});
  ASSERT_EQ(built.exitCode, 0) << built.output;
  EXPECT_TRUE(FileIsThere(tables / "TMVSCAB.FEX"));
  EXPECT_EQ(ReadFileBytes(dir / "descarga.zfx").substr(0, 3), "FX\x08");

  const auto list = Tool({"list", dir / "descarga.zfx"});
  ASSERT_EQ(list.exitCode, 0) << list.output;
  EXPECT_NE(list.output.find("TMVSCAB                          TM            3      6       71"),
            std::string::npos)
      << list.output;
  EXPECT_NE(list.output.find("TMVSEQP                          EQ            1"), std::string::npos);

  const auto dump = Tool({"dump", dir / "descarga.zfx", "--csv"});
  ASSERT_EQ(dump.exitCode, 0) << dump.output;
  EXPECT_NE(dump.output.find("== TMVSEQP ==\nCDEQP:C:10\nEQ01\n"), std::string::npos) << dump.output;
  EXPECT_NE(dump.output.find("== TMVSCAB ==\n"), std::string::npos);

  const auto split = Tool({"split", dir / "descarga.zfx", dir / "out/new"});
  ASSERT_EQ(split.exitCode, 0) << split.output;
  EXPECT_EQ(ReadFileBytes(dir / "out/new/TMVSCAB.FEX"), ReadFileBytes(tables / "TMVSCAB.FEX"));
  EXPECT_EQ(ReadFileBytes(dir / "out/new/TMVSEQP.FEX"), ReadFileBytes(tables / "TMVSEQP.FEX"));
}

TEST(Fextool, BadInputGetsAMessageAndAnExitCode) {
  TempDir dir;
  WriteFileBytes(dir / "good.csv", "A:C:3\nabc\n");
  ASSERT_EQ(Tool({"create", dir / "GOOD.FEX", dir / "good.csv", "--id", "GD"}).exitCode, 0);
  WriteFileBytes(dir / "cut.FEX", ReadFileBytes(dir / "GOOD.FEX").substr(0, 4000));
  WriteFileBytes(dir / "not.zfx", "!!0\r\nzz9\r\n");
  std::string lying = ReadFileBytes(dir / "GOOD.FEX");
  lying[310] = char(251);
  WriteFileBytes(dir / "LYING.FEX", lying);
  struct Csv {
    const char* name;
    const char* text;
    const char* message;
  } csvs[] = {
      {"quote.csv", "A:C:3\n\"abc\n", "quote.csv:2: quoted cell without its closing quote"},
      {"cells.csv", "A:C:3,B:I\nabc\n", "cells.csv:2: 1 cells where the header names 2 fields"},
      {"int.csv", "B:I\n12x\n", "int.csv:2: field B: '12x' is not a 32-bit whole number"},
      {"big.csv", "B:I\n2147483648\n", "is not a 32-bit whole number"},
      {"date.csv", "D:T\n2023-02-29\n", "date.csv:2: field D: '2023-02-29' is not a date"},
      {"long.csv", "A:C:3\nabcd\n", "long.csv:2: field A: text of 4 bytes does not fit 3"},
      {"type.csv", "A:Q:3\n", "type.csv:1: field A has type 'Q'"},
      {"size.csv", "A:C\n", "size.csv:1: field A needs a size"},
      {"name.csv", "LONGNAME:C:3\n", "field name 'LONGNAME' must have 1 to 7 characters"},
      {"dup.csv", "A:C:3,A:I\n", "pois já há um campo com mesmo nome!"},
      {"float.csv", "V:F:4:2\n123.4\n", "é insufuciente!"},
      {"euro.csv", "A:C:3\n\xe2\x82\xac\n", nullptr},  // fits: the euro sign is one byte
      {"cjk.csv", "A:C:3\n\xe6\xbc\xa2\n", "outside Windows-1252"},
      {"empty.csv", "", "no header line"},
  };
  for (const Csv& c : csvs) {
    WriteFileBytes(dir / c.name, c.text);
    const auto r = Tool({"create", dir / "OUT.FEX", dir / c.name, "--id", "OU"});
    if (!c.message) {
      EXPECT_EQ(r.exitCode, 0) << c.name << r.output;
      continue;
    }
    EXPECT_EQ(r.exitCode, 1) << c.name << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.name << ": " << r.output;
    EXPECT_FALSE(FileIsThere(dir / "OUT.FEX")) << c.name;  // no half-made table
  }
  struct Run {
    std::vector<std::string> args;
    int exitCode;
    const char* message;
  } runs[] = {
      {{"show", dir / "cut.FEX"}, 1, "damaged table header: cabeçalho truncado"},
      {{"show", dir / "LYING.FEX"}, 1, "damaged table header: número de campos inválido (251)"},
      {{"show", dir / "good.csv"}, 1, "not a FEX table"},
      {{"show", dir / "none.FEX"}, 1, "no such file"},
      {{"list", dir / "not.zfx"}, 1, "not a package, or the package is damaged or truncated"},
      {{"dump", dir / "GOOD.FEX"}, 1, "not a package"},
      {{"split", dir / "none.zfx", dir / "o"}, 1, "no such file"},
      {{"build", dir / "nodir", dir / "p.zfx"}, 1, "no such directory"},
      {{"show"}, 2, "usage: fextool show"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"show", dir / "GOOD.FEX", "--bogus"}, 2, "unknown option --bogus"},
      {{}, 2, "Usage:"},
  };
  for (const Run& r : runs) {
    const auto out = Tool(r.args);
    EXPECT_EQ(out.exitCode, r.exitCode) << out.output;
    EXPECT_NE(out.output.find(r.message), std::string::npos) << out.output;
  }
}

TEST(Fextool, HelpDocumentsEveryCommand) {
  const auto r = Tool({"--help"});
  ASSERT_EQ(r.exitCode, 0);
  for (const char* word : {"show", "list", "dump", "split", "build", "create", "--csv", "--raw",
                           "--id", "--table", "--objdefs", "yyyy-mm-dd hh:mm:ss"})
    EXPECT_NE(r.output.find(word), std::string::npos) << word;
}

}  // namespace
