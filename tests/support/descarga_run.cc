#include "support/descarga_run.h"

#include <cstdlib>
#include <stdexcept>

DescargaJob::DescargaJob() {
  testutil::MakeDirs(tmp / "in");
  testutil::MakeDirs(tmp / "out");
  package = tmp / "in/descarga.zfx";
  output = tmp / "out/retorno_job.zfx";
  database = tmp / "backoffice.fdb";
  config = tmp / "veruvav.ini";
  // The reference database with the sample back office of team 001.
  const std::string create = "'" + std::string(VERUVAV_SOURCE_DIR) +
                             "/scripts/createdb.sh' --sample '" + database + "' >/dev/null";
  if (std::system(create.c_str()) != 0) throw std::runtime_error("cannot create " + database);
  testutil::WriteFileBytes(config, "[VerUvav]\nDatabase=" + database +
                                       "\nUsuario=SYSDBA\nSenha=masterkey\nServ=\nSGBD=InterBase\n");
}

testutil::RunResult DescargaJob::Run(const std::string& action, const std::string& ident,
                                     const std::string& description) {
  return testutil::RunProgram(VERUVAV_BINARY,
                              {"-I", package, "-O", output, "-U", ident, "-S", description, "-A",
                               action},
                              {}, {{"VERUVAV_CONFIG", config}});
}

std::vector<std::string> DescargaJob::LogLines() const {
  return testutil::ReadLines(tmp / "debug_veruvav.txt");
}

bool DescargaJob::LogHas(const std::string& text) const {
  for (const std::string& line : LogLines())
    if (line.find(text) != std::string::npos) return true;
  return false;
}

void DescargaJob::KeepStagedRows() const {
  Execute("ALTER PROCEDURE TRV_EXP_TMVS_TAF (NUPROC_EXP VARCHAR(60)) AS BEGIN END");
}

void DescargaJob::BreakProcedure(const std::string& name) const {
  const std::string parameters =
      name == "TRV_EXP_TMVS_TAF" ? " (NUPROC_EXP VARCHAR(60))" : std::string();
  Execute("ALTER PROCEDURE " + name + parameters +
          " AS DECLARE VARIABLE I INTEGER; BEGIN I = 1 / 0; END");
}
