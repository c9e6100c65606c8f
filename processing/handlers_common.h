// What the import handlers share: one staging statement with bound values,
// filled field by field in the column order of its table.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "processing/database.h"
#include "qsmlib/fex.h"

// "INSERT INTO table (c1,c2,...) VALUES (:p1,:p2,...)": one text per table,
// so that the statement is prepared once for the whole file.
std::string InsertSql(const std::string& table, std::initializer_list<const char*> columns);

// The machine's clock at whole seconds: the stored value is the one the
// date-time text of the log shows.
TDateTime NowToSeconds();

// Appends the values of one statement in column order. Every value is read
// from the current record when its turn comes, so the first field that is
// missing or does not convert ends the handler with its error.
//
// A table file runs one statement per record: the command of each statement
// text is kept from record to record, so that its values reuse their storage,
// and the fields are found in the table's layout once per file.
struct TRowValues {
  TFEX& table;
  TSqlCommand& command;
  std::size_t count = 0;  // values appended for the current record

  TRowValues(TFEX& t, const std::string& sql);

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

  bool Execute();

 private:
  TSqlValue& Next(TSqlValue::Kind kind);
};

// The general-format text (15 significant digits, a point) of a number field
// whose stored text is plain: blanks, a sign and digits, the point implied by
// the precision, at most 15 significant digits and a magnitude written without
// an exponent. The same text as converting the field to a binary number and
// formatting that; false for any other text, which takes that longer road.
bool PlainNumberText(std::string_view stored, unsigned precision, std::string& out);
