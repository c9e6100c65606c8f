// The run's one connection to the back-office database and the operations on it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qsmlib/platform/datetime.h"

enum class TDbKind { Oracle = 0, MsSql = 1, InterBase = 2, DB2 = 3 };
inline TDbKind DbKind = TDbKind::InterBase;

// The five configuration values (INI file named by VERUVAV_CONFIG, default
// /etc/veruvav/veruvav.ini, section [VerUvav]).
struct DatabaseConfig {
  std::string Database, Usuario, Senha, Serv, SGBD;
};
std::string ConfigFileName();
// False when the file cannot be opened; values absent from it read as empty.
bool ReadDatabaseConfig(DatabaseConfig& config);
// Exact, case-sensitive: "Oracle", "MsSql", "InterBase", "DB2".
bool ParseDbKind(const std::string& sgbd, TDbKind& kind);
// The kind's parameter lines, in order, with the values as given.
std::vector<std::string> ConnectionParameterLines(TDbKind kind, const DatabaseConfig& config);
// The client library that reaches a kind (a backend loaded by name) and its
// connection settings, mapped from the kind's parameter lines. Raises
// Exception for a value that the client's settings cannot carry.
struct TDbTarget {
  std::string backend;
  std::string connectString;
};
TDbTarget ConnectionTarget(TDbKind kind, const std::vector<std::string>& lines);

// Query result: rows are fetched one at a time; fields by name (case-insensitive).
// NULL reads as empty text, 0, or the zero date-time (0.0).
class TDbDataSet {
 public:
  TDbDataSet();
  ~TDbDataSet();
  void Close();
  bool Active() const;
  bool IsEmpty() const;
  bool Eof() const;
  void Next();
  // Raise Exception when the data set is closed or the field is unknown.
  std::string FieldAsString(const std::string& name) const;
  int64_t FieldAsInteger(const std::string& name) const;
  double FieldAsFloat(const std::string& name) const;
  TDateTime FieldAsDateTime(const std::string& name) const;

  struct Impl;
  std::unique_ptr<Impl> impl;
};
extern TDbDataSet* DbDataSet;

// A statement with bound values: prepared once per distinct text and run many
// times. Text() renders it with literals (quotes doubled) for the log.
struct TSqlValue {
  enum class Kind { Null, Text, Number, DateTime };
  Kind kind = Kind::Null;
  std::string text;    // Text: the value; Number: decimal text with a point
  TDateTime dateTime = 0;
};
struct TSqlCommand {
  std::string sql;                // placeholders :p1, :p2, ... in order
  std::vector<TSqlValue> values;  // one per placeholder
  std::string Text() const;
};

void OpenDatabase();
void CloseDatabase();
// Early ending: roll back what is open and drop the connection, silently.
void AbandonDatabase();

bool ExecuteSql(const std::string& statement);
bool ExecuteSql(const TSqlCommand& command);
bool OpenQuery(TDbDataSet& dataSet, const std::string& statement);
// A query with bound values, prepared once per text: true when it returns a
// row. A query that fails is logged as OpenQuery logs it and gives false.
bool QueryHasRow(const TSqlCommand& query);
void BeginTransaction();
void CommitTransaction();
void RollbackTransaction();
bool InTransaction();
TDateTime ReadServerDateTime();
std::string NextGeneratorValue(const std::string& generatorName);
// Runs a stored procedure with the given text values for its first
// parameters; raises Exception with the database's message on failure.
void ExecuteStoredProcedure(const std::string& name, const std::vector<std::string>& textParams);
// SQL expression for the server's current date-time inside an INSERT.
std::string CurrentTimestampExpression();
