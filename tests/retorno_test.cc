#include <filesystem>
#include <vector>
// The retorno package's file handling, in-process: the status-3 record, where
// the package is left, and what is deleted (never anything the caller did not
// name). The database-filled statuses are covered by the descarga tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "processing/retorno.h"
#include "processing/runparams.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/platform/datetime.h"
#include "support/descarga_fixture.h"
#include "support/testutil.h"

namespace {

class RetornoFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::MakeDirs(tmp / "out");
    OutputFile = tmp / "out/ret.zfx";
    TeamCode = "101";
    DescargaHash.clear();
  }
  void TearDown() override { OutputFile.clear(); }
  testutil::TempDir tmp;
};

TEST_F(RetornoFiles, FailureStatusHoldsOneErrorRecordAndLeavesOnlyThePackage) {
  testutil::WriteFileBytes(tmp / "out/STALE.FEX", "left by an earlier run");
  testutil::WriteFileBytes(OutputFile, "earlier retorno");
  const TDateTime before = Now();

  GenerateRetorno(3, "Descarga não processada, houve erro na exportação entre as tabelas TMVS's e TAF's."_cp);

  EXPECT_FALSE(testutil::FileIsThere(tmp / "out/STALE.FEX"));
  EXPECT_FALSE(testutil::FileIsThere(tmp / "out/TMVSSTSRETORNO.FEX"));
  EXPECT_FALSE(testutil::FileIsThere(tmp / "out/retorno.zfx"));
  auto tables = fixture::ReadPackage(OutputFile);
  ASSERT_EQ(tables.size(), 1u);
  const fixture::FexContents& st = tables[0];
  EXPECT_EQ(st.name, "TMVSSTSRETORNO");
  ASSERT_EQ(st.rows.size(), 1u);
  EXPECT_EQ(std::stoi(st.Get(0, "CDRET")), 2);
  EXPECT_EQ(st.Get(0, "IDSTS"), "0");
  EXPECT_EQ(st.Get(0, "DSMSG"),
            "Descarga não processada, houve erro na exportação entre as tabelas TMVSs e TAFs."_cp);
  for (const char* count : {"QTPED", "QTCLNV", "QTCLAL", "QTCLEX", "QTPECN", "QTMNV"})
    EXPECT_EQ(std::stoi(st.Get(0, count)), 0) << count;
  EXPECT_EQ(st.Get(0, "NUHASH"), "");
  // DTPROC is the time of the call, in whole seconds since 1970.
  const long seconds = std::stol(st.Get(0, "DTPROC"));
  EXPECT_NEAR(seconds, (before - kUnixEpochDay) * 86400.0, 5.0);
}

TEST_F(RetornoFiles, OutputNamedLikeTheWorkingPackageEndsUnderTheExactNameAsked) {
  // The working package is out/retorno.zfx; -O may name it, in any case.
  for (const char* name : {"retorno.zfx", "RETORNO.ZFX"}) {
    SCOPED_TRACE(name);
    OutputFile = tmp / (std::string("out/") + name);
    GenerateRetorno(3, "x");
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(tmp / "out"))
      files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{name});
    auto tables = fixture::ReadPackage(OutputFile);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].Get(0, "DSMSG"), "x");
    std::filesystem::remove(OutputFile);
  }
}

TEST_F(RetornoFiles, WildcardInOutputNameDeletesNoOtherFile) {
  testutil::WriteFileBytes(tmp / "out/other.zfx", "another device's retorno");
  OutputFile = tmp / "out/*.zfx";
  testutil::WriteFileBytes(OutputFile, "earlier");
  GenerateRetorno(3, "");
  EXPECT_EQ(testutil::ReadFileBytes(tmp / "out/other.zfx"), "another device's retorno");
  EXPECT_EQ(fixture::ReadPackage(OutputFile).size(), 1u);
}

TEST_F(RetornoFiles, EmptyOutputWritesAndDeletesNothing) {
  OutputFile.clear();
  testutil::WriteFileBytes(tmp / "KEEP.FEX", "not ours");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(tmp.path().c_str()), 0);
  GenerateRetorno(3, "");
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(testutil::ReadFileBytes(tmp / "KEEP.FEX"), "not ours");
  EXPECT_FALSE(testutil::FileIsThere(tmp / "TMVSSTSRETORNO.FEX"));
  EXPECT_FALSE(testutil::FileIsThere(tmp / "retorno.zfx"));
}

TEST_F(RetornoFiles, SecondCallAfterAFailedOneReplacesItsTables) {
  // Without a database the success status cannot read the descarga's row
  // and raises while its status table is being written.
  EXPECT_ANY_THROW(GenerateRetorno(2, "ok"));
  GenerateRetorno(3, "falhou");
  auto tables = fixture::ReadPackage(OutputFile);
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0].Get(0, "DSMSG"), "falhou");
  EXPECT_FALSE(testutil::FileIsThere(tmp / "out/TMVSSTSRETORNO.FEX"));
}

}  // namespace
