// One descarga or carga job for the integration tests: a fresh embedded
// database, the fixture tables (changeable before the package is built), the
// built program run as a separate process, and what it left behind.
#pragma once

#include <string>
#include <vector>

#include "support/descarga_fixture.h"
#include "support/staging_db.h"
#include "support/testutil.h"

class DescargaJob {
 public:
  DescargaJob();

  testutil::TempDir tmp;
  std::string database;  // the job's .fdb
  std::string config;    // INI naming it
  std::string package;   // tmp/in/descarga.zfx
  std::string output;    // tmp/out/retorno_job.zfx
  std::vector<fixture::Table> tables = fixture::ReadFixtureTables();

  fixture::Table& Table(const std::string& name) { return fixture::Find(tables, name); }
  void BuildPackage() { fixture::BuildDescargaPackage(tables, package); }
  // Replaces the export procedure by one that does nothing, so that the
  // staged rows stay as the import wrote them.
  void KeepStagedRows() const;
  // Replaces a procedure's body by a division by zero: it raises.
  void BreakProcedure(const std::string& name) const;
  // Runs veruvav on the package with the given action.
  testutil::RunResult Run(const std::string& action = "DF", const std::string& ident = "JOB1",
                          const std::string& description = "QSMS Central");

  // Log lines of the run (CP1252), without the line prefix checks.
  std::vector<std::string> LogLines() const;
  bool LogHas(const std::string& text) const;  // some line contains text
  // The retorno's tables, read back with the project's package code.
  std::vector<fixture::FexContents> Retorno() const { return fixture::ReadPackage(output); }

  stagingdb::Rows Query(const std::string& select) const {
    return stagingdb::Query(database, select);
  }
  void Execute(const std::string& statement) const { stagingdb::Execute(database, statement); }
  long Count(const std::string& table) const { return stagingdb::Count(database, table); }
};
