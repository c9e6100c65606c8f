// What the import handlers share: one staging statement with bound values,
// filled field by field in the column order of its table.
#pragma once

#include <initializer_list>
#include <string>

#include "processing/database.h"
#include "qsmlib/fex.h"

// "INSERT INTO table (c1,c2,...) VALUES (:p1,:p2,...)": one text per table,
// so that the statement is prepared once for the whole file.
std::string InsertSql(const std::string& table, std::initializer_list<const char*> columns);

// Drops what the customer handler knows of the staged customers; called at
// the start of every import.
void ForgetStagedCustomers();

// The machine's clock at whole seconds: the stored value is the one the
// date-time text of the log shows.
TDateTime NowToSeconds();

// Appends the values of one statement in column order. Every value is read
// from the current record when its turn comes, so the first field that is
// missing or does not convert ends the handler with its error.
struct TRowValues {
  TFEX& table;
  TSqlCommand command;

  TRowValues(TFEX& t, const std::string& sql) : table(t) { command.sql = sql; }

  // text F: the field with leading and trailing blanks removed.
  void Text(const char* field);
  // A fixed or computed text, as given.
  void Value(const std::string& text);
  // number F: the general-format number text of the field, with a point.
  void Number(const char* field);
  // A number given as text (generator values, already plain digits).
  void NumberText(const std::string& text);
  // integer F, bare or between quotes.
  void Integer(const char* field);
  void QuotedInteger(const char* field);
  // date F: the field's seconds.
  void Date(const char* field);
  // now: the machine's clock.
  void Now();
  // The bookkeeping columns DTPROC, NUPROC, IDEXP in that order.
  void Bookkeeping();

  bool Execute() const;
};
