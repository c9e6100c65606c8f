// The run's connection against a real embedded Firebird database created from
// db/firebird/: statements, bound values, queries, transactions, generators,
// server time and the back office's procedures.
#include <gtest/gtest.h>

#include <cmath>

#include "processing/database.h"
#include "processing/runparams.h"
#include "processing/sqlliteral.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/except.h"
#include "qsmlib/helpers.h"
#include "support/testdb.h"

namespace {

// Position of the first line that starts with prefix, -1 when none.
int FindLine(const std::vector<std::string>& texts, const std::string& prefix) {
  for (std::size_t i = 0; i < texts.size(); ++i)
    if (texts[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
  return -1;
}

class DatabaseTest : public ::testing::Test {
 protected:
  explicit DatabaseTest(bool sample = false) : db(sample) {}

  void SetUp() override {
    db.UseInProcess();
    OutputFile = out.path() + "/retorno.zfx";
    OpenDatabase();
  }
  void TearDown() override {
    AbandonDatabase();
    OutputFile.clear();
  }

  static TSqlValue Text(const std::string& s) { return {TSqlValue::Kind::Text, s, 0}; }
  static TSqlValue Number(const std::string& s) { return {TSqlValue::Kind::Number, s, 0}; }
  static TSqlValue Date(TDateTime d) { return {TSqlValue::Kind::DateTime, "", d}; }
  static TSqlValue Null() { return {}; }

  int CargaRows(const std::string& team) {
    return static_cast<int>(db.QueryCount("SELECT COUNT(*) FROM TMVSCARGA WHERE CDEQP = '" + team + "'"));
  }
  static bool InsertCarga(const std::string& team) {
    return ExecuteSql("INSERT INTO TMVSCARGA (CDEQP, DSQSMS, DTCRG) VALUES ('" + team +
                      "', 'teste', '01/15/2024 08:05:09')");
  }

  testdb::TestDatabase db;
  testdb::TestLog log;
  testutil::TempDir out;
};

class SampleDatabaseTest : public DatabaseTest {
 protected:
  SampleDatabaseTest() : DatabaseTest(true) {}
};

TEST_F(DatabaseTest, CommitKeepsRowsAndRollbackDiscardsThem) {
  BeginTransaction();
  EXPECT_TRUE(InTransaction());
  ASSERT_TRUE(InsertCarga("101"));
  CommitTransaction();
  EXPECT_FALSE(InTransaction());

  BeginTransaction();
  ASSERT_TRUE(InsertCarga("102"));
  RollbackTransaction();
  EXPECT_FALSE(InTransaction());

  EXPECT_EQ(CargaRows("101"), 1);
  EXPECT_EQ(CargaRows("102"), 0);
}

TEST_F(DatabaseTest, RunTransactionSeesAndUpdatesWhatOthersCommitMeanwhile) {
  // Read committed: another run's committed work neither stays invisible nor
  // makes this run's update of the same row fail as a conflict.
  BeginTransaction();
  ASSERT_TRUE(InsertCarga("301"));
  db.Execute({"INSERT INTO TMVSCARGA (CDEQP, DSQSMS, DTCRG) VALUES ('302', 'outro', CURRENT_TIMESTAMP)",
              "UPDATE TMVSPARAMGL SET IDPROC = '1'"});
  ASSERT_TRUE(OpenQuery(*DbDataSet, "SELECT COUNT(*) AS N FROM TMVSCARGA WHERE CDEQP = '302'"));
  EXPECT_EQ(DbDataSet->FieldAsInteger("N"), 1);
  EXPECT_TRUE(ExecuteSql("UPDATE TMVSPARAMGL SET IDPROC = '0'"));
  RollbackTransaction();
  EXPECT_EQ(CargaRows("301"), 0);
  EXPECT_EQ(CargaRows("302"), 1);
}

TEST_F(DatabaseTest, BeginTwiceStartsOneTransactionAndEndingNoneDoesNothing) {
  CommitTransaction();
  RollbackTransaction();
  BeginTransaction();
  ASSERT_TRUE(InsertCarga("201"));
  BeginTransaction();  // no nesting: the row above stays in the same transaction
  ASSERT_TRUE(InsertCarga("202"));
  RollbackTransaction();
  EXPECT_FALSE(InTransaction());
  EXPECT_EQ(CargaRows("201"), 0);
  EXPECT_EQ(CargaRows("202"), 0);
}

TEST_F(DatabaseTest, StatementOutsideTheTransactionIsCommittedAtOnce) {
  ASSERT_TRUE(InsertCarga("301"));
  EXPECT_EQ(CargaRows("301"), 1);  // seen by another attachment
  EXPECT_EQ(log.Count("Comando realizado com sucesso."), 1);
}

TEST_F(DatabaseTest, RefusedStatementReturnsFalseLogsItAndLeavesTheTransaction) {
  BeginTransaction();
  ASSERT_TRUE(InsertCarga("401"));
  const std::string bad = "INSERT INTO TMVSNADA (X) VALUES ('it''s')";
  EXPECT_FALSE(ExecuteSql(bad));
  EXPECT_TRUE(InTransaction());

  TSqlCommand dup;
  dup.sql = "INSERT INTO TMVSHASH (HASH, TAM, DATA) VALUES (:p1, :p2, :p3)";
  dup.values = {Text("abc'd"), Number("10"), Date(EncodeDateTime(2024, 1, 15, 8, 5, 9))};
  EXPECT_TRUE(ExecuteSql(dup));
  EXPECT_FALSE(ExecuteSql(dup));  // HASH is unique
  CommitTransaction();

  EXPECT_EQ(CargaRows("401"), 1);
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TMVSHASH"), 1);
  EXPECT_EQ(log.Count("Comando realizado com sucesso."), 2);
  int refusals = 0;
  for (const std::string& t : log.Texts()) {
    if (t.rfind("Erro na execucao da SQL. Erro:: ", 0) != 0) continue;
    ++refusals;
    EXPECT_EQ(t.find('\n'), std::string::npos);
    if (refusals == 1) {
      EXPECT_NE(t.find("TMVSNADA"), std::string::npos) << t;
      EXPECT_NE(t.find(", Segue query com erro: " + bad), std::string::npos) << t;
    } else {
      EXPECT_NE(t.find(", Segue query com erro: INSERT INTO TMVSHASH (HASH, TAM, DATA) VALUES "
                       "('abc''d', 10, '01/15/2024 08:05:09')"),
                std::string::npos)
          << t;
    }
  }
  EXPECT_EQ(refusals, 2);
}

// Text with apostrophes, line breaks and 8-bit bytes, and numbers at the
// limits of NUMERIC(15,4), stored the same whether they travel as bound
// values or as literals.
TEST_F(DatabaseTest, BoundValuesAndLiteralsStoreTheSameExactValues) {
  const std::string text = "D'Ouro 'x'\r\nlinha 2\n"_cp + "Ação çé ÿ"_cp + std::string("\x80\xA0");
  struct NumberCase {
    std::string bound;     // decimal text with a point, as the handlers bind it
    std::string expected;  // what the column then holds
  };
  const std::vector<NumberCase> numbers = {
      {"12345678901.2345", "12345678901.2345"}, {"-0.25", "-0.2500"}, {"17", "17.0000"},
      {"0.00005", "0.0001"},                    {"1.23456", "1.2346"}, {"1E-6", "0.0000"},
      {"-99999999999.9999", "-99999999999.9999"}};
  const TDateTime when = EncodeDateTime(2024, 2, 29, 23, 59, 58);

  TSqlCommand insert;
  insert.sql = "INSERT INTO TMVSCLIALT (CDCL, DSRAZ, VLCRED, DTPROC) VALUES (:p1, :p2, :p3, :p4)";
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    insert.values = {Text("B" + std::to_string(i)), Text(text), Number(numbers[i].bound), Date(when)};
    ASSERT_TRUE(ExecuteSql(insert)) << numbers[i].bound;
    const std::string literal = SqlNumberLiteral(ReplaceChar(numbers[i].bound, '.', ','), TDbKind::InterBase);
    ASSERT_TRUE(ExecuteSql("INSERT INTO TMVSCLIALT (CDCL, DSRAZ, VLCRED, DTPROC) VALUES ('L" + std::to_string(i) +
                           "', " + SqlQuoted(text) + ", " + literal + ", " +
                           SqlDateLiteral(DateTimeToStr(when), TDbKind::InterBase) + ")"))
        << literal;
  }

  for (std::size_t i = 0; i < numbers.size(); ++i) {
    for (const std::string prefix : {"B", "L"}) {
      const std::string where = " FROM TMVSCLIALT WHERE CDCL = '" + prefix + std::to_string(i) + "'";
      EXPECT_EQ(db.QueryText("SELECT VLCRED" + where), numbers[i].expected) << prefix << numbers[i].bound;
      EXPECT_EQ(db.QueryText("SELECT DSRAZ" + where), text);
      EXPECT_EQ(db.QueryText("SELECT CAST(DTPROC AS VARCHAR(30))" + where), "2024-02-29 23:59:58.0000");
    }
  }

  TDbDataSet ds;
  ASSERT_TRUE(OpenQuery(ds, "SELECT vlcred, dsraz, dtproc FROM TMVSCLIALT WHERE CDCL = 'B0'"));
  EXPECT_EQ(ds.FieldAsFloat("VLCRED"), 12345678901.2345);
  EXPECT_EQ(ds.FieldAsString("Vlcred"), "12345678901.2345");
  EXPECT_EQ(ds.FieldAsString("DSRAZ"), text);
  EXPECT_EQ(DateTimeToStr(ds.FieldAsDateTime("dtproc")), "29/02/2024 23:59:58");
}

TEST_F(DatabaseTest, TooLongTextIsRefusedNotCut) {
  TSqlCommand insert;
  insert.sql = "INSERT INTO TMVSCARGA (CDEQP) VALUES (:p1)";
  insert.values = {Text("12345678901")};  // CDEQP holds 10
  EXPECT_FALSE(ExecuteSql(insert));
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TMVSCARGA"), 0);
  // The prepared statement stays usable after a refusal.
  insert.values = {Text("1234567890")};
  EXPECT_TRUE(ExecuteSql(insert));
  EXPECT_EQ(db.QueryText("SELECT CDEQP FROM TMVSCARGA"), "1234567890");
}

TEST_F(DatabaseTest, OneStatementTextRunsManyTimesWithChangingValues) {
  TSqlCommand insert;
  insert.sql = "INSERT INTO TMVSITE (CDPED, CDPROD, QTDVND) VALUES (:p1, :p2, :p3)";
  BeginTransaction();
  for (int i = 0; i < 50; ++i) {
    // A NULL in between must not disturb the values of later rows.
    insert.values = {Text("P" + std::to_string(i)), i % 7 == 0 ? Null() : Text("X" + std::to_string(i)),
                     i % 5 == 0 ? Null() : Number(std::to_string(i) + ".5")};
    ASSERT_TRUE(ExecuteSql(insert)) << i;
  }
  CommitTransaction();
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TMVSITE"), 50);
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TMVSITE WHERE CDPROD IS NULL"), 8);
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TMVSITE WHERE QTDVND IS NULL"), 10);
  EXPECT_EQ(db.QueryText("SELECT CDPROD FROM TMVSITE WHERE CDPED = 'P48'"), "X48");
  EXPECT_EQ(db.QueryText("SELECT QTDVND FROM TMVSITE WHERE CDPED = 'P49'"), "49.5000");
}

TEST_F(SampleDatabaseTest, QueriesReadRowsOneAtATimeWithNullsAsZero) {
  const int linesBefore = static_cast<int>(log.Texts().size());
  TDbDataSet ds;
  EXPECT_FALSE(OpenQuery(ds, "SELECT * FROM TAFCAB WHERE COD_PEDIDO = 'nenhum'"));
  EXPECT_TRUE(ds.Active());
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(static_cast<int>(log.Texts().size()), linesBefore);  // no line for an empty result

  ASSERT_TRUE(OpenQuery(ds, "SELECT COD_PEDIDO, QTDE_ATENDIDA, COD_GRADE, MSG_IMPORTACAO FROM TAFITE "
                            "WHERE COD_PEDIDO IN ('900001', '900003') ORDER BY COD_PEDIDO, COD_PRODUTO"));
  std::vector<std::string> seen;
  for (; !ds.Eof(); ds.Next()) seen.push_back(ds.FieldAsString("cod_pedido") + "/" + ds.FieldAsString("COD_GRADE"));
  EXPECT_EQ(seen, (std::vector<std::string>{"900001/", "900001/M", "900003/"}));
  EXPECT_THROW(ds.FieldAsString("COD_PEDIDO"), Exception);  // past the last row

  ASSERT_TRUE(OpenQuery(ds, "SELECT QTDE_ATENDIDA, QTDE_FALTA, COD_GRADE, CAST(NULL AS TIMESTAMP) AS D, "
                            "CAST(NULL AS INTEGER) AS I FROM TAFITE WHERE COD_PEDIDO = '900003'"));
  EXPECT_EQ(ds.FieldAsString("COD_GRADE"), "");
  EXPECT_EQ(ds.FieldAsFloat("QTDE_ATENDIDA"), 0.0);
  EXPECT_EQ(ds.FieldAsInteger("QTDE_FALTA"), 0);
  EXPECT_EQ(ds.FieldAsDateTime("D"), 0.0);
  EXPECT_EQ(ds.FieldAsInteger("I"), 0);
  EXPECT_THROW(ds.FieldAsString("NAO_EXISTE"), Exception);

  // Whole values of NUMERIC columns read as integers.
  ASSERT_TRUE(OpenQuery(ds, "SELECT QTD_VENDA FROM TAFITE WHERE COD_PEDIDO = '900002'"));
  EXPECT_EQ(ds.FieldAsInteger("QTD_VENDA"), 8);

  EXPECT_FALSE(OpenQuery(ds, "SELECT NADA FROM TAFCAB"));
  EXPECT_FALSE(ds.Active());
  EXPECT_THROW(ds.FieldAsString("NADA"), Exception);
  const std::vector<std::string> texts = log.Texts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back().rfind("Erro no processameto de descarga automatica: ", 0), 0u) << texts.back();
  EXPECT_NE(texts.back().find(", Segue query com erro: SELECT NADA FROM TAFCAB"), std::string::npos);
}

TEST_F(DatabaseTest, ServerDateTimeIsTheServersClock) {
  const TDateTime before = Now();
  const TDateTime server = ReadServerDateTime();
  const TDateTime after = Now();
  // Same machine: the server's clock lies between the two readings (the
  // server keeps whole seconds of its own here, so allow one).
  EXPECT_GE(server, before - 1.0 / 86400);
  EXPECT_LE(server, after + 1.0 / 86400);
  EXPECT_EQ(CurrentTimestampExpression(), "CURRENT_TIMESTAMP");
}

TEST_F(DatabaseTest, ServerDateTimeFailureEndsWithCode11) {
  const TDbKind saved = DbKind;
  DbKind = TDbKind::DB2;  // a query this server does not understand
  int code = 0;
  try {
    ReadServerDateTime();
  } catch (const TEndProcess& end) {
    code = end.ExitCode;
  }
  DbKind = saved;
  EXPECT_EQ(code, 11);
  const std::vector<std::string> texts = log.Texts();
  const int at = FindLine(texts, "Erro ao tentar obter a data e hora do banco de dados. Erro : ");
  ASSERT_GE(at, 1);
  EXPECT_EQ(texts[at - 1].rfind("Erro no processameto de descarga automatica: ", 0), 0u);
}

// The procedure is given a transactional side effect, so that what the
// program commits or rolls back around it can be seen.
class GeneratorTest : public DatabaseTest {
 protected:
  void SetUp() override {
    db.Execute({"CREATE TABLE GERLOG (NOME VARCHAR(63))",
                "ALTER PROCEDURE TRV_GEN_INCREMENTA (INC_GENERATOR VARCHAR(63)) RETURNS (RETORNO VARCHAR(30)) AS "
                "BEGIN INSERT INTO GERLOG (NOME) VALUES (:INC_GENERATOR); "
                "IF (INC_GENERATOR <> 'INC_TMVSCAB') THEN EXCEPTION E_TRV_GERADOR; "
                "RETORNO = ' ' || GEN_ID(INC_TMVSCAB, 1) || ' '; END"});
    DatabaseTest::SetUp();
  }
  int Calls() { return static_cast<int>(db.QueryCount("SELECT COUNT(*) FROM GERLOG")); }
};

TEST_F(GeneratorTest, InsideTheTransactionItRollsBackWithIt) {
  BeginTransaction();
  EXPECT_EQ(NextGeneratorValue("inc_tmvscab"), " 1 ");  // upper-cased; blanks kept
  EXPECT_EQ(NextGeneratorValue("INC_TMVSCAB"), " 2 ");
  EXPECT_TRUE(InTransaction());
  EXPECT_EQ(Calls(), 0);  // not committed
  RollbackTransaction();
  EXPECT_EQ(Calls(), 0);
}

TEST_F(GeneratorTest, OutsideATransactionItCommitsAtOnce) {
  EXPECT_EQ(NextGeneratorValue("INC_TMVSCAB"), " 1 ");
  EXPECT_FALSE(InTransaction());
  EXPECT_EQ(Calls(), 1);
  EXPECT_EQ(db.QueryText("SELECT NOME FROM GERLOG"), "INC_TMVSCAB");
}

TEST_F(DatabaseTest, GeneratorsOfTheReferenceDatabaseCountUpAndRefuseUnknownNames) {
  EXPECT_EQ(NextGeneratorValue("INC_TMVSFINANC"), "1");
  EXPECT_EQ(NextGeneratorValue("INC_TMVSFINANC"), "2");
  EXPECT_EQ(NextGeneratorValue("INC_TMVSCBMANIFRET"), "1");
  int code = 0;
  try {
    NextGeneratorValue("inc_nada");
  } catch (const TEndProcess& end) {
    code = end.ExitCode;
  }
  EXPECT_EQ(code, 12);
  const std::vector<std::string> texts = log.Texts();
  const int at = FindLine(texts, "Não foi possível obter o incremental : inc_nada"_cp);
  ASSERT_GE(at, 0);
  ASSERT_LT(at + 1, static_cast<int>(texts.size()));
  EXPECT_EQ(texts[at + 1].rfind("Erro : ", 0), 0u);
  EXPECT_NE(texts[at + 1].find("INC_NADA"), std::string::npos) << texts[at + 1];
}

// Staged rows of one job as the import leaves them.
void StageOrder(const std::string& job, const std::string& order, const std::string& customer,
                const std::string& product, const std::string& quantity) {
  TSqlCommand cab;
  cab.sql = "INSERT INTO TMVSCAB (CDPED, CDCL, CDEQP, CDMW, DTCRIA, VLPED, NUPROC, IDEXP, IDCAN, DSOBS) "
            "VALUES (:p1, :p2, '001', :p3, :p4, :p5, :p6, '0', '0', :p7)";
  cab.values = {{TSqlValue::Kind::Text, order, 0},           {TSqlValue::Kind::Text, customer, 0},
                {TSqlValue::Kind::Text, "MW-" + order, 0},   {TSqlValue::Kind::DateTime, "", EncodeDateTime(2024, 3, 1, 10)},
                {TSqlValue::Kind::Number, "99.9", 0},        {TSqlValue::Kind::Text, job, 0},
                {TSqlValue::Kind::Text, "entregar à tarde"_cp, 0}};
  ASSERT_TRUE(ExecuteSql(cab));
  TSqlCommand item;
  item.sql = "INSERT INTO TMVSITE (CDPED, CDPROD, CDGRAD, QTDVND, VLVEND) VALUES (:p1, :p2, '', :p3, 1)";
  item.values = {{TSqlValue::Kind::Text, order, 0}, {TSqlValue::Kind::Text, product, 0},
                 {TSqlValue::Kind::Number, quantity, 0}};
  ASSERT_TRUE(ExecuteSql(item));
}

TEST_F(SampleDatabaseTest, ExportMovesTheJobsOrdersAndTheOrdersProcedureServesStock) {
  BeginTransaction();
  StageOrder("job-1", "5001", "C001", "P002", "8");  // stock of P002 is 5
  StageOrder("job-2", "5002", "C002", "P001", "1");  // another job: stays staged
  ExecuteStoredProcedure("TRV_EXP_TMVS_TAF", {"job-1"});
  CommitTransaction();

  EXPECT_EQ(db.QueryText("SELECT IMPORTADO || '|' || COD_VENDEDOR || '|' || IDF_CANC || '|' || MSG_IMPORTACAO "
                         "FROM TAFCAB WHERE COD_PEDIDO = '5001'"),
            "1|001|0|Pedido importado com sucesso.");
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TAFCAB WHERE COD_PEDIDO = '5001' AND DTPROC IS NOT NULL"), 1);
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TAFCAB WHERE COD_PEDIDO = '5002'"), 0);
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TAFITE WHERE COD_PEDIDO = '5001' AND COD_GRADE IS NULL"), 1);

  ExecuteStoredProcedure("VUDIDEVADUZAVERARED", {});
  EXPECT_FALSE(InTransaction());
  EXPECT_EQ(db.QueryText("SELECT QTDE_ATENDIDA || '/' || QTDE_FALTA FROM TAFITE WHERE COD_PEDIDO = '5001'"),
            "5.0000/3.0000");
  EXPECT_EQ(db.QueryText("SELECT QTD_ESTOQUE FROM PRODUTO WHERE CODPROD = 'P002'"), "0.0000");
}

TEST_F(SampleDatabaseTest, ExportRaisesOnAnOrderOfAnUnknownCustomerAndExportsNothing) {
  BeginTransaction();
  StageOrder("job-3", "6001", "C001", "P001", "1");
  StageOrder("job-3", "6002", "C999", "P001", "1");
  try {
    ExecuteStoredProcedure("TRV_EXP_TMVS_TAF", {"job-3"});
    FAIL() << "the export took an order of an unknown customer";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("cliente C999 nao cadastrado"), std::string::npos) << e.what();
  }
  CommitTransaction();
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TAFCAB WHERE NUPROC = 'job-3'"), 0);
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TMVSCAB WHERE NUPROC = 'job-3' AND IDEXP = '0'"), 2);
}

TEST_F(SampleDatabaseTest, ExportTakesACustomerStagedByTheSameJob) {
  BeginTransaction();
  TSqlCommand customer;
  customer.sql = "INSERT INTO TMVSCLIALT (CDCL, DSRAZ, CDEQP, IDIAE, NUPROC, IDEXP) VALUES ('N77', :p1, '001', 'I', 'job-4', '0')";
  customer.values = {Text("Bar do Zé D'Ávila"_cp)};
  ASSERT_TRUE(ExecuteSql(customer));
  StageOrder("job-4", "7001", "N77", "P003", "2");
  ExecuteStoredProcedure("TRV_EXP_TMVS_TAF", {"job-4"});
  CommitTransaction();
  EXPECT_EQ(db.QueryText("SELECT NOME FROM CLIENTE WHERE CODCLIENTE = 'N77'"), "Bar do Zé D'Ávila"_cp);
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TAFCAB WHERE COD_PEDIDO = '7001'"), 1);
}

TEST_F(SampleDatabaseTest, ExportTakesOnlyWhatTheCallingRunStaged) {
  // A later run under the same job name exports its own orders only: the
  // first run's orders are in the back office already.
  BeginTransaction();
  StageOrder("job-5", "8001", "C001", "P001", "1");
  ExecuteStoredProcedure("TRV_EXP_TMVS_TAF", {"job-5"});
  CommitTransaction();
  BeginTransaction();
  StageOrder("job-5", "8002", "C002", "P001", "2");
  ExecuteStoredProcedure("TRV_EXP_TMVS_TAF", {"job-5"});
  CommitTransaction();
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TAFCAB WHERE NUPROC = 'job-5'"), 2);
  EXPECT_EQ(db.QueryCount("SELECT COUNT(*) FROM TAFITE WHERE COD_PEDIDO IN ('8001', '8002')"), 2);
}

TEST_F(DatabaseTest, UnknownProcedureRaisesWithTheDatabasesMessage) {
  try {
    ExecuteStoredProcedure("PROC_QUE_NAO_EXISTE", {"x"});
    FAIL();
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("PROC_QUE_NAO_EXISTE"), std::string::npos) << e.what();
  }
}

TEST_F(DatabaseTest, AbandonRollsBackSilentlyAndCloseEndsTheLog) {
  BeginTransaction();
  ASSERT_TRUE(InsertCarga("901"));
  AbandonDatabase();
  AbandonDatabase();  // nothing left to do
  EXPECT_EQ(CargaRows("901"), 0);
  EXPECT_EQ(DbDataSet, nullptr);

  OpenDatabase();
  ASSERT_TRUE(InsertCarga("902"));
  CloseDatabase();
  EXPECT_EQ(DbDataSet, nullptr);
  EXPECT_EQ(Log, nullptr);  // finished and released
  EXPECT_EQ(CargaRows("902"), 1);
  const std::vector<std::string> texts = log.Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], "Fecha a conexão com o banco de dados."_cp);
}

}  // namespace
