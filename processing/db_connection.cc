// The run's one connection: opening it from the configuration, closing or
// abandoning it, and the run's transaction.
#include <soci/soci.h>

#include "processing/db_firebird_tx.h"
#include "processing/db_internal.h"
#include "processing/retorno.h"
#include "processing/runparams.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/except.h"
#include "qsmlib/platform/pump.h"

TDbDataSet* DbDataSet = nullptr;

namespace {

constexpr const char* kMaskedPassword = "********";

// Logs the failure, writes the failure retorno and ends the process.
[[noreturn]] void FailOpen(const std::vector<std::string>& lines, const std::string& retorno, int exitCode) {
  for (const std::string& line : lines) WriteLog(line);
  GenerateRetorno(3, retorno);
  EndProcess(exitCode);
}

// Ends the session without keeping anything it did not commit: the Firebird
// client would commit an open transaction when the session goes.
void DropSession() {
  TDbState& db = Db();
  ReleaseStatements();
  if (db.session) {
    try {
      db.session->rollback();
    } catch (const std::exception&) {
    }
  }
  db.session.reset();
  db.inTransaction = false;
  db.implicitOpen = false;
  db.firebird = false;
}

}  // namespace

TDbState::TDbState() = default;

TDbState::~TDbState() {
  // The Firebird client commits whatever is open when a session is destroyed:
  // a process that never closed its connection must not keep half a run.
  try {
    if (session) session->rollback();
  } catch (const std::exception&) {
  }
  try {
    ReleaseStatements();
    session.reset();
  } catch (const std::exception&) {
  }
}

TDbState& Db() {
  static TDbState state;
  return state;
}

std::string DbErrorMessage(const std::exception& e) {
  const auto* soci_error = dynamic_cast<const soci::soci_error*>(&e);
  const std::string raw = soci_error != nullptr ? soci_error->get_error_message() : std::string(e.what());
  // One log line per message: the lines of a multi-line report joined by a blank.
  std::string out;
  bool pendingBlank = false;
  for (char c : raw) {
    if (c == '\r' || c == '\n') {
      pendingBlank = !out.empty();
      continue;
    }
    if (pendingBlank) out += ' ';
    pendingBlank = false;
    out += c;
  }
  return out;
}

soci::session& DbSession() {
  TDbState& db = Db();
  if (!db.session) throw Exception("A conexao com o banco de dados nao esta aberta.");
  return *db.session;
}

void FinishOutsideWork() {
  TDbState& db = Db();
  // Firebird and Oracle keep what runs outside a transaction in one of their
  // own until it is committed; ODBC connections commit each statement.
  if (db.inTransaction || !(db.firebird || DbKind == TDbKind::Oracle)) return;
  // Committing ends the rows of open data sets: they are closed first so that
  // none of them reads from a cursor that no longer exists.
  for (TDbDataSet* ds : std::set<TDbDataSet*>(db.openDataSets)) ds->Close();
  db.session->commit();
  db.implicitOpen = false;
}

void RefreshOutsideReads() {
  TDbState& db = Db();
  if (db.inTransaction || !db.firebird || !db.implicitOpen || !db.openDataSets.empty()) return;
  db.session->commit();
  db.implicitOpen = false;
}

void OpenDatabase() {
  WriteLog("Inicia rotina para conectar ao banco de dados.");
  WriteLog("Tenta recuperar os parâmetros para conexão com o banco de dados."_cp);
  DatabaseConfig config;
  if (ReadDatabaseConfig(config)) {
    WriteLog("Conseguiu abrir a chave de registro.");
    WriteLog("Parâmetros para conexão : Database - "_cp + config.Database);
    WriteLog("Parâmetros para conexão : Usuario  - "_cp + config.Usuario);
    // The password never reaches the log, not even its length.
    WriteLog("Parâmetros para conexão : Senha    - "_cp + kMaskedPassword);
    WriteLog("Parâmetros para conexão : Servidor - "_cp + config.Serv);
    WriteLog("Parâmetros para conexão : SGBD     - "_cp + config.SGBD);
  } else {
    WriteLog("Não conseguiu obter os parâmetros para conexão com o banco de dados."_cp);
  }

  TDbKind kind;
  if (!ParseDbKind(config.SGBD, kind)) {
    const std::string message =
        "O banco de dados "_cp + config.SGBD + " não é suportado! O sistema será finalizado!"_cp;
    FailOpen({message}, message, 1);
  }
  DbKind = kind;

  TDbState& db = Db();
  DropSession();
  WriteLog("Cria o componente para acesso ao banco de dados.");
  try {
    CoInitialize();
    db.session = std::make_unique<soci::session>();
  } catch (const std::exception& e) {
    const std::string line = "Erro ao criar o componente para acesso ao banco de dados.";
    FailOpen({line, "Erro : " + DbErrorMessage(e)}, line, 1);
  }
  WriteLog("Criou o componente para acesso ao banco de dados.");

  WriteLog("Inicia a configuração do componente de acesso ao banco de dados."_cp);
  TDbTarget target;
  try {
    target = ConnectionTarget(kind, ConnectionParameterLines(kind, config));
  } catch (const std::exception& e) {
    const std::string line = "Erro ao tentar configurar e abrir a conexão com o banco de dados."_cp;
    const std::string detail = "Erro : " + DbErrorMessage(e);
    db.session.reset();
    CoUninitialize();
    FailOpen({line, detail}, line, 2);
  }
  try {
    // A backend or client library missing on the machine fails here too.
    db.session->open(target.backend, target.connectString);
    db.firebird = target.backend == "firebird";
    if (db.firebird) db.session->commit();  // start from no transaction at all
  } catch (const std::exception& e) {
    const std::string line = "Erro ao tentar abrir a conexao com o banco de dados : " + DbErrorMessage(e);
    db.session.reset();
    db.firebird = false;
    FailOpen({line}, line, 2);
  }
  WriteLog("Conexão aberta com o banco de dados."_cp);

  WriteLog("Vai criar o componente de acesso ao banco de dados.");
  try {
    delete DbDataSet;
    DbDataSet = new TDbDataSet();
  } catch (const std::exception& e) {
    const std::string line = "Erro ao criar o componente de acesso ao banco de dados.";
    FailOpen({line, DbErrorMessage(e)}, line, 1);
  }
  WriteLog("Criou o componente de acesso ao banco de dados.");
}

void CloseDatabase() {
  TDbState& db = Db();
  if (db.session) {
    WriteLog("Fecha a conexão com o banco de dados."_cp);
    // Every road that keeps its work has committed by now; whatever is still
    // open (an empty run transaction, a read view) is ended without effect.
    DropSession();
    delete DbDataSet;
    DbDataSet = nullptr;
    CoUninitialize();
  }
  if (Log) {
    Log->Flush();
    Log->Finish();
    delete Log;
    Log = nullptr;
  }
}

void AbandonDatabase() {
  TDbState& db = Db();
  if (db.session) {
    try {
      DropSession();
    } catch (const std::exception&) {
      // Dropped either way; nothing uncommitted survives a lost connection.
    }
    db.session.reset();
    db.inTransaction = false;
    CoUninitialize();
  }
  delete DbDataSet;
  DbDataSet = nullptr;
}

bool InTransaction() { return Db().inTransaction; }

void BeginTransaction() {
  TDbState& db = Db();
  if (db.inTransaction) return;
  soci::session& session = DbSession();
  // Anything run before outside the run's transaction ends here, so that the
  // run's work starts from a fresh view of the database.
  if (db.implicitOpen) {
    for (TDbDataSet* ds : std::set<TDbDataSet*>(db.openDataSets)) ds->Close();
    session.commit();
    db.implicitOpen = false;
  }
  if (db.firebird)
    BeginFirebirdReadCommitted(session);
  else
    session.begin();
  db.inTransaction = true;
}

void CommitTransaction() {
  TDbState& db = Db();
  if (!db.inTransaction) return;
  for (TDbDataSet* ds : std::set<TDbDataSet*>(db.openDataSets)) ds->Close();
  DbSession().commit();
  db.inTransaction = false;
}

void RollbackTransaction() {
  TDbState& db = Db();
  if (!db.inTransaction) return;
  for (TDbDataSet* ds : std::set<TDbDataSet*>(db.openDataSets)) ds->Close();
  DbSession().rollback();
  db.inTransaction = false;
}
