// State shared by the database files: the one session, the run's transaction
// and the statements prepared on the session. Not for use outside them.
#pragma once

#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <soci/soci.h>

#include "processing/database.h"

// One statement prepared on the session, with the storage its values are
// bound to (sized once: the bindings keep the addresses).
struct TPreparedCommand {
  std::vector<std::string> texts;
  std::vector<std::tm> times;
  std::vector<soci::indicator> indicators;
  // A query's first column, as text (QueryHasRow only).
  std::string result;
  soci::indicator resultIndicator = soci::i_ok;
  std::unique_ptr<soci::statement> statement;
};

struct TDbState {
  std::unique_ptr<soci::session> session;
  bool firebird = false;       // the session speaks to the Firebird backend
  bool inTransaction = false;  // the run's transaction is open
  // Firebird keeps a transaction open for anything run outside the run's
  // transaction; this tells that one is open and must be ended.
  bool implicitOpen = false;
  std::set<TDbDataSet*> openDataSets;
  std::map<std::string, std::unique_ptr<TPreparedCommand>> prepared;
  std::string commandKey;  // storage for the key of `prepared` being looked up
  std::unique_ptr<TPreparedCommand> generator;

  TDbState();
  ~TDbState();
};
TDbState& Db();

// The message of a database error on one line (Firebird reports several).
std::string DbErrorMessage(const std::exception& e);
// The session, or Exception when the database is not open.
soci::session& DbSession();
// After a statement that ran outside the run's transaction: its work is
// committed at once.
void FinishOutsideWork();
// Before a query outside the run's transaction: a new read view, unless a data
// set still reads from the current one.
void RefreshOutsideReads();
// "CALL procedure(?, ?)" on an ODBC connection, the second parameter an
// output that comes back as text.
std::string OdbcCallWithOutput(const std::string& procedure, const std::string& input);
// Closes every open data set and drops the prepared statements; they cannot
// outlive the session.
void ReleaseStatements();
