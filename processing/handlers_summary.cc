// The descarga's summary, collections and their payments, return manifests.
#include "processing/handlers.h"
#include "processing/handlers_common.h"
#include "processing/runparams.h"
#include "processing/sqlliteral.h"
#include "qsmlib/helpers.h"

namespace {
constexpr std::size_t kDescargaDescriptionLength = 16;  // DSQSMS of TMVSDESCARGA
}

bool ImportTMVSDESCARGA(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSDESCARGA", {"CDINC", "CDEQP", "DSQSMS", "DTDSG", "QTPED", "DTULRT", "NUVERS", "NUHASH",
                       "QTCLNV", "QTCLAL", "QTCLEX", "QTPECN", "QTMNV"});
  // Set first: the retorno of a failed run still lists from this date.
  LastRetornoDate = SqlDateLiteral(DateTimeToStr(FexGetDate(t, "DTULRT")));
  std::string code = NextGeneratorValue("INC_TMVSDESCARGA");
  TRowValues row(t, sql);
  row.NumberText(code);
  row.Text("CDEQP");
  row.Value(QsmsDescription.substr(0, kDescargaDescriptionLength));
  row.Date("DTDSG");
  row.Number("QTPED");
  row.Date("DTULRT");
  row.Text("NUVERS");
  row.Value(DescargaHash);
  row.Number("QTCLNV");
  row.Number("QTCLAL");
  row.Number("QTCLEX");
  row.Number("QTPECN");
  row.Number("QTMNV");
  return row.Execute();
}

bool ImportTMVSCOBRANCAS(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSCOBRANCAS", {"NUTIT", "CDEQP", "CDCL", "DSTPTI", "DTBAIX", "QTDICR", "PCTXJR", "VLJR",
                        "VLTPG", "DTPROC", "NUPROC", "IDEXP", "DSMSEX"});
  TRowValues row(t, sql);
  row.Text("NUTIT");
  row.Text("CDEQP");
  row.Text("CDCL");
  row.Text("DSTPTI");
  row.Date("DTBAIX");
  row.Integer("QTDICR");
  row.Number("PCTXJR");
  row.Number("VLJR");
  row.Number("VLTPG");
  row.Bookkeeping();
  row.Value(" ");
  return row.Execute();
}

bool ImportTMVSPGTOCOB(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSPGTOCOB", {"NUPGTO", "NUTIT", "CDCL", "DSTPTI", "IDFORM", "IDTPCH", "NUCHEQ", "NUBCCH",
                      "DSAGCH", "NUCTCH", "VLPG", "DSNMTR", "DSCPF"});
  TRowValues row(t, sql);
  row.Text("NUPGTO");
  row.Text("NUTIT");
  row.Text("CDCL");
  row.Text("DSTPTI");
  row.Text("IDFORM");
  row.Text("IDTPCH");
  row.Text("NUCHEQ");
  row.Text("NUBCCH");
  row.Text("DSAGCH");
  row.Text("NUCTCH");
  row.Number("VLPG");
  row.Text("DSNMTR");
  row.Text("DSCPF");
  return row.Execute();
}

bool ImportTMVSCBMANIFRET(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSCBMANIFRET", {"CDRET", "CDEQP", "DSPLAC", "DTEMIS", "DSMRMD", "DTPROC", "NUPROC",
                         "IDEXP", "DSMSEX", "IDSTS"});
  std::string newCode = NextGeneratorValue("INC_TMVSCBMANIFRET");
  CodeControlList.push_back({Trim(FexGetString(t, "CDRET")), newCode, 3});
  TRowValues row(t, sql);
  row.Value(Trim(newCode));
  row.Text("CDEQP");
  row.Text("DSPLAC");
  row.Date("DTEMIS");
  row.Text("DSMRMD");
  row.Bookkeeping();
  row.Value(" ");
  row.Text("IDSTS");
  return row.Execute();
}

bool ImportTMVSITMANIFRET(TFEX& t) {
  static const std::string sql = InsertSql("TMVSITMANIFRET", {"CDRET", "CDPROD", "QTPROD"});
  TRowValues row(t, sql);
  row.Value(MapCode(Trim(FexGetString(t, "CDRET")), 3));
  row.Text("CDPROD");
  row.Integer("QTPROD");
  return row.Execute();
}
