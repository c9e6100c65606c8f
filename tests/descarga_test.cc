// The descarga road end to end: the built program, run as a separate process
// against a fresh embedded database, imports a package built from the
// fixture tables; the tests read back the database, the log and the retorno.
#include <gtest/gtest.h>

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

std::vector<Column> ParseColumns(const std::string& spec) {
  std::vector<Column> out;
  size_t i = 0;
  while (i < spec.size()) {
    if (spec[i] == ' ') {
      ++i;
      continue;
    }
    size_t eq = spec.find('=', i), end = spec.find(' ', i);
    if (spec.compare(eq + 1, 1, "'") == 0) end = spec.find('\'', eq + 2) + 1;
    if (end == std::string::npos) end = spec.size();
    if (eq == std::string::npos || eq > end) out.push_back({spec.substr(i, end - i), spec.substr(i, end - i)});
    else out.push_back({spec.substr(i, eq - i), spec.substr(eq + 1, end - eq - 1)});
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
  testutil::RunResult r = job.Run("DF", "JOB1", "QSMS Central de Teste");
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
    if (drawn.count(s.table)) EXPECT_EQ(codes.size(), rows.size()) << s.table;
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
  EXPECT_EQ(summary[0][1], "QSMS Central de ");
  EXPECT_EQ(summary[0][2], "2024-01-12 18:00:00");
  EXPECT_EQ(summary[0][4], "2024-01-11 00:00:00");
  EXPECT_EQ(summary[0][5], "4.2.1");
  EXPECT_EQ(summary[0][6], hash);
  EXPECT_EQ(job.Query("SELECT HASH, TAM FROM TMVSHASH"),
            (stagingdb::Rows{{hash, std::to_string(testutil::ReadFileBytes(job.package).size())}}));
  EXPECT_TRUE(job.LogHas("Inseriu o hash na tabela de hash."));
  EXPECT_TRUE(job.LogHas("Dados da descarga : Equipe - 001"));
}

}  // namespace
