// Where the connection comes from: the configuration file, the database kind,
// the kind's parameter lines, and the client settings they map to.
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>

#include "processing/database.h"
#include "qsmlib/except.h"
#include "qsmlib/platform/inifile.h"

namespace {

constexpr const char* kDefaultConfigFile = "/etc/veruvav/veruvav.ini";
constexpr const char* kConfigSection = "VerUvav";
constexpr const char* kOdbcInstFile = "/etc/odbcinst.ini";

std::map<std::string, std::string> LinesToMap(const std::vector<std::string>& lines) {
  std::map<std::string, std::string> values;
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    values.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return values;
}

// One value of a "key=value key=value" client string (Firebird, Oracle): a value
// with blanks goes between double quotes, which then cannot appear inside it.
std::string SociValue(const std::string& value) {
  bool blank = false;
  for (unsigned char c : value)
    if (std::isspace(c)) blank = true;
  if (!value.empty() && !blank && value[0] != '"') return value;
  if (value.find('"') != std::string::npos)
    throw Exception("O valor \"" + value + "\" nao pode ser passado ao cliente do banco de dados.");
  return "\"" + value + "\"";
}

// One ODBC attribute value, always braced so that ';' or '=' inside it stay
// part of the value.
std::string OdbcValue(const std::string& value) {
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// The vendor's driver when the machine registers one, FreeTDS otherwise.
std::string SqlServerOdbcDriver() {
  std::ifstream in(kOdbcInstFile);
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    if (line.rfind("[ODBC Driver 18 for SQL Server]", 0) == 0) return "ODBC Driver 18 for SQL Server";
    if (line.rfind("[ODBC Driver 17 for SQL Server]", 0) == 0) found = "ODBC Driver 17 for SQL Server";
  }
  return found.empty() ? "FreeTDS" : found;
}

}  // namespace

std::string ConfigFileName() {
  const char* env = std::getenv("VERUVAV_CONFIG");
  if (env != nullptr && *env != '\0') return env;
  return kDefaultConfigFile;
}

bool ReadDatabaseConfig(DatabaseConfig& config) {
  const std::string file = ConfigFileName();
  {
    std::ifstream probe(file);
    if (!probe.is_open()) return false;
  }
  const TIniFile ini(file);
  config.Database = ini.ReadString(kConfigSection, "Database", "");
  config.Usuario = ini.ReadString(kConfigSection, "Usuario", "");
  config.Senha = ini.ReadString(kConfigSection, "Senha", "");
  config.Serv = ini.ReadString(kConfigSection, "Serv", "");
  config.SGBD = ini.ReadString(kConfigSection, "SGBD", "");
  return true;
}

bool ParseDbKind(const std::string& sgbd, TDbKind& kind) {
  static const std::pair<const char*, TDbKind> kKinds[] = {
      {"Oracle", TDbKind::Oracle},
      {"MsSql", TDbKind::MsSql},
      {"InterBase", TDbKind::InterBase},
      {"DB2", TDbKind::DB2},
  };
  for (const auto& [text, value] : kKinds) {
    if (sgbd == text) {
      kind = value;
      return true;
    }
  }
  return false;
}

std::vector<std::string> ConnectionParameterLines(TDbKind kind, const DatabaseConfig& c) {
  switch (kind) {
    case TDbKind::Oracle:
      return {"BlobSize=-1",
              "DataBase=" + c.Database,
              "DriverName=Oracle (Core Lab)",
              "ErrorResourceFile=",
              "LocaleCode=0000",
              "Password=" + c.Senha,
              "Oracle TransIsolation=ReadCommited",
              "RoleName=Normal",
              "User_Name=" + c.Usuario,
              "LongStrings=True",
              "EnableBCD=False",
              "InternalName=",
              "UseQuoteChar=False",
              "FetchAll=False",
              "CharLength=0",
              "Charset="};
    case TDbKind::MsSql:
      return {"BlobSize=-1",
              "HostName=" + c.Serv,
              "DataBase=" + c.Database,
              "DriverName=SQLServer",
              "User_Name=" + c.Usuario,
              "Password=" + c.Senha,
              "LongStrings=True",
              "EnableBCD=False",
              "FetchAll=False",
              "Connection Timeout=200"};
    case TDbKind::InterBase:
      return {"DriverName=Interbase",
              "BlobSize=-1",
              "CommitRetain=False",
              "Database=" + c.Serv + ":" + c.Database,
              "ErrorResourceFile=",
              "LocaleCode=0000",
              "Password=" + c.Senha,
              "RoleName=RoleName",
              "ServerCharSet=",
              "SQLDialect=1",
              "Interbase TransIsolation=ReadCommited",
              "User_Name=" + c.Usuario,
              "WaitOnLocks=True",
              "Trim Char=False"};
    case TDbKind::DB2:
      return {"DataBase=" + c.Database,
              "Password=" + c.Senha,
              "User_Name=" + c.Usuario,
              "BlobSize=-1",
              "DriverName=DB2",
              "ErrorResourceFile=",
              "LocaleCode=0000",
              "DbxDB2 TransIsolation=ReadCommited",
              "RowsetSize=20"};
  }
  return {};
}

TDbTarget ConnectionTarget(TDbKind kind, const std::vector<std::string>& lines) {
  std::map<std::string, std::string> p = LinesToMap(lines);
  TDbTarget target;
  switch (kind) {
    case TDbKind::InterBase: {
      // "Serv:path"; with no server the path alone opens the file in-process.
      std::string service = p["Database"];
      if (!service.empty() && service[0] == ':') service.erase(0, 1);
      target.backend = "firebird";
      // Text travels as WIN1252 both ways; exact decimals come back as text.
      target.connectString = "service=" + SociValue(service) +
                             " user=" + SociValue(p["User_Name"]) +
                             " password=" + SociValue(p["Password"]) +
                             " charset=WIN1252 decimals_as_strings=1";
      break;
    }
    case TDbKind::MsSql:
      target.backend = "odbc";
      target.connectString = "DRIVER={" + SqlServerOdbcDriver() + "};SERVER=" + OdbcValue(p["HostName"]) +
                             ";DATABASE=" + OdbcValue(p["DataBase"]) + ";UID=" + OdbcValue(p["User_Name"]) +
                             ";PWD=" + OdbcValue(p["Password"]) + ";ClientCharset=CP1252";
      break;
    case TDbKind::DB2:
      target.backend = "odbc";
      target.connectString = "DRIVER={IBM DB2 ODBC DRIVER};DATABASE=" + OdbcValue(p["DataBase"]) +
                             ";UID=" + OdbcValue(p["User_Name"]) + ";PWD=" + OdbcValue(p["Password"]);
      break;
    case TDbKind::Oracle:
      target.backend = "oracle";
      target.connectString = "service=" + SociValue(p["DataBase"]) +
                             " user=" + SociValue(p["User_Name"]) +
                             " password=" + SociValue(p["Password"]);
      break;
  }
  return target;
}
