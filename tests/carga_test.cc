// The carga road: the built program registers a synchronised carga package
// in TMVSCARGA and writes no retorno.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "qsmlib/cp1252.h"
#include "support/descarga_run.h"

namespace {

size_t FilesIn(const std::string& dir) {
  size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file();
  return n;
}

TEST(Carga, RegistersOneRowAndWritesNoRetorno) {
  DescargaJob job;
  job.BuildPackage();
  testutil::WriteFileBytes(job.tmp / "in/OLD.FEX", "left beside the package");
  // Apostrophes and the full length of the description reach the row.
  const std::string description = "Carga d'equipe 001 - sincronismo da manhã"_cp;
  std::time_t before = std::time(nullptr);
  testutil::RunResult r = job.Run("CR", "JOB1", description);
  std::time_t after = std::time(nullptr);
  ASSERT_EQ(r.exitCode, 0) << r.output;

  stagingdb::Rows rows = job.Query("SELECT CDEQP, DSQSMS, DATEDIFF(SECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO DTCRG) FROM TMVSCARGA");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "001");
  EXPECT_EQ(rows[0][1], description);
  // DTCRG is the machine's local clock; compare it as local seconds.
  std::tm local{};
  localtime_r(&before, &local);
  long offset = local.tm_gmtoff;
  long stored = std::stol(rows[0][2]);
  EXPECT_GE(stored, before + offset - 1);
  EXPECT_LE(stored, after + offset + 1);

  EXPECT_EQ(FilesIn(job.tmp / "out"), 0u) << "no retorno for a carga";
  EXPECT_EQ(FilesIn(job.tmp / "in"), 1u) << "the package stays, its tables go";
  EXPECT_TRUE(testutil::FileIsThere(job.package));
  EXPECT_EQ(job.Count("TMVSCAB"), 0) << "nothing of the package is imported";
  EXPECT_TRUE(job.LogHas("Terminou o sincronismo dos arquivos com sucesso."));
}

TEST(Carga, PackageWithoutConfigurationTableRegistersNothing) {
  DescargaJob job;
  fixture::Remove(job.tables, "TMVSEQP");
  job.BuildPackage();
  testutil::RunResult r = job.Run("CR");
  EXPECT_EQ(r.exitCode, 5) << r.output;
  EXPECT_TRUE(job.LogHas("Erro ao carregar os dados de configuração."_cp));
  EXPECT_EQ(job.Count("TMVSCARGA"), 0);
  EXPECT_EQ(FilesIn(job.tmp / "out"), 0u);
}

}  // namespace
