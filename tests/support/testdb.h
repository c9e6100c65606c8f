// Test databases: a fresh embedded Firebird back-office database per test,
// created from db/firebird/ by scripts/createdb.sh, with the INI file that
// points the program at it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <soci/soci.h>

#include "processing/database.h"
#include "qsmlib/log.h"
#include "support/testutil.h"

namespace testdb {

class TestDatabase {
 public:
  // sampleData: also load db/firebird/sample_data.sql (team 001).
  explicit TestDatabase(bool sampleData = false);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::string& dir() const { return dir_.path(); }
  const std::string& path() const { return path_; }      // the .fdb file
  const std::string& configFile() const { return ini_; }  // [VerUvav] section

  // The values written to the INI file: this database, SYSDBA, SGBD InterBase.
  DatabaseConfig Config() const;
  // Rewrites the INI file with other values (failure cases).
  void WriteConfig(const DatabaseConfig& config) const;
  // VERUVAV_CONFIG for a program run as a separate process.
  std::vector<std::pair<std::string, std::string>> Env() const;
  // Points this process's VERUVAV_CONFIG at the INI file until destruction.
  void UseInProcess() const;

  // A session of its own on the database (the same process may attach the
  // file more than once), to see what the program's connection committed.
  std::unique_ptr<soci::session> OpenSession() const;
  // The first column of the first row as text; "" for NULL or no row.
  std::string QueryText(const std::string& sql) const;
  int64_t QueryCount(const std::string& sqlCountStar) const;
  // Runs statements and commits them.
  void Execute(const std::vector<std::string>& statements) const;

 private:
  testutil::TempDir dir_;
  std::string path_;
  std::string ini_;
};

// The run's log pointed at a file of its own for the life of the object
// (restores the previous one), with its lines read back as their texts.
class TestLog {
 public:
  TestLog();
  ~TestLog();
  TestLog(const TestLog&) = delete;
  TestLog& operator=(const TestLog&) = delete;
  // The text part of every line written so far (after "<prefix> : ").
  std::vector<std::string> Texts() const;
  bool Has(const std::string& text) const;
  // How many lines hold exactly this text.
  int Count(const std::string& text) const;
  const std::string& fileName() const { return file_; }

 private:
  testutil::TempDir dir_;
  std::string file_;
  TTrvLog* previous_;
};

}  // namespace testdb
