// The descarga road end to end: the built program, run as a separate process
// against a fresh embedded database, imports a package built from the
// fixture tables; the tests read back the database, the log and the retorno.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "qsmlib/cp1252.h"
#include "qsmlib/helpers.h"
#include "qsmlib/md5.h"
#include "qsmlib/platform/datetime.h"
#include "support/descarga_run.h"

namespace {

const std::string kTeam = "001";

// Every staging column and where its value comes from: a field of the
// device record (compared by the field's type), or
//   @ident @team          the -U value, the configuration's team code
//   @now                  the machine's clock during the run
//   @generated            a generator value (checked by the caller)
//   @noquotes:FIELD       the field, trimmed, without apostrophes
//   'x'                   that fixed text
struct Staging {
  const char* device;  // fixture table
  const char* table;   // staging table
  const char* columns;
};

const Staging kStaging[] = {
    {"TMVSCAB", "TMVSCAB",
     "CDCL CDCNPG CDEQP CDMW CDPED=@generated CDTPVD DSOBS=@noquotes:DSOBS DTCRIA DTALT DTFECH "
     "DTENT IDSTS NUPECL DTPROC=@now NUPROC=@ident IDEXP='0' VLPED IDMDNG IDTPPD IDCAN NUNOTA "
     "NUSERI VLICMS VLST VLPDIM DTFAT IDEMI QTREIM DTEMIS VLBSIC VLBSST"},
    {"TMVSITE", "TMVSITE",
     "CDPED=@generated CDPROD CDGRAD QTDVND VLTAB VLVEND PCDSAC CDTRIB VLICMS PCBSIC PCALIC VLST "
     "PCBSST PCALST VLITIM DSCFOP VLPROD VLBSIC VLBSST"},
    {"TMVSFINANC", "TMVSFINANC",
     "NUPGTO=@generated CDPED=@generated IDFORM NUPARC IDTPBO IDTPCH NUCART NUBCBL NUNOSS NUCHEQ "
     "NUBCCH DSAGCH NUCTCH DTVENC VLPG DTPROC=@now NUPROC=@ident IDEXP='0' DSMSEX=' ' IDSTS='1' "
     "DTPGTO DSNMTR DSCPF"},
    {"TMVOCTT", "TMVSCTT",
     "CDCL DSCTT NRTCTT DSEMAI DSDEP IDIAE DTPROC=@now NUPROC=@ident IDEXP='0' CDEQP=@team"},
    {"TMVSMNVCL", "TMVSMNVCL",
     "CDINC=@generated CDCL CDEQP CDMOT DTMNV IDEXP='0' DSMSEX=' ' DTPROC=@now NUPROC=@ident"},
    {"TMVSCOBRANCAS", "TMVSCOBRANCAS",
     "NUTIT CDEQP CDCL DSTPTI DTBAIX QTDICR PCTXJR VLJR VLTPG DTPROC=@now NUPROC=@ident "
     "IDEXP='0' DSMSEX=' '"},
    {"TMVSPGTOCOB", "TMVSPGTOCOB",
     "NUPGTO NUTIT CDCL DSTPTI IDFORM IDTPCH NUCHEQ NUBCCH DSAGCH NUCTCH VLPG DSNMTR DSCPF"},
    {"TMVSCBMANIFRET", "TMVSCBMANIFRET",
     "CDRET=@generated CDEQP DSPLAC DTEMIS DSMRMD DTPROC=@now NUPROC=@ident IDEXP='0' DSMSEX=' ' "
     "IDSTS"},
    {"TMVSITMANIFRET", "TMVSITMANIFRET", "CDRET=@generated CDPROD QTPROD"},
};

// Columns of a new or unknown customer's INSERT, in the staging table's terms.
const char* const kCustomerInsert =
    "CDCL=@generated CDCID CDATIV CDCNPG CDEQP=@team CDTPVD DSRAZ DSFAN DSCGCP DSIERG VLCRED IDPFPJ "
    "IDBLQ IDTITV NUDSIN DSOBS DSENDP DSBAIP DSCEPP DSTLPR DSFAXP DSENDC DSBAIC CDCIDC DSCEPC IDIAE "
    "DSEDEN CDCIDE DSBAEN NUCPEN DTPROC=@now NUPROC=@ident IDEXP='0'";

struct Column {
  std::string name, source;
};

std::vector<Column> ParseColumns(const std::string& columnList) {
  std::vector<Column> out;
  size_t i = 0;
  while (i < columnList.size()) {
    if (columnList[i] == ' ') {
      ++i;
      continue;
    }
    size_t end = columnList.find(' ', i);
    if (end == std::string::npos) end = columnList.size();
    size_t eq = columnList.find('=', i);
    if (eq == std::string::npos || eq > end) {
      out.push_back({columnList.substr(i, end - i), columnList.substr(i, end - i)});
    } else {
      if (columnList[eq + 1] == '\'') end = columnList.find('\'', eq + 2) + 1;  // ' ' holds a blank
      out.push_back({columnList.substr(i, eq - i), columnList.substr(eq + 1, end - eq - 1)});
    }
    i = end;
  }
  return out;
}

std::string RightTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

time_t ParseTimestamp(const std::string& s) {
  std::tm t{};
  if (std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                  &t.tm_min, &t.tm_sec) != 6)
    return -1;
  t.tm_year -= 1900;
  t.tm_mon -= 1;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

// Compares one staged row with the device record it came from; returns the
// staged values of the columns marked @generated, by column name.
std::map<std::string, std::string> ExpectRow(const fixture::Table& device, size_t record,
                                             const std::vector<Column>& columns,
                                             const std::vector<std::string>& staged,
                                             time_t runStart, time_t runEnd) {
  std::map<std::string, std::string> generated;
  for (size_t k = 0; k < columns.size(); ++k) {
    const Column& c = columns[k];
    const std::string& got = staged.at(k);
    SCOPED_TRACE(device.name + " record " + std::to_string(record + 1) + " column " + c.name);
    if (c.source == "@generated") {
      EXPECT_NE(got, "<null>");
      generated[c.name] = got;
    } else if (c.source == "@ident") {
      EXPECT_EQ(RightTrim(got), "JOB1");
    } else if (c.source == "@team") {
      EXPECT_EQ(RightTrim(got), kTeam);
    } else if (c.source == "@now") {
      time_t t = ParseTimestamp(got);
      EXPECT_GE(t, runStart - 1);
      EXPECT_LE(t, runEnd + 1);
    } else if (c.source.rfind("@noquotes:", 0) == 0) {
      EXPECT_EQ(got, RemoveQuotes(Trim(device.Cell(record, c.source.substr(10)))));
    } else if (c.source.front() == '\'') {
      EXPECT_EQ(RightTrim(got), RightTrim(c.source.substr(1, c.source.size() - 2)));
    } else {
      const std::string& cell = device.Cell(record, c.source);
      switch (device.fields[device.FieldIndex(c.source)].type) {
        case 'F':
        case 'I':
          EXPECT_NEAR(std::strtod(got.c_str(), nullptr), std::strtod(cell.c_str(), nullptr), 1e-9);
          break;
        case 'T': EXPECT_EQ(got, cell); break;
        default: EXPECT_EQ(got, Trim(cell)); break;
      }
    }
  }
  return generated;
}

std::string SelectList(const std::vector<Column>& columns) {
  std::string s;
  for (const Column& c : columns) s += (s.empty() ? "" : ", ") + c.name;
  return s;
}

class Descarga : public ::testing::Test {
 protected:
  DescargaJob job;
};

// ---------------------------------------------------------------- staging

TEST_F(Descarga, StagesEveryTableColumnForColumn) {
  // Values a device may send: apostrophes, line ends inside a text, 8-bit.
  job.Table("TMVSCAB").Cell(0, "DSOBS") = "Entregar d'manhã\r\nportão 2"_cp;
  job.Table("TMVOCLI").Cell(2, "DSRAZ") = "Açougue D'Ávila\nLtda"_cp;
  job.Table("TMVOCTT").Cell(0, "DSCTT") = "Maria O'Hara"_cp;
  job.BuildPackage();
  job.KeepStagedRows();
  // C001 is staged already: its record updates that row.
  job.Execute("INSERT INTO TMVSCLIALT (CDCL, IDIAE, CDEQP, DSRAZ) VALUES ('C001', 'X', '999', 'antes')");

  time_t start = std::time(nullptr);
  testutil::RunResult r = job.Run("DF", "JOB1", "QSMS Central Teste X");
  time_t end = std::time(nullptr);
  ASSERT_EQ(r.exitCode, 0) << r.output;

  // Server codes drawn per record: one distinct value for each row.
  const std::map<std::string, std::string> drawn = {{"TMVSCAB", "CDPED"},
                                                    {"TMVSFINANC", "NUPGTO"},
                                                    {"TMVSMNVCL", "CDINC"},
                                                    {"TMVSCBMANIFRET", "CDRET"}};
  std::map<std::string, std::string> headerCodes;  // device code -> staged code
  for (const Staging& s : kStaging) {
    const fixture::Table& device = job.Table(s.device);
    std::vector<Column> columns = ParseColumns(s.columns);
    stagingdb::Rows rows =
        job.Query("SELECT " + SelectList(columns) + " FROM " + s.table + " ORDER BY RDB$DB_KEY");
    ASSERT_EQ(rows.size(), device.rows.size()) << s.table;
    std::set<std::string> codes;
    for (size_t i = 0; i < rows.size(); ++i) {
      auto generated = ExpectRow(device, i, columns, rows[i], start, end);
      auto d = drawn.find(s.table);
      if (d == drawn.end()) continue;
      codes.insert(generated[d->second]);
      if (d->first == "TMVSCAB" || d->first == "TMVSCBMANIFRET")
        headerCodes[Trim(device.Cell(i, d->second))] = generated[d->second];
    }
    if (drawn.count(s.table)) {
      EXPECT_EQ(codes.size(), rows.size()) << s.table;
    }
  }

  // Items and payments follow their order's new code; manifest items their
  // manifest's; a code without a header of this descarga stays the device's.
  const std::string p1 = headerCodes["P1"], p2 = headerCodes["P2"];
  EXPECT_NE(p1, "P1");
  stagingdb::Rows items = job.Query("SELECT CDPED FROM TMVSITE ORDER BY RDB$DB_KEY");
  EXPECT_EQ(items, (stagingdb::Rows{{p1}, {p1}, {p2}}));
  stagingdb::Rows payments = job.Query("SELECT CDPED FROM TMVSFINANC ORDER BY RDB$DB_KEY");
  EXPECT_EQ(payments, (stagingdb::Rows{{p1}, {p2}}));
  stagingdb::Rows manifest = job.Query("SELECT CDRET FROM TMVSITMANIFRET ORDER BY RDB$DB_KEY");
  EXPECT_EQ(manifest, (stagingdb::Rows{{headerCodes["R1"]}, {"R9"}}));

  // Customers: a new one under a server code, a staged one updated in place
  // (CDCL and IDIAE kept, the record's own team), an unknown one inserted
  // under its own code with the configuration's team.
  const fixture::Table& customers = job.Table("TMVOCLI");
  std::vector<Column> insertColumns = ParseColumns(kCustomerInsert);
  stagingdb::Rows staged = job.Query("SELECT " + SelectList(insertColumns) +
                                     " FROM TMVSCLIALT ORDER BY RDB$DB_KEY");
  ASSERT_EQ(staged.size(), 3u);
  // Row order: the pre-staged C001 first, then N0001's and C005's inserts.
  EXPECT_EQ(staged[0][0], "C001");
  stagingdb::Rows updated = job.Query("SELECT IDIAE, CDEQP, DSRAZ, VLCRED, NUPROC FROM TMVSCLIALT WHERE CDCL = 'C001'");
  ASSERT_EQ(updated.size(), 1u);
  EXPECT_EQ(updated[0][0], "X");
  EXPECT_EQ(updated[0][1], "002");
  EXPECT_EQ(updated[0][2], Trim(customers.Cell(1, "DSRAZ")));
  EXPECT_NEAR(std::strtod(updated[0][3].c_str(), nullptr), 8000, 1e-9);
  EXPECT_EQ(updated[0][4], "JOB1");
  auto newCustomer = ExpectRow(customers, 0, insertColumns, staged[1], start, end);
  EXPECT_NE(newCustomer["CDCL"], "N0001");
  ExpectRow(customers, 2, insertColumns, staged[2], start, end);
  EXPECT_EQ(staged[2][0], "C005");

  // The summary carries the package's hash and the description cut to 16.
  stagingdb::Rows summary = job.Query(
      "SELECT CDEQP, DSQSMS, DTDSG, QTPED, DTULRT, NUVERS, NUHASH, QTCLNV, QTCLAL, QTCLEX, "
      "QTPECN, QTMNV FROM TMVSDESCARGA");
  const std::string hash = MD5OfFile(job.package);
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0][0], kTeam);
  EXPECT_EQ(summary[0][1], "QSMS Central Tes");
  EXPECT_EQ(summary[0][2], "2024-01-12 18:00:00");
  EXPECT_EQ(summary[0][4], "2024-01-11 00:00:00");
  EXPECT_EQ(summary[0][5], "4.2.1");
  EXPECT_EQ(summary[0][6], hash);
  EXPECT_EQ(job.Query("SELECT HASH, TAM FROM TMVSHASH"),
            (stagingdb::Rows{{hash, std::to_string(testutil::ReadFileBytes(job.package).size())}}));
  EXPECT_TRUE(job.LogHas("Inseriu o hash na tabela de hash."));
  EXPECT_TRUE(job.LogHas("Dados da descarga : Equipe - 001"));
}

// A number of a FEX F field: its digits with the last `precision` of them
// after the point.
double FexNumber(const std::string& text, int precision) {
  return std::strtod(text.c_str(), nullptr) / std::pow(10.0, precision);
}

long LocalSeconds(int y, int mo, int d, int h, int mi, int se) {
  // FEX date-times count local seconds since 1970 without a time zone.
  return ((static_cast<long>(EncodeDateTime(y, mo, d) - kUnixEpochDay) * 24 + h) * 60 + mi) * 60 + se;
}

TEST_F(Descarga, CustomerSentTwiceIsInsertedThenUpdated) {
  // A code with an apostrophe, as a device may send it, twice: the second
  // record updates the row the first one inserted.
  fixture::Table& customers = job.Table("TMVOCLI");
  customers.Cell(2, "CDCL") = "O'K1";
  size_t again = customers.CopyRow(2);
  customers.Cell(again, "DSRAZ") = "Segundo registro";
  customers.Cell(again, "CDEQP") = "003";
  job.BuildPackage();
  job.KeepStagedRows();
  ASSERT_EQ(job.Run().exitCode, 0);
  EXPECT_EQ(job.Query("SELECT CDCL, DSRAZ, CDEQP FROM TMVSCLIALT WHERE CDCL = 'O''K1'"),
            (stagingdb::Rows{{"O'K1", "Segundo registro", "003"}}));
  EXPECT_EQ(job.Count("TMVSCLIALT"), 3);
}

// ------------------------------------------------------ export and retorno

TEST_F(Descarga, ExportsTheOrdersAndTheRetornoListsTheTeamsOrders) {
  job.BuildPackage();
  testutil::RunResult r = job.Run("DF");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(testutil::FileIsThere(job.package)) << "DF keeps the package";
  EXPECT_TRUE(job.LogHas("Terminou a importação e geração dos arquivos com sucesso."_cp));

  stagingdb::Rows staged = job.Query("SELECT CDPED FROM TMVSCAB ORDER BY CDPED");
  ASSERT_EQ(staged.size(), 2u);
  const std::string p1 = staged[0][0], p2 = staged[1][0];
  EXPECT_EQ(job.Query("SELECT COD_PEDIDO, COD_VENDEDOR, IMPORTADO FROM TAFCAB WHERE NUPROC = 'JOB1' "
                      "ORDER BY COD_PEDIDO"),
            (stagingdb::Rows{{p1, "001", "1"}, {p2, "001", "1"}}));

  auto retorno = job.Retorno();
  ASSERT_EQ(retorno.size(), 3u);
  const fixture::FexContents* status = fixture::FindTable(retorno, "TMVSSTSRETORNO");
  ASSERT_NE(status, nullptr);
  ASSERT_EQ(status->rows.size(), 1u);
  EXPECT_EQ(std::stoi(status->Get(0, "CDRET")), 1);
  EXPECT_EQ(status->Get(0, "IDSTS"), "1");
  EXPECT_EQ(status->Get(0, "DSMSG"), "Descarga processada com sucesso!");
  const std::pair<const char*, int> counts[] = {{"QTPED", 2}, {"QTCLNV", 1}, {"QTCLAL", 2},
                                                {"QTCLEX", 0}, {"QTPECN", 0}, {"QTMNV", 1}};
  for (const auto& [field, value] : counts) EXPECT_EQ(std::stoi(status->Get(0, field)), value) << field;
  EXPECT_EQ(std::stol(status->Get(0, "DTPROC")), LocalSeconds(2024, 1, 12, 18, 0, 0));
  EXPECT_EQ(status->Get(0, "NUHASH"), MD5OfFile(job.package));

  // The team's orders processed after the device's last retorno (2024-01-11):
  // the two just exported and the back office's 900002; not the older
  // 900001, the cancelled 900003 or team 002's 900004.
  const fixture::FexContents* orders = fixture::FindTable(retorno, "TMVSCBPEDRETORNO");
  ASSERT_NE(orders, nullptr);
  std::vector<std::string> listed;
  for (size_t i = 0; i < orders->rows.size(); ++i) listed.push_back(orders->Get(i, "CDPED"));
  std::vector<std::string> expected = {p1, p2, "900002"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  size_t back = std::find(listed.begin(), listed.end(), "900002") - listed.begin();
  ASSERT_LT(back, listed.size());
  EXPECT_EQ(orders->Get(back, "CDCL"), "C002");
  EXPECT_EQ(orders->Get(back, "DSRAZ"), "Padaria DOuro");  // apostrophe removed
  EXPECT_EQ(orders->Get(back, "CDMW"), "MW-900002");
  EXPECT_EQ(orders->Get(back, "CDRET"), "1");
  EXPECT_DOUBLE_EQ(FexNumber(orders->Get(back, "VLPED"), 4), 48);
  EXPECT_EQ(std::stol(orders->Get(back, "DTPED")), LocalSeconds(2024, 1, 11, 10, 15, 0));

  // Items of those orders; the graded one as product-grade, the orders
  // procedure's served and missing quantities (P002: 6.5 sold, 5 in stock).
  const fixture::FexContents* items = fixture::FindTable(retorno, "TMVSITPEDRETORNO");
  ASSERT_NE(items, nullptr);
  std::map<std::string, size_t> byItem;
  for (size_t i = 0; i < items->rows.size(); ++i)
    byItem[items->Get(i, "CDPED") + "/" + items->Get(i, "CDPROD")] = i;
  ASSERT_EQ(byItem.size(), 4u);
  ASSERT_TRUE(byItem.count(p1 + "/P003-M"));
  EXPECT_EQ(items->Get(byItem[p1 + "/P003-M"], "DSITEM"), "Camiseta basica-Tamanho M");
  ASSERT_TRUE(byItem.count(p2 + "/P002"));
  size_t cut = byItem[p2 + "/P002"];
  EXPECT_DOUBLE_EQ(FexNumber(items->Get(cut, "QTDVND"), 4), 6.5);
  EXPECT_DOUBLE_EQ(FexNumber(items->Get(cut, "QTDATE"), 4), 5);
  EXPECT_DOUBLE_EQ(FexNumber(items->Get(cut, "QTFALT"), 4), 1.5);
  EXPECT_TRUE(byItem.count("900002/P002"));
  EXPECT_TRUE(byItem.count(p1 + "/P001"));
}

TEST_F(Descarga, KnownPackageIsRebuiltOrImportedAgainAsTheParameterSays) {
  job.BuildPackage();
  ASSERT_EQ(job.Run("DF").exitCode, 0);
  const std::string hash = MD5OfFile(job.package);

  // IDQSHS '0': nothing imported, the retorno of the first run rebuilt.
  testutil::RunResult again = job.Run("DF");
  EXPECT_EQ(again.exitCode, 9) << again.output;
  EXPECT_TRUE(job.LogHas("O hash da descarga já foi inserido!"_cp));
  EXPECT_EQ(job.Count("TMVSCAB"), 2);
  EXPECT_EQ(job.Count("TMVSDESCARGA"), 1);
  auto retorno = job.Retorno();
  const fixture::FexContents* status = fixture::FindTable(retorno, "TMVSSTSRETORNO");
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->Get(0, "DSMSG"), "Descarga processada com sucesso!");
  EXPECT_EQ(status->Get(0, "NUHASH"), hash);
  const fixture::FexContents* orders = fixture::FindTable(retorno, "TMVSCBPEDRETORNO");
  ASSERT_NE(orders, nullptr);
  EXPECT_EQ(orders->rows.size(), 3u);
  EXPECT_TRUE(testutil::FileIsThere(job.package));

  // IDQSHS '1': imported again under new codes; TMVSHASH keeps one row; DP
  // deletes the package at the end.
  job.Execute("UPDATE TMVSPARAMGL SET IDQSHS = '1'");
  testutil::RunResult third = job.Run("DP");
  EXPECT_EQ(third.exitCode, 0) << third.output;
  EXPECT_TRUE(job.LogHas("Reprocessando descarga com mesmo hash..."));
  EXPECT_EQ(job.Count("TMVSCAB"), 4);
  EXPECT_EQ(job.Count("TAFCAB WHERE NUPROC = 'JOB1'"), 4);
  EXPECT_EQ(job.Query("SELECT HASH FROM TMVSHASH"), (stagingdb::Rows{{hash}}));
  EXPECT_FALSE(testutil::FileIsThere(job.package)) << "DP deletes the package";
}

TEST_F(Descarga, KnownPackageWithoutSummaryGetsStatusOne) {
  fixture::Remove(job.tables, "TMVSDESCARGA");
  job.BuildPackage();
  ASSERT_EQ(job.Run("DP").exitCode, 0);
  job.BuildPackage();  // the same bytes again: DP removed the first copy
  EXPECT_EQ(job.Run("DP").exitCode, 9);
  EXPECT_FALSE(testutil::FileIsThere(job.package));
  auto retorno = job.Retorno();
  ASSERT_EQ(retorno.size(), 1u);
  EXPECT_EQ(std::stoi(retorno[0].Get(0, "CDRET")), 1);
  EXPECT_EQ(retorno[0].Get(0, "DSMSG"),
            "Descarga processada, mas houve erro ao gerar o arquivo de retorno - Não foi "
            "encontrado o arquivo TMVSDESCARGA.FEX!"_cp);
}

// ------------------------------------------------------------- failures

// What every run that ends early leaves: its exit code, its log line, a
// status-3 retorno with the message, and nothing of the descarga committed.
void ExpectEndedEarly(const DescargaJob& job, const testutil::RunResult& r, int exitCode,
                      const std::string& logLine, const std::string& message) {
  EXPECT_EQ(r.exitCode, exitCode) << r.output;
  EXPECT_TRUE(job.LogHas(logLine)) << logLine;
  auto retorno = job.Retorno();
  ASSERT_EQ(retorno.size(), 1u);
  EXPECT_EQ(std::stoi(retorno[0].Get(0, "CDRET")), 2);
  EXPECT_EQ(retorno[0].Get(0, "IDSTS"), "0");
  EXPECT_EQ(retorno[0].Get(0, "DSMSG"), message);
  for (const char* table : {"TMVSHASH", "TMVSCAB", "TMVSITE", "TMVSCLIALT", "TAFCAB WHERE NUPROC = 'JOB1'"})
    EXPECT_EQ(job.Count(table), 0) << table;
}

TEST_F(Descarga, RecordRefusedInTheMiddleOfItemsCommitsNothing) {
  fixture::Table& items = job.Table("TMVSITE");
  items.fields[items.FieldIndex("CDPROD")].size = 30;  // wider than the column
  items.Cell(2, "CDPROD") = std::string(26, 'X');
  job.BuildPackage();
  testutil::RunResult r = job.Run();
  const std::string line = "Erro na linha (3) na importação do arquivo : TMVSITE.FEX"_cp;
  ExpectEndedEarly(job, r, 5, line, line);
  EXPECT_TRUE(job.LogHas("Erro na execucao da SQL. Erro:: "));
}

struct BadInput {
  const char* name;
  void (*prepare)(DescargaJob& job);  // builds (or withholds) the package
  int exitCode;
  std::string logLine;  // "@" stands for the package's path
  std::string message;  // the retorno's DSMSG, "@" likewise
};

void PrintTo(const BadInput& input, std::ostream* os) { *os << input.name; }

std::string WithPackage(std::string text, const std::string& package) {
  size_t at = text.find('@');
  return at == std::string::npos ? text : text.replace(at, 1, package);
}

class BadDescarga : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadDescarga, EndsWithItsExitCodeAndLeavesNothing) {
  DescargaJob job;
  GetParam().prepare(job);
  testutil::RunResult r = job.Run();
  ExpectEndedEarly(job, r, GetParam().exitCode, WithPackage(GetParam().logLine, job.package),
                   WithPackage(GetParam().message, job.package));
}

const std::string kSplitError = "Erro ao separar o arquivo de descarga : @";
const std::string kConfigError = "Erro ao carregar os dados de configuração."_cp;

INSTANTIATE_TEST_SUITE_P(
    Descarga, BadDescarga,
    ::testing::Values(
        BadInput{"NotCompressed",
                 [](DescargaJob& j) { testutil::WriteFileBytes(j.package, "!!0\r\nzz9\r\n"); }, 3,
                 kSplitError, kSplitError},
        BadInput{"Damaged",
                 [](DescargaJob& j) {
                   j.BuildPackage();
                   std::string bytes = testutil::ReadFileBytes(j.package);
                   bytes[bytes.size() / 2] ^= 0x55;
                   testutil::WriteFileBytes(j.package, bytes);
                 },
                 3, kSplitError, kSplitError},
        BadInput{"NoConfigurationTable",
                 [](DescargaJob& j) {
                   fixture::Remove(j.tables, "TMVSEQP");
                   j.BuildPackage();
                 },
                 5, kConfigError, kConfigError},
        BadInput{"BlankTeamCode",
                 [](DescargaJob& j) {
                   j.Table("TMVSEQP").Cell(0, "CDEQP") = "";
                   j.BuildPackage();
                 },
                 5, kConfigError, kConfigError},
        BadInput{"TeamCodeThatWouldChangeTheQueries",
                 [](DescargaJob& j) {
                   fixture::Table& eqp = j.Table("TMVSEQP");
                   eqp.fields[0].size = 20;
                   eqp.Cell(0, "CDEQP") = "1 OR 1=1";
                   j.BuildPackage();
                 },
                 5, "Código da equipe inválido na descarga : [1 OR 1=1]"_cp,
                 "Código da equipe inválido na descarga : [1 OR 1=1]"_cp},
        BadInput{"FieldMissing",
                 [](DescargaJob& j) {
                   fixture::Table& cab = j.Table("TMVSCAB");
                   int k = cab.FieldIndex("QTREIM");
                   cab.fields.erase(cab.fields.begin() + k);
                   for (auto& row : cab.rows) row.erase(row.begin() + k);
                   j.BuildPackage();
                 },
                 5, "Erro : O campo QTREIM não esta definido para a tabela TMVSCAB!"_cp,
                 "Erro na linha (1) na importação do arquivo : TMVSCAB.FEX"_cp},
        BadInput{"IntegerThatDoesNotConvert",
                 [](DescargaJob& j) {
                   j.Table("TMVSCOBRANCAS").Cell(0, "QTDICR") = "abc";
                   j.BuildPackage();
                 },
                 5, "Erro na linha (1) na importação do arquivo : TMVSCOBRANCAS.FEX"_cp,
                 "Erro na linha (1) na importação do arquivo : TMVSCOBRANCAS.FEX"_cp},
        BadInput{"InputMissing", [](DescargaJob&) {}, 10,
                 "Arquivo de input não encontrado : @"_cp,
                 "Arquivo de input não encontrado : @"_cp}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

TEST_F(Descarga, ExportProcedureThatRaisesRollsBackAndReportsStatusThree) {
  job.BuildPackage();
  job.BreakProcedure("TRV_EXP_TMVS_TAF");
  testutil::RunResult r = job.Run();
  ExpectEndedEarly(job, r, 0,
                   "Erro na execução da procedure de exportação entre as tabelas TMVS's e TAF's da Tarvos."_cp,
                   "Descarga não processada, houve erro na exportação entre as tabelas TMVSs e TAFs da Tarvos."_cp);
  EXPECT_TRUE(job.LogHas("Terminou a importação e geração dos arquivos com sucesso."_cp));
}

TEST_F(Descarga, OrdersProcedureThatRaisesStillReportsSuccess) {
  job.BuildPackage();
  job.BreakProcedure("VUDIDEVADUZAVERARED");
  testutil::RunResult r = job.Run();
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_TRUE(job.LogHas("Erro na execução da procedure para atualização das quantidades: "_cp));
  auto retorno = job.Retorno();
  const fixture::FexContents* status = fixture::FindTable(retorno, "TMVSSTSRETORNO");
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(std::stoi(status->Get(0, "CDRET")), 1);
  EXPECT_EQ(status->Get(0, "DSMSG"),
            "Descarga processada com sucesso, mas a procedure VUDIDEVADUZAVERARED não foi "
            "executada corretamente"_cp);
  EXPECT_EQ(job.Count("TAFCAB WHERE NUPROC = 'JOB1'"), 2) << "the import stays committed";
  EXPECT_NE(fixture::FindTable(retorno, "TMVSCBPEDRETORNO"), nullptr);
}

}  // namespace
