#include "processing/sqlliteral.h"

#include "qsmlib/helpers.h"

namespace {

constexpr const char* kOracleDateMask = "'DD/MM/YYYY HH24:MI:SS')";
constexpr const char* kOracleNumberMask =
    "','999999999999999999D9999999999999999999',' NLS_NUMERIC_CHARACTERS = '',.'' ')";

}  // namespace

std::string SqlDateLiteral(const std::string& dateTimeText, TDbKind kind) {
  // Date "dd/MM/yyyy", then one blank and "hh:mm:ss" unless the value is a
  // midnight, which converts to the date alone.
  const std::string date = dateTimeText.substr(0, 10);
  const std::string time = dateTimeText.size() > 11 ? dateTimeText.substr(11, 8) : std::string();
  switch (kind) {
    case TDbKind::Oracle:
      return "to_date('" + dateTimeText + "'," + kOracleDateMask;
    case TDbKind::MsSql:
      return "'" + RemoveChars(DmyToYmd(date), "/") + " " + time + "'";
    case TDbKind::InterBase:
      return "'" + DmyToMdy(date) + " " + time + "'";
    case TDbKind::DB2:
      return "'" + ReplaceChar(DmyToYmd(date), '/', '-') + " " + time + "'";
  }
  return {};
}

std::string SqlNumberLiteral(const std::string& numberText, TDbKind kind) {
  if (kind == TDbKind::Oracle) return "to_number('" + numberText + kOracleNumberMask;
  return CommaToPoint(numberText);
}

std::string SqlQuoted(const std::string& value) {
  std::string out;
  out.reserve(value.size() + 2);
  out += '\'';
  for (char c : value) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}
