// Order headers, order items and order payments.
#include "processing/handlers.h"
#include "processing/handlers_common.h"
#include "processing/runparams.h"
#include "qsmlib/helpers.h"

bool ImportTMVSCAB(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSCAB", {"CDCL",   "CDCNPG", "CDEQP",  "CDMW",   "CDPED",  "CDTPVD", "DSOBS",  "DTCRIA",
                  "DTALT",  "DTFECH", "DTENT",  "IDSTS",  "NUPECL", "DTPROC", "NUPROC", "IDEXP",
                  "VLPED",  "IDMDNG", "IDTPPD", "IDCAN",  "NUNOTA", "NUSERI", "VLICMS", "VLST",
                  "VLPDIM", "DTFAT",  "IDEMI",  "QTREIM", "DTEMIS", "VLBSIC", "VLBSST"});
  std::string newCode = NextGeneratorValue("INC_TMVSCAB");
  // Recorded before the row is written: the items of the order follow it
  // even when this insert is refused and the run ends.
  CodeControlList.push_back({Trim(FexGetString(t, "CDPED")), newCode, 0});

  TRowValues row(t, sql);
  row.Text("CDCL");
  row.Text("CDCNPG");
  row.Text("CDEQP");
  row.Text("CDMW");
  row.Value(Trim(newCode));
  row.Text("CDTPVD");
  row.Value(RemoveQuotes(Trim(FexGetString(t, "DSOBS"))));
  row.Date("DTCRIA");
  row.Date("DTALT");
  row.Date("DTFECH");
  row.Date("DTENT");
  row.Text("IDSTS");
  row.Text("NUPECL");
  row.Bookkeeping();
  row.Number("VLPED");
  row.Text("IDMDNG");
  row.Text("IDTPPD");
  row.Text("IDCAN");
  row.Text("NUNOTA");
  row.Text("NUSERI");
  row.Number("VLICMS");
  row.Number("VLST");
  row.Number("VLPDIM");
  row.Date("DTFAT");
  row.Text("IDEMI");
  row.Integer("QTREIM");
  row.Date("DTEMIS");
  row.Number("VLBSIC");
  row.Number("VLBSST");
  return row.Execute();
}

bool ImportTMVSITE(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSITE", {"CDPED", "CDPROD", "CDGRAD", "QTDVND", "VLTAB",  "VLVEND", "PCDSAC",
                  "CDTRIB", "VLICMS", "PCBSIC", "PCALIC", "VLST",  "PCBSST", "PCALST",
                  "VLITIM", "DSCFOP", "VLPROD", "VLBSIC", "VLBSST"});
  TRowValues row(t, sql);
  row.Value(MapCode(Trim(FexGetString(t, "CDPED")), 0));
  row.Text("CDPROD");
  row.Text("CDGRAD");
  row.Number("QTDVND");
  row.Number("VLTAB");
  row.Number("VLVEND");
  row.Number("PCDSAC");
  row.Text("CDTRIB");
  row.Number("VLICMS");
  row.Number("PCBSIC");
  row.Number("PCALIC");
  row.Number("VLST");
  row.Number("PCBSST");
  row.Number("PCALST");
  row.Number("VLITIM");
  row.Text("DSCFOP");
  row.Number("VLPROD");
  row.Number("VLBSIC");
  row.Number("VLBSST");
  return row.Execute();
}

bool ImportTMVSFINANC(TFEX& t) {
  static const std::string sql = InsertSql(
      "TMVSFINANC", {"NUPGTO", "CDPED",  "IDFORM", "NUPARC", "IDTPBO", "IDTPCH", "NUCART", "NUBCBL",
                     "NUNOSS", "NUCHEQ", "NUBCCH", "DSAGCH", "NUCTCH", "DTVENC", "VLPG",   "DTPROC",
                     "NUPROC", "IDEXP",  "DSMSEX", "IDSTS",  "DTPGTO", "DSNMTR", "DSCPF"});
  std::string payment = NextGeneratorValue("INC_TMVSFINANC");
  TRowValues row(t, sql);
  row.NumberText(payment);
  row.Value(MapCode(Trim(FexGetString(t, "CDPED")), 0));
  row.Text("IDFORM");
  row.Text("NUPARC");
  row.Text("IDTPBO");
  row.Text("IDTPCH");
  row.QuotedInteger("NUCART");
  row.Text("NUBCBL");
  row.Text("NUNOSS");
  row.Text("NUCHEQ");
  row.Text("NUBCCH");
  row.Text("DSAGCH");
  row.Text("NUCTCH");
  row.Date("DTVENC");
  row.Number("VLPG");
  row.Bookkeeping();
  row.Value(" ");
  row.Value("1");
  row.Date("DTPGTO");
  row.Text("DSNMTR");
  row.Text("DSCPF");
  return row.Execute();
}
