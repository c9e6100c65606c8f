// Statements on the run's connection: plain texts, commands with bound values
// prepared once per text, stored procedures, generators and the server clock.
#include <cctype>
#include <functional>
#include <soci/soci.h>

#include "processing/db_internal.h"
#include "processing/retorno.h"
#include "processing/runparams.h"
#include "processing/sqlliteral.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/except.h"
#include "qsmlib/helpers.h"

namespace {

constexpr const char* kGeneratorProcedure = "TRV_GEN_INCREMENTA";

bool IsNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Walks the statement and hands every ":name" outside quoted text to onPlaceholder,
// which appends what replaces it; everything else is copied.
std::string MapPlaceholders(const std::string& sql,
                            const std::function<void(const std::string&, std::string&)>& onPlaceholder) {
  std::string out;
  out.reserve(sql.size() + 16);
  bool quoted = false;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == ':' && i + 1 < sql.size() && IsNameChar(sql[i + 1])) {
      std::size_t end = i + 1;
      while (end < sql.size() && IsNameChar(sql[end])) ++end;
      onPlaceholder(sql.substr(i + 1, end - i - 1), out);
      i = end - 1;
      continue;
    }
    out += c;
  }
  return out;
}

// ":p3" names the third value; -1 for any other name.
int ValueIndex(const std::string& name, std::size_t count) {
  if (name.size() < 2 || (name[0] != 'p' && name[0] != 'P')) return -1;
  int n = 0;
  for (std::size_t i = 1; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 100000) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n >= 1 && static_cast<std::size_t>(n) <= count ? n - 1 : -1;
}

std::string Literal(const TSqlValue& v) {
  switch (v.kind) {
    case TSqlValue::Kind::Null:
      return "NULL";
    case TSqlValue::Kind::Text:
      return SqlQuoted(v.text);
    case TSqlValue::Kind::Number:
      return SqlNumberLiteral(ReplaceChar(v.text, '.', ','), DbKind);
    case TSqlValue::Kind::DateTime:
      return SqlDateLiteral(DateTimeToStr(v.dateTime), DbKind);
  }
  return {};
}

// "1.5E3" -> "1500", "1E-6" -> "0.000001": drivers that take decimal text do
// not all read the exponent form.
std::string PlainDecimal(const std::string& text) {
  const std::size_t e = text.find_first_of("eE");
  if (e == std::string::npos) return text;
  std::string mantissa = text.substr(0, e);
  int exponent = 0;
  try {
    exponent = std::stoi(text.substr(e + 1));
  } catch (const std::exception&) {
    return text;  // the database reports it
  }
  std::string sign;
  if (!mantissa.empty() && (mantissa[0] == '-' || mantissa[0] == '+')) {
    if (mantissa[0] == '-') sign = "-";
    mantissa.erase(0, 1);
  }
  std::size_t point = mantissa.find('.');
  std::string digits = mantissa;
  if (point == std::string::npos) {
    point = mantissa.size();
  } else {
    digits.erase(point, 1);
  }
  long pos = static_cast<long>(point) + exponent;
  if (pos <= 0) {
    digits = "0." + std::string(static_cast<std::size_t>(-pos), '0') + digits;
  } else if (static_cast<std::size_t>(pos) >= digits.size()) {
    digits += std::string(static_cast<std::size_t>(pos) - digits.size(), '0');
  } else {
    digits.insert(static_cast<std::size_t>(pos), ".");
  }
  return sign + digits;
}

std::tm ToTm(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;
  return tm;
}

// How each value is bound: 'D' a date-time, 'N' a number (Firebird, where the
// engine converts the text itself), 'T' text (and NULL). Appended to out.
void AppendBindingSignature(const TSqlCommand& command, bool firebird, std::string& out) {
  for (const TSqlValue& v : command.values) {
    if (v.kind == TSqlValue::Kind::DateTime)
      out += 'D';
    else if (v.kind == TSqlValue::Kind::Number && firebird)
      out += 'N';
    else
      out += 'T';
  }
}

std::unique_ptr<TPreparedCommand> Prepare(soci::session& session, const TSqlCommand& command,
                                          const std::string& signature, bool query = false) {
  auto p = std::make_unique<TPreparedCommand>();
  const std::size_t n = command.values.size();
  p->texts.resize(n);
  p->times.resize(n);
  p->indicators.resize(n, soci::i_ok);
  std::vector<int> bound;
  // A number is handed to Firebird as text and converted by the engine, as a
  // literal would be: rounding to the column's scale and exponent forms
  // behave the same.
  const std::string sql = MapPlaceholders(command.sql, [&](const std::string& name, std::string& out) {
    const int i = ValueIndex(name, n);
    if (i >= 0) bound.push_back(i);
    if (i >= 0 && signature[static_cast<std::size_t>(i)] == 'N')
      out += "CAST(:" + name + " AS VARCHAR(64))";
    else
      out += ":" + name;
  });
  p->statement = std::make_unique<soci::statement>(session);
  if (query) p->statement->exchange(soci::into(p->result, p->resultIndicator));
  for (int i : bound) {
    const std::string name = "p" + std::to_string(i + 1);
    const std::size_t k = static_cast<std::size_t>(i);
    if (signature[k] == 'D')
      p->statement->exchange(soci::use(p->times[k], p->indicators[k], name));
    else
      p->statement->exchange(soci::use(p->texts[k], p->indicators[k], name));
  }
  p->statement->alloc();
  p->statement->prepare(sql);
  p->statement->define_and_bind();
  return p;
}

void Assign(TPreparedCommand& p, const TSqlCommand& command, bool firebird) {
  for (std::size_t i = 0; i < command.values.size(); ++i) {
    const TSqlValue& v = command.values[i];
    p.indicators[i] = v.kind == TSqlValue::Kind::Null ? soci::i_null : soci::i_ok;
    switch (v.kind) {
      case TSqlValue::Kind::Null:
        p.texts[i].clear();
        break;
      case TSqlValue::Kind::Text:
        p.texts[i] = v.text;
        break;
      case TSqlValue::Kind::Number:
        p.texts[i] = firebird ? v.text : PlainDecimal(v.text);
        break;
      case TSqlValue::Kind::DateTime:
        p.times[i] = ToTm(v.dateTime);
        break;
    }
  }
}

void CheckIdentifier(const std::string& name) {
  if (name.empty()) throw Exception("Nome de procedure vazio.");
  for (char c : name)
    if (!IsNameChar(c) && c != '$') throw Exception("Nome de procedure invalido: " + name);
}

std::string ServerDateTimeQuery(TDbKind kind) {
  switch (kind) {
    case TDbKind::Oracle:
      return "select sysdate as DATA_SERVER from dual";
    case TDbKind::MsSql:
      return "SELECT getdate() AS DATA_SERVER";
    case TDbKind::InterBase:
      return "SELECT CURRENT_TIMESTAMP AS DATA_SERVER FROM rdb$database";
    case TDbKind::DB2:
      return "SELECT CURRENT TIMESTAMP AS DATA_SERVER FROM SYSIBM.SYSDUMMY1";
  }
  return {};
}

// The generator call of each kind, prepared once per connection: texts[0] is
// the name, texts[1] receives the value.
std::unique_ptr<TPreparedCommand> PrepareGenerator(soci::session& session, TDbKind kind) {
  auto p = std::make_unique<TPreparedCommand>();
  p->texts.resize(2);
  p->indicators.resize(2, soci::i_ok);
  std::string sql;
  p->statement = std::make_unique<soci::statement>(session);
  switch (kind) {
    case TDbKind::InterBase:
      // An executable procedure's outputs come back only through a block that
      // hands them on as a row (no colon may appear inside the body).
      sql = std::string("EXECUTE BLOCK (G VARCHAR(63) = :g) RETURNS (R VARCHAR(30)) AS BEGIN EXECUTE PROCEDURE ") +
            kGeneratorProcedure + " G RETURNING_VALUES R; SUSPEND; END";
      p->statement->exchange(soci::use(p->texts[0], "g"));
      p->statement->exchange(soci::into(p->texts[1], p->indicators[1]));
      break;
    case TDbKind::MsSql:
      // Output parameters do not come back through this client: the batch
      // selects the value instead.
      sql = std::string("SET NOCOUNT ON; DECLARE @r VARCHAR(30); EXEC ") + kGeneratorProcedure +
            " @INC_GENERATOR = :g, @RETORNO = @r OUTPUT; SELECT @r AS RETORNO";
      p->statement->exchange(soci::use(p->texts[0], "g"));
      p->statement->exchange(soci::into(p->texts[1], p->indicators[1]));
      break;
    case TDbKind::Oracle:
      sql = std::string("begin ") + kGeneratorProcedure + "(:g, :r); end;";
      p->statement->exchange(soci::use(p->texts[0], "g"));
      p->statement->exchange(soci::use(p->texts[1], p->indicators[1], "r"));
      break;
    case TDbKind::DB2:
      // Reached through OdbcCallWithOutput instead (RunGenerator).
      throw Exception(std::string("Chamada de ") + kGeneratorProcedure + " sem comando preparado no DB2.");
  }
  p->statement->alloc();
  p->statement->prepare(sql);
  p->statement->define_and_bind();
  return p;
}

std::string RunGenerator(const std::string& name) {
  TDbState& db = Db();
  soci::session& session = DbSession();
  // DB2 has no batch that selects the output: the call binds it directly.
  if (DbKind == TDbKind::DB2) return OdbcCallWithOutput(kGeneratorProcedure, name);
  if (!db.generator) db.generator = PrepareGenerator(session, DbKind);
  TPreparedCommand& g = *db.generator;
  g.texts[0] = name;
  g.texts[1].clear();
  g.indicators[1] = DbKind == TDbKind::Oracle ? soci::i_null : soci::i_ok;
  const bool gotRow = g.statement->execute(true);
  if (!gotRow && DbKind != TDbKind::Oracle)
    throw Exception(std::string(kGeneratorProcedure) + " nao devolveu valor para " + name + ".");
  return g.indicators[1] == soci::i_null ? std::string() : g.texts[1];
}

}  // namespace

std::string TSqlCommand::Text() const {
  return MapPlaceholders(sql, [&](const std::string& name, std::string& out) {
    const int i = ValueIndex(name, values.size());
    if (i < 0)
      out += ":" + name;
    else
      out += Literal(values[static_cast<std::size_t>(i)]);
  });
}

void ReleaseStatements() {
  TDbState& db = Db();
  for (TDbDataSet* ds : std::set<TDbDataSet*>(db.openDataSets)) ds->Close();
  db.openDataSets.clear();
  db.prepared.clear();
  db.generator.reset();
}

bool ExecuteSql(const std::string& statement) {
  try {
    TDbState& db = Db();
    soci::session& session = DbSession();
    if (!db.inTransaction && db.firebird) db.implicitOpen = true;
    session.once << statement;
    FinishOutsideWork();
    WriteLog("Comando realizado com sucesso.");
    return true;
  } catch (const std::exception& e) {
    WriteLog("Erro na execucao da SQL. Erro:: " + DbErrorMessage(e) + ", Segue query com erro: " + statement);
    return false;
  }
}

bool ExecuteSql(const TSqlCommand& command) {
  static const std::string done = "Comando realizado com sucesso.";
  TDbState& db = Db();
  try {
    soci::session& session = DbSession();
    // The cache key: the binding signature, a line break, the text. Built in
    // storage kept from call to call, as every record of an import runs here.
    std::string& key = db.commandKey;
    key.clear();
    AppendBindingSignature(command, db.firebird, key);
    const std::size_t signatureLength = key.size();
    key += '\n';
    key += command.sql;
    auto it = db.prepared.find(key);
    if (it == db.prepared.end())
      it = db.prepared.emplace(key, Prepare(session, command, key.substr(0, signatureLength))).first;
    TPreparedCommand& p = *it->second;
    Assign(p, command, db.firebird);
    if (!db.inTransaction && db.firebird) db.implicitOpen = true;
    p.statement->execute(true);
    FinishOutsideWork();
    WriteLog(done);
    return true;
  } catch (const std::exception& e) {
    WriteLog("Erro na execucao da SQL. Erro:: " + DbErrorMessage(e) + ", Segue query com erro: " + command.Text());
    return false;
  }
}

bool QueryHasRow(const TSqlCommand& query) {
  TDbState& db = Db();
  try {
    soci::session& session = DbSession();
    std::string& key = db.commandKey;
    key = "Q";  // queries and statements of the same text are prepared apart
    AppendBindingSignature(query, db.firebird, key);
    const std::string signature = key.substr(1);
    key += '\n';
    key += query.sql;
    auto it = db.prepared.find(key);
    if (it == db.prepared.end()) it = db.prepared.emplace(key, Prepare(session, query, signature, true)).first;
    TPreparedCommand& p = *it->second;
    Assign(p, query, db.firebird);
    if (!db.inTransaction && db.firebird) db.implicitOpen = true;
    return p.statement->execute(true);
  } catch (const std::exception& e) {
    WriteLog("Erro no processameto de descarga automatica: " + DbErrorMessage(e) + ", Segue query com erro: " +
             query.Text());
    return false;
  }
}

TDateTime ReadServerDateTime() {
  try {
    if (DbDataSet == nullptr) throw Exception("A conexao com o banco de dados nao esta aberta.");
    OpenQuery(*DbDataSet, ServerDateTimeQuery(DbKind));
    return DbDataSet->FieldAsDateTime("DATA_SERVER");
  } catch (const std::exception& e) {
    const std::string line = "Erro ao tentar obter a data e hora do banco de dados. Erro : " + DbErrorMessage(e);
    WriteLog(line);
    GenerateRetorno(3, line);
    EndProcess(11);
  }
}

std::string CurrentTimestampExpression() {
  switch (DbKind) {
    case TDbKind::Oracle:
      return OracleToDate(DateTimeToStr(ReadServerDateTime()));
    case TDbKind::MsSql:
      return "GETDATE()";
    case TDbKind::InterBase:
      return "CURRENT_TIMESTAMP";
    case TDbKind::DB2:
      return "CURRENT TIMESTAMP";
  }
  return {};
}

std::string NextGeneratorValue(const std::string& generatorName) {
  try {
    const bool wasActive = InTransaction();
    if (!wasActive) BeginTransaction();
    std::string value = RunGenerator(UpperCase(generatorName));
    if (!wasActive) CommitTransaction();
    return value;
  } catch (const std::exception& e) {
    const std::string line = "Não foi possível obter o incremental : "_cp + generatorName;
    WriteLog(line);
    WriteLog("Erro : " + DbErrorMessage(e));
    GenerateRetorno(3, line);
    EndProcess(12);
  }
}

void ExecuteStoredProcedure(const std::string& name, const std::vector<std::string>& textParams) {
  try {
    TDbState& db = Db();
    soci::session& session = DbSession();
    const std::string procedure = UpperCase(name);
    CheckIdentifier(procedure);
    std::vector<std::string> values = textParams;
    std::string sql;
    switch (DbKind) {
      case TDbKind::InterBase: {
        // Parameters the program does not set go in as NULL, so the call
        // needs to know how many inputs the procedure declares.
        int declared = 0;
        session << "SELECT COUNT(*) FROM RDB$PROCEDURE_PARAMETERS WHERE RDB$PROCEDURE_NAME = :n"
                   " AND RDB$PARAMETER_TYPE = 0 AND RDB$PACKAGE_NAME IS NULL",
            soci::use(procedure, "n"), soci::into(declared);
        if (values.size() > static_cast<std::size_t>(declared)) values.resize(static_cast<std::size_t>(declared));
        std::string inputs, args;
        for (int i = 0; i < declared; ++i) {
          const std::string p = "P" + std::to_string(i + 1);
          if (static_cast<std::size_t>(i) < values.size()) {
            if (!inputs.empty()) inputs += ", ";
            inputs += p + " VARCHAR(1000) = :" + LowerCase(p);
          }
          if (!args.empty()) args += ", ";
          args += static_cast<std::size_t>(i) < values.size() ? p : "NULL";
        }
        sql = "EXECUTE BLOCK" + (inputs.empty() ? std::string() : " (" + inputs + ")") +
              " AS BEGIN EXECUTE PROCEDURE " + procedure + (args.empty() ? "" : " " + args) + "; END";
        break;
      }
      case TDbKind::MsSql:
        sql = "EXEC " + procedure;
        for (std::size_t i = 0; i < values.size(); ++i) sql += (i ? ", :p" : " :p") + std::to_string(i + 1);
        break;
      case TDbKind::DB2:
      case TDbKind::Oracle: {
        std::string args;
        for (std::size_t i = 0; i < values.size(); ++i) args += (i ? ", :p" : ":p") + std::to_string(i + 1);
        sql = DbKind == TDbKind::DB2 ? "CALL " + procedure + "(" + args + ")"
                                     : "begin " + procedure + "(" + args + "); end;";
        break;
      }
    }
    if (!db.inTransaction && db.firebird) db.implicitOpen = true;
    soci::statement st(session);
    for (std::size_t i = 0; i < values.size(); ++i) st.exchange(soci::use(values[i], "p" + std::to_string(i + 1)));
    st.alloc();
    st.prepare(sql);
    st.define_and_bind();
    st.execute(true);
    FinishOutsideWork();
  } catch (const Exception&) {
    throw;
  } catch (const std::exception& e) {
    throw Exception(DbErrorMessage(e));
  }
}
