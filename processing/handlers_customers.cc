// Customers created or changed on the device, their contacts and movements.

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

// Whether a staged row of TMVSCLIALT has this code. The database compares the
// codes (its collation decides about letter case and trailing blanks), one
// query per record, prepared once, with the device's code bound.
bool IsStaged(const std::string& code) {
  TSqlCommand query;
  query.sql = "SELECT CDCL FROM TMVSCLIALT WHERE CDCL = :p1";
  query.values = {{TSqlValue::Kind::Text, code, 0}};
  return QueryHasRow(query);
}

}  // namespace

bool ImportTMVSCLIALT(TFEX& t) {
  std::string code = Trim(FexGetString(t, "CDCL"));
  std::string flag = Trim(FexGetString(t, "IDIAE"));
  if (flag == "I") return InsertCustomer(t, NextGeneratorValue("INC_TMVSCLIALT"));
  if (IsStaged(code)) return UpdateCustomer(t, code);
  return InsertCustomer(t, code);
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
