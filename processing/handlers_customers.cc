// Customers created or changed on the device, their contacts and movements.
#include <unordered_set>

#include "processing/handlers.h"
#include "processing/handlers_common.h"
#include "processing/runparams.h"
#include "processing/sqlliteral.h"
#include "qsmlib/helpers.h"

namespace {

// The customer columns that the UPDATE and the INSERT share, in the order of
// both statements; they differ only in CDCL, CDEQP and IDIAE around them.
void CustomerLeadColumns(TRowValues& row) {
  row.Text("CDCID");
  row.Text("CDATIV");
  row.Text("CDCNPG");
}

void CustomerColumnsFromCDTPVD(TRowValues& row) {
  row.Text("CDTPVD");
  row.Text("DSRAZ");
  row.Text("DSFAN");
  row.Text("DSCGCP");
  row.Text("DSIERG");
  row.Number("VLCRED");
  row.Text("IDPFPJ");
  row.Text("IDBLQ");
  row.Text("IDTITV");
  row.Number("NUDSIN");
  row.Text("DSOBS");
  row.Text("DSENDP");
  row.Text("DSBAIP");
  row.Text("DSCEPP");
  row.Text("DSTLPR");
  row.Text("DSFAXP");
  row.Text("DSENDC");
  row.Text("DSBAIC");
  row.Text("CDCIDC");
  row.Text("DSCEPC");
}

void CustomerAddressOfDelivery(TRowValues& row) {
  row.Text("DSEDEN");
  row.Text("CDCIDE");
  row.Text("DSBAEN");
  row.Text("NUCPEN");
}

bool UpdateCustomer(TFEX& t, const std::string& code) {
  static const std::string sql =
      "UPDATE TMVSCLIALT SET CDCID = :p1, CDATIV = :p2, CDCNPG = :p3, CDEQP = :p4, CDTPVD = :p5, "
      "DSRAZ = :p6, DSFAN = :p7, DSCGCP = :p8, DSIERG = :p9, VLCRED = :p10, IDPFPJ = :p11, "
      "IDBLQ = :p12, IDTITV = :p13, NUDSIN = :p14, DSOBS = :p15, DSENDP = :p16, DSBAIP = :p17, "
      "DSCEPP = :p18, DSTLPR = :p19, DSFAXP = :p20, DSENDC = :p21, DSBAIC = :p22, CDCIDC = :p23, "
      "DSCEPC = :p24, DSEDEN = :p25, CDCIDE = :p26, DSBAEN = :p27, NUCPEN = :p28, DTPROC = :p29, "
      "NUPROC = :p30, IDEXP = :p31 WHERE CDCL = :p32";
  TRowValues row(t, sql);
  CustomerLeadColumns(row);
  row.Text("CDEQP");  // the record's own team, unlike the INSERT
  CustomerColumnsFromCDTPVD(row);
  CustomerAddressOfDelivery(row);
  row.Bookkeeping();
  row.Value(code);
  return row.Execute();
}

bool InsertCustomer(TFEX& t, const std::string& key) {
  static const std::string sql = InsertSql(
      "TMVSCLIALT", {"CDCL",   "CDCID",  "CDATIV", "CDCNPG", "CDEQP",  "CDTPVD", "DSRAZ",
                     "DSFAN",  "DSCGCP", "DSIERG", "VLCRED", "IDPFPJ", "IDBLQ",  "IDTITV",
                     "NUDSIN", "DSOBS",  "DSENDP", "DSBAIP", "DSCEPP", "DSTLPR", "DSFAXP",
                     "DSENDC", "DSBAIC", "CDCIDC", "DSCEPC", "IDIAE",  "DSEDEN", "CDCIDE",
                     "DSBAEN", "NUCPEN", "DTPROC", "NUPROC", "IDEXP"});
  TRowValues row(t, sql);
  row.Value(key);
  CustomerLeadColumns(row);
  row.Value(TeamCode);
  CustomerColumnsFromCDTPVD(row);
  row.Text("IDIAE");
  CustomerAddressOfDelivery(row);
  row.Bookkeeping();
  return row.Execute();
}

// Which of the customer codes of the table file being imported are staged in
// TMVSCLIALT. At the file's first record the codes of all its records are
// looked up together, a few hundred per query, instead of one query per
// record; the file's own inserts then keep the set up to date. Memory follows
// the number of customers in the descarga, not the size of the staging table.
struct TStagedCustomers {
  std::string file;  // the table file the set was made for
  std::unordered_set<std::string> codes;
};
TStagedCustomers& StagedCustomers() {
  static TStagedCustomers staged;
  return staged;
}

constexpr std::size_t kCodesPerQuery = 200;

std::string WithoutTrailingBlanks(std::string code) {
  // Compared as the database compares text: trailing blanks do not count.
  while (!code.empty() && code.back() == ' ') code.pop_back();
  return code;
}

void AddStagedAmong(const std::vector<std::string>& codes, std::unordered_set<std::string>& staged) {
  std::string list;
  for (const std::string& code : codes) list += (list.empty() ? "" : ", ") + SqlQuoted(code);
  TDbDataSet& ds = *DbDataSet;
  // The codes come from the device: quoted with their apostrophes doubled.
  if (OpenQuery(ds, "SELECT CDCL FROM TMVSCLIALT WHERE CDCL IN (" + list + ")"))
    for (; !ds.Eof(); ds.Next()) staged.insert(WithoutTrailingBlanks(ds.FieldAsString("CDCL")));
  ds.Close();
}

void LookUpFileCustomers(TFEX& t) {
  TStagedCustomers& staged = StagedCustomers();
  staged = TStagedCustomers{t.FileName, {}};
  const std::string current = t.RecordBuffer;
  std::unordered_set<std::string> seen;
  std::vector<std::string> batch;
  for (int32_t n = 1; n <= FexRecordCount(t); ++n) {
    FexRead(t, n);
    if (Trim(FexGetString(t, "IDIAE")) == "I") continue;
    std::string code = Trim(FexGetString(t, "CDCL"));
    if (!seen.insert(code).second) continue;
    batch.push_back(code);
    if (batch.size() == kCodesPerQuery) {
      AddStagedAmong(batch, staged.codes);
      batch.clear();
    }
  }
  if (!batch.empty()) AddStagedAmong(batch, staged.codes);
  t.RecordBuffer = current;  // the record being imported stays current
}

bool IsStaged(TFEX& t, const std::string& code) {
  if (StagedCustomers().file != t.FileName) LookUpFileCustomers(t);
  return StagedCustomers().codes.count(WithoutTrailingBlanks(code)) > 0;
}

bool InsertStagedCustomer(TFEX& t, const std::string& key) {
  bool inserted = InsertCustomer(t, key);
  if (inserted) StagedCustomers().codes.insert(WithoutTrailingBlanks(key));
  return inserted;
}

}  // namespace

void ForgetStagedCustomers() { StagedCustomers() = TStagedCustomers{}; }

bool ImportTMVSCLIALT(TFEX& t) {
  std::string code = Trim(FexGetString(t, "CDCL"));
  std::string flag = Trim(FexGetString(t, "IDIAE"));
  if (flag == "I") return InsertStagedCustomer(t, NextGeneratorValue("INC_TMVSCLIALT"));
  if (IsStaged(t, code)) return UpdateCustomer(t, code);
  return InsertStagedCustomer(t, code);
}

bool ImportTMVSCTT(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSCTT", {"CDCL", "DSCTT", "NRTCTT", "DSEMAI", "DSDEP", "IDIAE", "DTPROC", "NUPROC",
                  "IDEXP", "CDEQP"});
  TRowValues row(t, sql);
  row.Text("CDCL");
  row.Text("DSCTT");
  row.Text("NRTCTT");
  row.Text("DSEMAI");
  row.Text("DSDEP");
  row.Text("IDIAE");
  row.Bookkeeping();
  row.Value(TeamCode);
  return row.Execute();
}

bool ImportTMVSMNVCL(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSMNVCL", {"CDINC", "CDCL", "CDEQP", "CDMOT", "DTMNV", "IDEXP", "DSMSEX", "DTPROC",
                    "NUPROC"});
  TRowValues row(t, sql);
  row.NumberText(NextGeneratorValue("INC_TMVSMNVCL"));
  row.Text("CDCL");
  row.Text("CDEQP");
  row.Text("CDMOT");
  row.Date("DTMNV");
  row.Value("0");
  row.Value(" ");
  row.Now();
  row.Value(IdentName);
  return row.Execute();
}
