// The retorno: the status table and, on success, the team's orders and items
// processed by the back office since the device's last retorno.
#include "processing/retorno.h"

#include <string>

#include "processing/database.h"
#include "processing/runparams.h"
#include "processing/teamcode.h"
#include "processing/workdir.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/fex.h"
#include "qsmlib/helpers.h"
#include "qsmlib/package.h"
#include "qsmlib/platform/fs.h"
#include "qsmlib/platform/fs.h"

namespace {

const char* const kStatusTable = "TMVSSTSRETORNO";
const char* const kOrderTable = "TMVSCBPEDRETORNO";
const char* const kItemTable = "TMVSITPEDRETORNO";
const char* const kPackageBaseName = "retorno";

std::string OutputDirectory() { return WorkDirectory(OutputFile); }

TDbDataSet& SharedDataSet() {
  if (DbDataSet == nullptr) throw Exception("Conexão com o banco de dados não está aberta."_cp);
  return *DbDataSet;
}

// Creates one retorno table under the output directory with its fields.
struct TFieldDef {
  const char* name;
  int type;
  int size;
  int precision;
};
template <std::size_t N>
void CreateTable(TFEX& t, const std::string& table, const char* fileId,
                 const TFieldDef (&fields)[N]) {
  FexCreate(t, OutputDirectory() + table + ".FEX", table, fileId);
  for (const TFieldDef& f : fields) FexAddField(t, f.name, f.type, f.size, f.precision, 0);
}

const TFieldDef kStatusFields[] = {
    {"CDRET", fxInteger, 10, 0}, {"IDSTS", fxChar, 1, 0},   {"DSMSG", fxChar, 300, 0},
    {"QTPED", fxInteger, 10, 0}, {"QTCLNV", fxInteger, 10, 0}, {"QTCLAL", fxInteger, 10, 0},
    {"QTCLEX", fxInteger, 10, 0}, {"QTPECN", fxInteger, 10, 0}, {"QTMNV", fxInteger, 10, 0},
    {"DTPROC", fxTime, 10, 0},   {"NUHASH", fxChar, 50, 0},
};
const TFieldDef kOrderFields[] = {
    {"CDPED", fxChar, 25, 0}, {"CDMW", fxChar, 39, 0},    {"CDCL", fxChar, 25, 0},
    {"CDRET", fxChar, 25, 0}, {"DTPED", fxTime, 10, 0},   {"VLPED", fxFloat, 15, 4},
    {"DTPROC", fxTime, 10, 0}, {"DSMSG", fxChar, 300, 0}, {"DSRAZ", fxChar, 50, 0},
};
const TFieldDef kItemFields[] = {
    {"CDPED", fxChar, 25, 0},   {"CDPROD", fxChar, 25, 0}, {"QTDVND", fxFloat, 15, 4},
    {"QTDATE", fxFloat, 15, 4}, {"QTFALT", fxFloat, 15, 4}, {"DSMSG", fxChar, 300, 0},
    {"DSITEM", fxChar, 100, 0},
};
const char* const kDescargaCounts[] = {"QTPED", "QTCLNV", "QTCLAL", "QTCLEX", "QTPECN", "QTMNV"};

void WriteStatusRecord(TFEX& t, int status, const std::string& message) {
  int32_t n = FexAppend(t);
  FexSetString(t, "DSMSG", RemoveQuotes(message));
  if (status == 3) {
    FexSetInteger(t, "CDRET", 2);
    FexSetString(t, "IDSTS", "0");
    for (const char* count : kDescargaCounts) FexSetInteger(t, count, 0);
    FexSetDate(t, "DTPROC", Now());
    FexSetString(t, "NUHASH", "");
  } else {
    TDbDataSet& ds = SharedDataSet();
    OpenQuery(ds,
              "SELECT QTPED, QTCLNV, QTCLAL, QTCLEX, QTPECN, QTMNV, DTDSG FROM TMVSDESCARGA "
              "WHERE NUHASH = '" +
                  DescargaHash + "' ");
    FexSetInteger(t, "CDRET", 1);
    FexSetString(t, "IDSTS", "1");
    // No summary row for the hash: the counts and the date read as zero. A
    // query that did not open raises on the first field instead.
    const bool noRow = ds.Active() && ds.IsEmpty();
    for (const char* count : kDescargaCounts)
      FexSetInteger(t, count, noRow ? 0 : static_cast<int32_t>(ds.FieldAsInteger(count)));
    FexSetDate(t, "DTPROC", noRow ? 0.0 : ds.FieldAsDateTime("DTDSG"));
    FexSetString(t, "NUHASH", DescargaHash);
  }
  FexPost(t, n);
}

std::string OrderQuery() {
  return "SELECT  CAB.*,  CLI.NOME AS NOME_CLIENTE FROM  TAFCAB CAB, CLIENTE CLI WHERE  "
         "CAB.DTPROC > " +
         LastRetornoDate + " " + " AND CAB.COD_VENDEDOR = " + TeamCode + " " +
         " AND CAB.IDF_CANC = '0' " + " AND CAB.COD_CLIENTE = CLI.CODCLIENTE " + "ORDER BY " +
         " CAB.COD_PEDIDO ASC";
}

std::string ItemQuery() {
  return "SELECT  ITE.*,  (CASE WHEN (GRA.CODGRADE IS NOT NULL) THEN    ITE.COD_PRODUTO || '-' "
         "|| GRA.CODGRADE  ELSE                     ITE.COD_PRODUTO     END)   AS COD_ITEM,  "
         "(CASE WHEN (GRA.CODGRADE IS NOT NULL) THEN    PRO.DESCRICAO || '-' || GRA.DESCRICAO  "
         "ELSE                  PRO.DESCRICAO     END)   AS DES_ITEM FROM  TAFITE ITE left join "
         "GRADE GRA on ( ITE.COD_GRADE = GRA.CODGRADE), PRODUTO PRO WHERE  ITE.COD_PEDIDO IN    "
         "(      SELECT        CAB.COD_PEDIDO      FROM        TAFCAB CAB      WHERE        "
         "CAB.DTPROC > " +
         LastRetornoDate + "       AND CAB.COD_VENDEDOR = " + TeamCode + " " +
         "       AND CAB.IDF_CANC = '0' " + "   ) " + " AND PRO.CODPROD = ITE.COD_PRODUTO " +
         "ORDER BY " + " ITE.COD_PEDIDO, " + " ITE.COD_PRODUTO ASC ";
}

void WriteOrders(TFEX& t) {
  TDbDataSet& ds = SharedDataSet();
  const std::string query = OrderQuery();
  WriteLog("Comando Sql de retorno TMVSCBPEDRETORNO: " + query);
  OpenQuery(ds, query);
  while (ds.Active() && !ds.Eof()) {
    int32_t n = FexAppend(t);
    FexSetString(t, "CDPED", ds.FieldAsString("COD_PEDIDO"));
    FexSetString(t, "CDMW", ds.FieldAsString("CDMW"));
    FexSetString(t, "CDCL", ds.FieldAsString("COD_CLIENTE"));
    FexSetString(t, "CDRET", ds.FieldAsString("IMPORTADO"));
    FexSetDate(t, "DTPED", ds.FieldAsDateTime("DAT_HORACRIACAOPED"));
    FexSetFloat(t, "VLPED", ds.FieldAsFloat("VLR_TOTAL"));
    FexSetDate(t, "DTPROC", ds.FieldAsDateTime("DTPROC"));
    FexSetString(t, "DSMSG", RemoveQuotes(ds.FieldAsString("MSG_IMPORTACAO")));
    FexSetString(t, "DSRAZ", RemoveQuotes(ds.FieldAsString("NOME_CLIENTE")));
    FexPost(t, n);
    ds.Next();
  }
}

void WriteItems(TFEX& t) {
  TDbDataSet& ds = SharedDataSet();
  OpenQuery(ds, ItemQuery());
  while (ds.Active() && !ds.Eof()) {
    int32_t n = FexAppend(t);
    FexSetString(t, "CDPED", ds.FieldAsString("COD_PEDIDO"));
    FexSetString(t, "CDPROD", ds.FieldAsString("COD_ITEM"));
    FexSetFloat(t, "QTDVND", ds.FieldAsFloat("QTD_VENDA"));
    FexSetFloat(t, "QTDATE", ds.FieldAsFloat("QTDE_ATENDIDA"));
    FexSetFloat(t, "QTFALT", ds.FieldAsFloat("QTDE_FALTA"));
    FexSetString(t, "DSMSG", RemoveQuotes(ds.FieldAsString("MSG_IMPORTACAO")));
    FexSetString(t, "DSITEM", ds.FieldAsString("DES_ITEM"));
    FexPost(t, n);
    ds.Next();
  }
}

}  // namespace

void GenerateRetorno(int status, const std::string& message) {
  // Without -O there is no place the caller named: nothing is written and
  // nothing is deleted.
  if (OutputFile.empty()) return;
  const std::string dir = OutputDirectory();
  const std::string shownDir = fs_layer::ExtractFilePath(OutputFile);  // as given, for the log
  DeleteFilesByMask(dir + "*.FEX");
  WriteLog(status == 3 ? "Gerando arquivo de retorno com status ERRO"
                       : "Gerando arquivo de retorno com status SUCESSO");
  WriteLog("Criando FEX de retorno TMVSSTSRETORNO.FEX: " + shownDir + "TMVSSTSRETORNO.FEX");
  {
    // Each table is a local handle: when an exception passes, its file is
    // closed on the way out, so the caller's next retorno can replace it.
    TFEX statusTable;
    CreateTable(statusTable, kStatusTable, "R1", kStatusFields);
    WriteStatusRecord(statusTable, status, message);
    FexClose(statusTable);
  }
  if (status == 2) {
    // The team code goes into both queries as a bare value.
    if (!TeamCodeFitsQueries(TeamCode)) throw Exception(RefusedTeamCodeMessage(TeamCode));
    TFEX orders, items;
    WriteLog("Criando FEX de retorno TMVSCBPEDRETORNO.FEX: " + shownDir + "TMVSCBPEDRETORNO.FEX");
    CreateTable(orders, kOrderTable, "R2", kOrderFields);
    WriteLog("Criando FEX de retorno TMVSITPEDRETORNO.FEX: " + shownDir + "TMVSITPEDRETORNO.FEX");
    CreateTable(items, kItemTable, "R3", kItemFields);
    WriteOrders(orders);
    FexClose(orders);
    WriteItems(items);
    FexClose(items);
  }
  PackRetorno();
}

void PackRetorno() {
  if (OutputFile.empty()) return;
  const std::string dir = OutputDirectory();
  WriteLog("Compactando os arquivos de retorno no diretorio: " + fs_layer::ExtractFilePath(OutputFile) +
           "/..");
  BuildPackage(dir + "*.FEX", kPackageBaseName, true, false);
  const std::string package = dir + kPackageBaseName + ".zfx";
  // -O may name the working package itself: then it is already in place.
  // A name that differs only in letter case is the same file to a caller on
  // a case-insensitive system, but not here: rename it to the case asked for.
  const std::string outName = fs_layer::ExtractFileName(OutputFile);
  const std::string packageName = fs_layer::ExtractFileName(package);
  if (outName == packageName) return;
  if (LowerCase(outName) == LowerCase(packageName)) {
    fs_layer::RenameFile(package, dir + outName);
    return;
  }
  // The earlier retorno is removed by its own name, never as a mask: a
  // wildcard in -O must not reach other files of the directory.
  if (fs_layer::FileExists(package) && fs_layer::FileExists(OutputFile))
    fs_layer::DeleteFile(OutputFile);
  fs_layer::RenameFile(package, OutputFile);
}
