// Where the connection comes from: the configuration file, the database kind,
// the parameter lines and their client settings, and every way opening fails.
#include <gtest/gtest.h>

#include <functional>

#include "processing/database.h"
#include "processing/runparams.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/except.h"
#include "support/testdb.h"

namespace {

DatabaseConfig Sample() {
  DatabaseConfig c;
  c.Database = "/srv/db/back office.fdb";
  c.Usuario = "SYSDBA";
  c.Senha = "s3cr;et}";
  c.Serv = "dbhost";
  c.SGBD = "InterBase";
  return c;
}

TEST(ConnectionParameterLines, EachKindInItsOrderWithValuesAsGiven) {
  const DatabaseConfig c = Sample();
  EXPECT_EQ(ConnectionParameterLines(TDbKind::InterBase, c),
            (std::vector<std::string>{"DriverName=Interbase", "BlobSize=-1", "CommitRetain=False",
                                      "Database=dbhost:/srv/db/back office.fdb", "ErrorResourceFile=",
                                      "LocaleCode=0000", "Password=s3cr;et}", "RoleName=RoleName", "ServerCharSet=",
                                      "SQLDialect=1", "Interbase TransIsolation=ReadCommited", "User_Name=SYSDBA",
                                      "WaitOnLocks=True", "Trim Char=False"}));
  EXPECT_EQ(ConnectionParameterLines(TDbKind::MsSql, c),
            (std::vector<std::string>{"BlobSize=-1", "HostName=dbhost", "DataBase=/srv/db/back office.fdb",
                                      "DriverName=SQLServer", "User_Name=SYSDBA", "Password=s3cr;et}",
                                      "LongStrings=True", "EnableBCD=False", "FetchAll=False",
                                      "Connection Timeout=200"}));
  EXPECT_EQ(ConnectionParameterLines(TDbKind::Oracle, c),
            (std::vector<std::string>{"BlobSize=-1", "DataBase=/srv/db/back office.fdb",
                                      "DriverName=Oracle (Core Lab)", "ErrorResourceFile=", "LocaleCode=0000",
                                      "Password=s3cr;et}", "Oracle TransIsolation=ReadCommited", "RoleName=Normal",
                                      "User_Name=SYSDBA", "LongStrings=True", "EnableBCD=False", "InternalName=",
                                      "UseQuoteChar=False", "FetchAll=False", "CharLength=0", "Charset="}));
  EXPECT_EQ(ConnectionParameterLines(TDbKind::DB2, c),
            (std::vector<std::string>{"DataBase=/srv/db/back office.fdb", "Password=s3cr;et}", "User_Name=SYSDBA",
                                      "BlobSize=-1", "DriverName=DB2", "ErrorResourceFile=", "LocaleCode=0000",
                                      "DbxDB2 TransIsolation=ReadCommited", "RowsetSize=20"}));
}

TEST(ConnectionParameterLines, InterBaseWithoutServerJoinsAnEmptyHost) {
  DatabaseConfig c = Sample();
  c.Serv = "";
  EXPECT_EQ(ConnectionParameterLines(TDbKind::InterBase, c)[3], "Database=:/srv/db/back office.fdb");
}

TEST(ConnectionTarget, MapsTheLinesToTheClientSettings) {
  DatabaseConfig c = Sample();
  TDbTarget t = ConnectionTarget(TDbKind::InterBase, ConnectionParameterLines(TDbKind::InterBase, c));
  EXPECT_EQ(t.backend, "firebird");
  EXPECT_EQ(t.connectString,
            "service=\"dbhost:/srv/db/back office.fdb\" user=SYSDBA password=s3cr;et} charset=WIN1252 "
            "decimals_as_strings=1");

  c.Serv = "";  // no server: the file itself, opened in-process
  c.Senha = "";
  t = ConnectionTarget(TDbKind::InterBase, ConnectionParameterLines(TDbKind::InterBase, c));
  EXPECT_EQ(t.connectString,
            "service=\"/srv/db/back office.fdb\" user=SYSDBA password=\"\" charset=WIN1252 decimals_as_strings=1");

  c = Sample();
  t = ConnectionTarget(TDbKind::MsSql, ConnectionParameterLines(TDbKind::MsSql, c));
  EXPECT_EQ(t.backend, "odbc");
  // Braced values keep ';' and '}' inside the password.
  EXPECT_NE(t.connectString.find(";SERVER={dbhost};DATABASE={/srv/db/back office.fdb};UID={SYSDBA};PWD={s3cr;et}}}"),
            std::string::npos)
      << t.connectString;

  t = ConnectionTarget(TDbKind::DB2, ConnectionParameterLines(TDbKind::DB2, c));
  EXPECT_EQ(t.backend, "odbc");
  EXPECT_EQ(t.connectString,
            "DRIVER={IBM DB2 ODBC DRIVER};DATABASE={/srv/db/back office.fdb};UID={SYSDBA};PWD={s3cr;et}}}");
  t = ConnectionTarget(TDbKind::Oracle, ConnectionParameterLines(TDbKind::Oracle, c));
  EXPECT_EQ(t.backend, "oracle");

  c.Senha = "a \"b";  // a blank and a double quote: the client string cannot carry it
  EXPECT_THROW(ConnectionTarget(TDbKind::InterBase, ConnectionParameterLines(TDbKind::InterBase, c)), Exception);
}

TEST(ParseDbKind, ExactAndCaseSensitive) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"Oracle", 0}, {"MsSql", 1},     {"InterBase", 2}, {"DB2", 3},        {"interbase", -1},
      {"INTERBASE", -1}, {"mssql", -1}, {"db2", -1},      {"InterBase ", -1}, {"", -1}};
  for (const auto& [text, expected] : cases) {
    TDbKind kind = TDbKind::Oracle;
    const bool ok = ParseDbKind(text, kind);
    EXPECT_EQ(ok ? static_cast<int>(kind) : -1, expected) << "[" << text << "]";
  }
}

// OpenDatabase in this process, against a database created for the test.
class OpenDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db.UseInProcess();
    OutputFile = out.path() + "/retorno.zfx";
  }
  void TearDown() override {
    AbandonDatabase();
    OutputFile.clear();
    DbKind = TDbKind::InterBase;
  }
  // The exit code OpenDatabase ended the process with; 0 when it returned.
  int Open() {
    try {
      OpenDatabase();
    } catch (const TEndProcess& end) {
      return end.ExitCode;
    }
    return 0;
  }

  testdb::TestDatabase db;
  testdb::TestLog log;
  testutil::TempDir out;
};

TEST_F(OpenDatabaseTest, OpensWithTheLogLinesAndAMaskedPassword) {
  ASSERT_EQ(Open(), 0);
  EXPECT_NE(DbDataSet, nullptr);
  EXPECT_EQ(DbKind, TDbKind::InterBase);
  const std::vector<std::string> expected = {
      "Inicia rotina para conectar ao banco de dados.",
      "Tenta recuperar os parâmetros para conexão com o banco de dados."_cp,
      "Conseguiu abrir a chave de registro.",
      "Parâmetros para conexão : Database - "_cp + db.path(),
      "Parâmetros para conexão : Usuario  - SYSDBA"_cp,
      "Parâmetros para conexão : Senha    - ********"_cp,
      "Parâmetros para conexão : Servidor - "_cp,
      "Parâmetros para conexão : SGBD     - InterBase"_cp,
      "Cria o componente para acesso ao banco de dados.",
      "Criou o componente para acesso ao banco de dados.",
      "Inicia a configuração do componente de acesso ao banco de dados."_cp,
      "Conexão aberta com o banco de dados."_cp,
      "Vai criar o componente de acesso ao banco de dados.",
      "Criou o componente de acesso ao banco de dados."};
  std::vector<std::string> texts = log.Texts();
  ASSERT_FALSE(texts.empty());
  texts.erase(texts.begin());  // the log's start marker
  EXPECT_EQ(texts, expected);
  EXPECT_EQ(testutil::ReadFileBytes(log.fileName()).find(db.Config().Senha), std::string::npos);
}

struct FailureCase {
  const char* name;
  std::function<void(testdb::TestDatabase&)> arrange;
  int exitCode;
  std::string lastLinePrefix;
};

TEST_F(OpenDatabaseTest, EveryFailureEndsWithItsCodeAndLine) {
  const std::string unsupported = " não é suportado! O sistema será finalizado!"_cp;
  const std::vector<FailureCase> cases = {
      {"missing INI file", [](testdb::TestDatabase& d) { ::setenv("VERUVAV_CONFIG", (d.dir() + "/nada.ini").c_str(), 1); },
       1, "O banco de dados " + unsupported},
      {"wrong-case SGBD",
       [](testdb::TestDatabase& d) {
         DatabaseConfig c = d.Config();
         c.SGBD = "interbase";
         d.WriteConfig(c);
       },
       1, "O banco de dados interbase" + unsupported},
      {"missing database file",
       [](testdb::TestDatabase& d) {
         DatabaseConfig c = d.Config();
         c.Database = d.dir() + "/nao-existe.fdb";
         d.WriteConfig(c);
       },
       2, "Erro ao tentar abrir a conexao com o banco de dados : "},
      {"server that does not answer",
       [](testdb::TestDatabase& d) {
         DatabaseConfig c = d.Config();
         c.Serv = "127.0.0.1/1";
         d.WriteConfig(c);
       },
       2, "Erro ao tentar abrir a conexao com o banco de dados : "},
      {"backend library not installed",
       [](testdb::TestDatabase& d) {
         DatabaseConfig c = d.Config();
         c.SGBD = "Oracle";
         d.WriteConfig(c);
       },
       2, "Erro ao tentar abrir a conexao com o banco de dados : "},
      {"password the client cannot carry",
       [](testdb::TestDatabase& d) {
         DatabaseConfig c = d.Config();
         c.Senha = "a \"b";
         d.WriteConfig(c);
       },
       2, "Erro : "},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    db.UseInProcess();
    db.WriteConfig(db.Config());
    c.arrange(db);
    const std::size_t before = log.Texts().size();
    EXPECT_EQ(Open(), c.exitCode);
    EXPECT_EQ(DbDataSet, nullptr);
    const std::vector<std::string> texts = log.Texts();
    // The failure's line comes before whatever the retorno writes.
    bool found = false;
    for (std::size_t i = before; i < texts.size(); ++i)
      if (texts[i].rfind(c.lastLinePrefix, 0) == 0) found = true;
    EXPECT_TRUE(found) << c.lastLinePrefix;
    EXPECT_FALSE(log.Has("Conexão aberta com o banco de dados."_cp));
    AbandonDatabase();
  }
  EXPECT_TRUE(log.Has("Não conseguiu obter os parâmetros para conexão com o banco de dados."_cp));
  EXPECT_TRUE(log.Has("Erro ao tentar configurar e abrir a conexão com o banco de dados."_cp));
}

// The whole program: a descarga whose database cannot be opened ends with
// exit code 2 and changes nothing.
TEST(OpenDatabaseProgram, MissingDatabaseFileEndsTheRunWithCode2) {
  testdb::TestDatabase db;
  DatabaseConfig c = db.Config();
  c.Database = db.dir() + "/nao-existe.fdb";
  db.WriteConfig(c);
  testutil::TempDir work;
  testutil::MakeDirs(work / "out");
  testutil::WriteFileBytes(work / "descarga.zfx", "not a package");
  const testutil::RunResult r =
      testutil::RunProgram(VERUVAV_BINARY,
                           {"-I", work / "descarga.zfx", "-O", work / "out/retorno.zfx", "-S", "teste", "-A", "DF", "-U", "job"},
                           work.path(), db.Env());
  EXPECT_EQ(r.exitCode, 2) << r.output;
  const std::string logText = testutil::ReadFileBytes(work / "debug_veruvav.txt");
  EXPECT_NE(logText.find("Erro ao tentar abrir a conexao com o banco de dados : "), std::string::npos);
  EXPECT_NE(logText.find("Senha    - ********"), std::string::npos);
  EXPECT_EQ(logText.find(c.Senha), std::string::npos);
}

}  // namespace
