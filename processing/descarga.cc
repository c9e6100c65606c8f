// The road of one descarga (actions DP and DF): hash registration, import,
// export procedure, commit or rollback, retorno.
#include <string>

#include "processing/database.h"
#include "processing/retorno.h"
#include "processing/runparams.h"
#include "processing/sqlliteral.h"
#include "processing/teamcode.h"
#include "processing/workdir.h"
#include "processing/workflows.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/fex.h"
#include "qsmlib/helpers.h"
#include "qsmlib/md5.h"
#include "qsmlib/platform/fs.h"

namespace {

const char* const kRetornoStartLine = "Inicia rotina para geração do retorno.";
const char* const kRetornoEndLine = "Finaliza rotina para geração do retorno.";
const char* const kSuccessMessage = "Descarga processada com sucesso!";

TDbDataSet& SharedDataSet() {
  if (DbDataSet == nullptr) throw Exception("Conexão com o banco de dados não está aberta."_cp);
  return *DbDataSet;
}

// A parameter of the first TMVSPARAMGL row as text; a table without rows
// reads as empty, a query that did not open raises on the field read.
std::string FirstParameter(const std::string& column) {
  TDbDataSet& ds = SharedDataSet();
  if (ds.Active() && ds.IsEmpty()) return "";
  return ds.FieldAsString(column);
}

void RetornoWithLines(int status, const std::string& message) {
  WriteLog(Utf8ToCp1252(kRetornoStartLine));
  GenerateRetorno(status, message);
  WriteLog(Utf8ToCp1252(kRetornoEndLine));
}

void DeleteInputForDP(const std::string& inputFile) {
  if (Action == "DP") fs_layer::DeleteFile(inputFile);
}

// The package was processed before and is not imported again: its retorno is
// rebuilt from what that processing left. Always ends the process.
[[noreturn]] void RebuildKnownDescarga(const std::string& inputFile) {
  WriteLog("O hash da descarga já foi inserido!"_cp);
  if (!SplitDescarga(inputFile)) {
    const std::string text = "Erro ao separar o arquivo de descarga : " + inputFile;
    WriteLog(text);
    GenerateRetorno(3, text);
    EndProcess(3);
  }
  const std::string dir = WorkDirectory(inputFile);
  if (!LoadConfiguration(dir + "TMVSEQP.FEX")) {
    const std::string text = "Erro ao carregar os dados de configuração."_cp;
    WriteLog(text);
    GenerateRetorno(3, text);
    EndProcess(5);
  }
  WriteLog("Carregou os dados da configuração da descarga : "_cp + inputFile);
  if (!TeamCodeFitsQueries(TeamCode)) {
    const std::string text = RefusedTeamCodeMessage(TeamCode);
    WriteLog(text);
    GenerateRetorno(3, text);
    EndProcess(5);
  }

  std::string summary = fs_layer::FindFile(dir + "tmvsdescarga.fex");
  if (!summary.empty()) {
    TFEX t;
    if (!FexOpen(t, summary)) throw Exception("Não foi possível abrir o arquivo : "_cp + summary);
    FexRead(t, 1);
    LastRetornoDate = SqlDateLiteral(DateTimeToStr(FexGetDate(t, "DTULRT")));
    FexClose(t);
    RetornoWithLines(2, kSuccessMessage);
  } else {
    WriteLog(
        "Erro ao efetuar a montagem do retorno - Não foi encontrado o arquivo TMVSDESCARGA.FEX!"_cp);
    RetornoWithLines(1,
                     "Descarga processada, mas houve erro ao gerar o arquivo de retorno - Não foi "
                     "encontrado o arquivo TMVSDESCARGA.FEX!"_cp);
  }
  DeleteFilesByMask(dir + "*.FEX");
  DeleteInputForDP(inputFile);
  WriteLog("Terminou a importação e geração dos arquivos com sucesso."_cp);
  CloseDatabase();
  EndProcess(9);
}

}  // namespace

void CheckDescargaHash(const std::string& inputFile) {
  if (!fs_layer::FileExists(inputFile)) {
    const std::string text = "Arquivo de input não encontrado : "_cp + inputFile;
    WriteLog(text);
    GenerateRetorno(3, text);
    EndProcess(10);
  }
  const std::string found = fs_layer::FindFile(inputFile);
  DescargaHash = MD5OfFile(found);
  DescargaSize = FileSizeByName(found);
  try {
    WriteLog("Irá inserir na tabela de hash, o hash da descarga."_cp);
    const std::string now = CurrentTimestampExpression();
    OpenQuery(SharedDataSet(), "SELECT IDQSHS FROM TMVSPARAMGL");
    if (ExecuteSql("INSERT INTO TMVSHASH (HASH,TAM,DATA) VALUES ('" + DescargaHash + "','" +
                   std::to_string(DescargaSize) + "'," + now + ")")) {
      WriteLog("Inseriu o hash na tabela de hash.");
      return;
    }
    if (FirstParameter("IDQSHS") != "0") {
      WriteLog("Reprocessando descarga com mesmo hash...");
      return;
    }
    RebuildKnownDescarga(inputFile);
  } catch (const std::exception& e) {
    WriteLog("O hash da descarga já foi inserido! Erro: "_cp + e.what());
    GenerateRetorno(1,
                    "Descarga processada, mas houve erro na importação dos pedidos para o sistema "
                    "de gestão"_cp);
    EndProcess(9);
  }
}

bool RunExportProcedure() {
  try {
    WriteLog(
        "Inicia a execução da procedure para transferência das informações das tabelas TMVS's "
        "para TAF's."_cp);
    ExecuteStoredProcedure("TRV_EXP_TMVS_TAF", {IdentName});
    WriteLog(
        "Finaliza a execução da procedure para transferência das informações das tabelas TMVS's "
        "para TAF's."_cp);
    return true;
  } catch (const std::exception& e) {
    WriteLog(
        "Erro na execução da procedure para transferência das informações das tabelas TMVS's "
        "para TAF's: "_cp +
        e.what());
    return false;
  }
}

bool RunOrdersProcedure() {
  try {
    WriteLog("Inicia a execução da procedure para atualização das quantidades."_cp);
    ExecuteStoredProcedure("VUDIDEVADUZAVERARED", {});
    WriteLog("Finaliza a execução da procedure para atualização das quantidades."_cp);
    return true;
  } catch (const std::exception& e) {
    WriteLog("Erro na execução da procedure para atualização das quantidades: "_cp + e.what());
    return false;
  }
}

void ProcessDescarga(const std::string& inputFile) {
  try {
    WriteLog("Inicia o processamento da descarga : " + inputFile);
    OpenDatabase();
    BeginTransaction();
    CheckDescargaHash(inputFile);
    WriteLog("Inicia rotina para processar a descarga.");
    const std::string dir = WorkDirectory(inputFile);
    DeleteFilesByMask(dir + "*.FEX");
    ImportDescarga(inputFile);
    DeleteFilesByMask(dir + "*.FEX");
    WriteLog("Finaliza rotina para processar a descarga.");

    if (RunExportProcedure()) {
      WriteLog(Utf8ToCp1252(kRetornoStartLine));
      CommitTransaction();
      OpenQuery(SharedDataSet(), "SELECT IDPROC FROM TMVSPARAMGL");
      if (FirstParameter("IDPROC") == "1" && !RunOrdersProcedure())
        GenerateRetorno(2,
                        "Descarga processada com sucesso, mas a procedure VUDIDEVADUZAVERARED não "
                        "foi executada corretamente"_cp);
      else
        GenerateRetorno(2, kSuccessMessage);
      WriteLog(Utf8ToCp1252(kRetornoEndLine));
    } else {
      RollbackTransaction();
      WriteLog(
          "Erro na execução da procedure de exportação entre as tabelas TMVS's e TAF's da "
          "Tarvos."_cp);
      RetornoWithLines(3,
                       "Descarga não processada, houve erro na exportação entre as tabelas TMVS's "
                       "e TAF's da Tarvos."_cp);
    }
    DeleteInputForDP(inputFile);
    WriteLog("Terminou a importação e geração dos arquivos com sucesso."_cp);
    CloseDatabase();
  } catch (const std::exception& e) {
    WriteLog(std::string("Erro Ocorrido no processamento da descarga: ") + e.what());
    GenerateRetorno(3, std::string("Erro ocorrido no processamento da descarga: ") + e.what());
    EndProcess(8);
  }
}
