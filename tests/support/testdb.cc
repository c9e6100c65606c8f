#include "support/testdb.h"

#include <cstdlib>
#include <stdexcept>

#include <algorithm>

#include "processing/runparams.h"

namespace testdb {

namespace {

constexpr const char* kCreateScript = VERUVAV_SOURCE_DIR "/scripts/createdb.sh";
constexpr const char* kTestUser = "SYSDBA";
// The embedded engine does not check it; a server would.
constexpr const char* kTestPassword = "senha-de-teste";

}  // namespace

TestDatabase::TestDatabase(bool sampleData) {
  path_ = dir_ / "backoffice.fdb";
  ini_ = dir_ / "veruvav.ini";
  std::vector<std::string> args{kCreateScript};
  if (sampleData) args.push_back("--sample");
  args.push_back(path_);
  const testutil::RunResult r = testutil::RunProgram("/bin/bash", args, {}, {}, 120);
  if (r.exitCode != 0) throw std::runtime_error("createdb.sh failed: " + r.output);
  WriteConfig(Config());
}

TestDatabase::~TestDatabase() {
  const char* current = std::getenv("VERUVAV_CONFIG");
  if (current != nullptr && ini_ == current) ::unsetenv("VERUVAV_CONFIG");
}

DatabaseConfig TestDatabase::Config() const {
  DatabaseConfig c;
  c.Database = path_;
  c.Usuario = kTestUser;
  c.Senha = kTestPassword;
  c.Serv = "";
  c.SGBD = "InterBase";
  return c;
}

void TestDatabase::WriteConfig(const DatabaseConfig& c) const {
  testutil::WriteFileBytes(ini_, "[VerUvav]\r\nDatabase=" + c.Database + "\r\nUsuario=" + c.Usuario +
                                     "\r\nSenha=" + c.Senha + "\r\nServ=" + c.Serv + "\r\nSGBD=" + c.SGBD +
                                     "\r\n");
}

std::vector<std::pair<std::string, std::string>> TestDatabase::Env() const {
  return {{"VERUVAV_CONFIG", ini_}};
}

void TestDatabase::UseInProcess() const { ::setenv("VERUVAV_CONFIG", ini_.c_str(), 1); }

std::unique_ptr<soci::session> TestDatabase::OpenSession() const {
  return std::make_unique<soci::session>(
      "firebird", "service=" + path_ + " user=SYSDBA charset=WIN1252 decimals_as_strings=1");
}

std::string TestDatabase::QueryText(const std::string& sql) const {
  auto s = OpenSession();
  soci::row row;
  soci::statement st = (s->prepare << sql, soci::into(row));
  std::string out;
  if (st.execute(true) && row.get_indicator(0) != soci::i_null) {
    switch (row.get_properties(0).get_data_type()) {
      case soci::dt_string:
        out = row.get<std::string>(0);
        break;
      case soci::dt_integer:
        out = std::to_string(row.get<int>(0));
        break;
      case soci::dt_long_long:
        out = std::to_string(row.get<long long>(0));
        break;
      default:
        throw std::runtime_error("QueryText: column type not handled in tests");
    }
  }
  s->commit();
  return out;
}

int64_t TestDatabase::QueryCount(const std::string& sql) const {
  const std::string text = QueryText(sql);
  return text.empty() ? 0 : std::stoll(text);
}

void TestDatabase::Execute(const std::vector<std::string>& statements) const {
  auto s = OpenSession();
  for (const std::string& sql : statements) *s << sql;
  s->commit();
}

TestLog::TestLog() : file_(dir_ / "debug_veruvav.txt"), previous_(Log) {
  Log = new TTrvLog(file_, 10, loDate | loTime | loMilliseconds | loLevel);
  Log->Start();
}

TestLog::~TestLog() {
  // CloseDatabase finishes and releases the run's log: only ours is deleted.
  if (Log != previous_) delete Log;
  Log = previous_;
}

std::vector<std::string> TestLog::Texts() const {
  std::vector<std::string> texts;
  for (const std::string& line : testutil::ReadLines(file_)) {
    const std::size_t sep = line.find(" : ");
    texts.push_back(sep == std::string::npos ? line : line.substr(sep + 3));
  }
  return texts;
}

bool TestLog::Has(const std::string& text) const { return Count(text) > 0; }

int TestLog::Count(const std::string& text) const {
  const std::vector<std::string> texts = Texts();
  return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

}  // namespace testdb
