#include <gtest/gtest.h>

#include "processing/database.h"
#include "processing/sqlliteral.h"
#include "qsmlib/platform/datetime.h"

namespace {

struct LiteralCase {
  TDbKind kind;
  std::string input;
  std::string expected;
};

const std::string kOracleNumber = "','999999999999999999D9999999999999999999',' NLS_NUMERIC_CHARACTERS = '',.'' ')";

TEST(SqlDateLiteral, EveryKindWithTimeAndAtMidnight) {
  const std::vector<LiteralCase> cases = {
      {TDbKind::Oracle, "15/01/2024 08:05:09", "to_date('15/01/2024 08:05:09','DD/MM/YYYY HH24:MI:SS')"},
      {TDbKind::MsSql, "15/01/2024 08:05:09", "'20240115 08:05:09'"},
      {TDbKind::InterBase, "15/01/2024 08:05:09", "'01/15/2024 08:05:09'"},
      {TDbKind::DB2, "15/01/2024 08:05:09", "'2024-01-15 08:05:09'"},
      {TDbKind::DB2, "09/12/2025 10:11:12", "'2025-12-09 10:11:12'"},
      // A midnight converts to the date alone; the blank before the quote stays.
      {TDbKind::Oracle, "15/01/2024", "to_date('15/01/2024','DD/MM/YYYY HH24:MI:SS')"},
      {TDbKind::MsSql, "15/01/2024", "'20240115 '"},
      {TDbKind::InterBase, "15/01/2024", "'01/15/2024 '"},
      {TDbKind::DB2, "15/01/2024", "'2024-01-15 '"},
      {TDbKind::MsSql, "01/01/1970", "'19700101 '"},
  };
  for (const LiteralCase& c : cases)
    EXPECT_EQ(SqlDateLiteral(c.input, c.kind), c.expected) << c.input << " kind " << static_cast<int>(c.kind);
}

TEST(SqlDateLiteral, TakesTheTextOfTheProcessSettings) {
  EXPECT_EQ(SqlDateLiteral(DateTimeToStr(EncodeDateTime(2024, 1, 15)), TDbKind::MsSql), "'20240115 '");
  EXPECT_EQ(SqlDateLiteral(DateTimeToStr(EncodeDateTime(2024, 1, 15, 23, 59, 58)), TDbKind::InterBase),
            "'01/15/2024 23:59:58'");
}

TEST(SqlNumberLiteral, EveryKindPlainNegativeAndExponentForms) {
  const std::vector<LiteralCase> cases = {
      {TDbKind::Oracle, "1234,5", "to_number('1234,5" + kOracleNumber},
      {TDbKind::Oracle, "17", "to_number('17" + kOracleNumber},
      {TDbKind::Oracle, "1E-6", "to_number('1E-6" + kOracleNumber},
      {TDbKind::MsSql, "1234,5", "1234.5"},
      {TDbKind::InterBase, "1234,5", "1234.5"},
      {TDbKind::DB2, "1234,5", "1234.5"},
      {TDbKind::MsSql, "17", "17"},
      {TDbKind::InterBase, "-0,25", "-0.25"},
      {TDbKind::DB2, "1E-6", "1E-6"},
      {TDbKind::InterBase, "1,5E20", "1.5E20"},
      {TDbKind::MsSql, "1,2,3", "1.2.3"},
      {TDbKind::InterBase, "0", "0"},
  };
  for (const LiteralCase& c : cases)
    EXPECT_EQ(SqlNumberLiteral(c.input, c.kind), c.expected) << c.input << " kind " << static_cast<int>(c.kind);
}

TEST(SqlQuoted, DoublesQuotesAndKeepsEverythingElse) {
  EXPECT_EQ(SqlQuoted(""), "''");
  EXPECT_EQ(SqlQuoted("D'Ouro"), "'D''Ouro'");
  EXPECT_EQ(SqlQuoted("'; DROP TABLE TMVSCAB; --"), "'''; DROP TABLE TMVSCAB; --'");
  EXPECT_EQ(SqlQuoted("a\r\nb\xE7\xE3"), "'a\r\nb\xE7\xE3'");
}

TEST(SqlCommandText, RendersEachValueAsTheLiteralOfTheKind) {
  const TDbKind saved = DbKind;
  DbKind = TDbKind::InterBase;
  TSqlCommand c;
  c.sql = "INSERT INTO T (A,B,C,D,E) VALUES (:p1,:p2,:p3,:p4,':p5 08:05:09')";
  c.values = {{TSqlValue::Kind::Text, "it's", 0},
              {TSqlValue::Kind::Number, "-1234.5", 0},
              {TSqlValue::Kind::DateTime, "", EncodeDateTime(2024, 1, 15, 8, 5, 9)},
              {TSqlValue::Kind::Null, "", 0},
              {TSqlValue::Kind::Text, "not used", 0}};
  EXPECT_EQ(c.Text(), "INSERT INTO T (A,B,C,D,E) VALUES ('it''s',-1234.5,'01/15/2024 08:05:09',NULL,':p5 08:05:09')");
  DbKind = TDbKind::Oracle;
  c.sql = "UPDATE T SET B = :p2 WHERE A = :p1";
  EXPECT_EQ(c.Text(), "UPDATE T SET B = to_number('-1234,5" + kOracleNumber + " WHERE A = 'it''s'");
  DbKind = saved;
}

}  // namespace
