// The descarga's table files: which there are, in which order they are
// imported, and the record-by-record walk through each of them.
#include <string>

#include "processing/database.h"
#include "processing/handlers.h"
#include "processing/handlers_common.h"
#include "processing/retorno.h"
#include "processing/runparams.h"
#include "processing/teamcode.h"
#include "processing/workdir.h"
#include "processing/workflows.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/fex.h"
#include "qsmlib/helpers.h"
#include "qsmlib/package.h"
#include "qsmlib/platform/fs.h"
#include "qsmlib/platform/pump.h"

namespace {
const char* const kConfigurationCode = "04";

[[noreturn]] void FailDescarga(const std::string& text, int exitCode) {
  WriteLog(text);
  GenerateRetorno(3, text);
  EndProcess(exitCode);
}
}  // namespace

void BuildDescargaFileList() {
  WriteLog("INICIADA CRIAÇÃO DA LISTA DE ARQUIVOS DE DESCARGA"_cp);
  DescargaFileList = {
      {"01", "TMVSCAB.FEX", ImportTMVSCAB},
      {"02", "TMVSITE.FEX", ImportTMVSITE},
      {"03", "TMVSMNVCL.FEX", ImportTMVSMNVCL},
      {"04", "TMVSEQP.FEX", nullptr},
      {"05", "TMVOCLI.FEX", ImportTMVSCLIALT},
      {"06", "TMVSDESCARGA.FEX", ImportTMVSDESCARGA},
      {"07", "TMVOCTT.FEX", ImportTMVSCTT},
      {"08", "TMVSFINANC.FEX", ImportTMVSFINANC},
      {"09", "TMVSCOBRANCAS.FEX", ImportTMVSCOBRANCAS},
      {"10", "TMVSPGTOCOB.FEX", ImportTMVSPGTOCOB},
      {"11", "TMVSCBMANIFRET.FEX", ImportTMVSCBMANIFRET},
      {"12", "TMVSITMANIFRET.FEX", ImportTMVSITMANIFRET},
  };
  WriteLog("FINALIZADA A CRIAÇÃO DA LISTA DE ARQUIVOS DE DESCARGA"_cp);
}

std::string DescargaFileName(const std::string& code) {
  for (const TListArqDsg& entry : DescargaFileList)
    if (entry.Code == code) return entry.FileName;
  FailDescarga("Não foi possível obter a descrição do arquivo número "_cp + code, 5);
}

bool SplitDescarga(const std::string& packageFile) {
  if (!fs_layer::FileExists(packageFile)) return false;
  std::string dir = WorkDirectory(packageFile);
  DeleteFilesByMask(dir + "*.FEX");
  return SplitPackage(fs_layer::FindFile(packageFile), dir, false);
}

bool LoadConfiguration(const std::string& tableFile) {
  WriteLog("Inicia rotina para carregar a configuração da descarga."_cp);
  TeamCode.clear();
  if (Trim(tableFile).empty()) return false;
  std::string found = fs_layer::FindFile(tableFile);
  if (found.empty()) return false;
  TFEX t;
  if (!FexOpen(t, found)) return false;
  if (FexRecordCount(t) == 0) {
    FexClose(t);
    WriteLog("O Arquivo " + tableFile + " esta vazio.");
    return false;
  }
  FexRead(t, 1);
  TeamCode = Trim(FexGetString(t, "CDEQP"));
  FexClose(t);
  if (TeamCode.empty()) return false;
  fs_layer::DeleteFile(found);
  WriteLog("Dados da descarga : Equipe - " + TeamCode);
  return true;
}

bool ImportTableFile(const std::string& tableFile) {
  const std::string name = UpperCase(fs_layer::ExtractFileName(tableFile));
  TFEX t;
  try {
    std::string found = fs_layer::FindFile(tableFile);
    if (found.empty()) {
      WriteLog("Não existem dados para serem importados no arquivo : "_cp + name);
      return false;
    }
    if (!FexOpen(t, found)) FailDescarga("Não foi possível abrir o arquivo : "_cp + name, 5);
    WriteLog("Iniciada a importação do arquivo : "_cp + name);
    const int32_t count = FexRecordCount(t);
    for (int32_t n = 1; n <= count; ++n) {
      FexRead(t, n);
      auto lineError = [&] {
        return "Erro na linha (" + std::to_string(n) + ") na importação do arquivo : "_cp + name;
      };
      bool taken = false;
      try {
        taken = CurrentImporter(t);
      } catch (const std::exception& e) {
        FexClose(t);
        WriteLog(lineError());
        WriteLog(std::string("Erro : ") + e.what());
        GenerateRetorno(3, lineError());
        EndProcess(5);
      }
      if (!taken) {
        FexClose(t);
        FailDescarga(lineError(), 5);
      }
      PumpMessage();
    }
    WriteLog("Finalizada a importação do arquivo : "_cp + name);
    FexClose(t);
    return true;
  } catch (const std::exception& e) {
    const std::string text = "Erro na importação do arquivo : "_cp + name;
    WriteLog(text);
    WriteLog(std::string("Erro : ") + e.what());
    GenerateRetorno(3, text);
    EndProcess(5);
  }
}

void ImportDescarga(const std::string& inputFile) {
  CodeControlList.clear();
  BuildDescargaFileList();
  WriteLog("Inicio da separacao do arquivo " + inputFile);
  if (!SplitDescarga(inputFile))
    FailDescarga("Erro ao separar o arquivo de descarga : " + inputFile, 3);
  WriteLog("Separou os arquivos da descarga : " + inputFile);

  const std::string dir = WorkDirectory(inputFile);
  if (!LoadConfiguration(dir + DescargaFileName(kConfigurationCode)))
    FailDescarga("Erro ao carregar os dados de configuração."_cp, 5);
  WriteLog("Carregou os dados da configuração da descarga : "_cp + inputFile);
  if (!TeamCodeFitsQueries(TeamCode)) FailDescarga(RefusedTeamCodeMessage(TeamCode), 5);

  ServerDateTime = DateTimeToStr(ReadServerDateTime());
  WriteLog("Data e hora do banco de dados : " + ServerDateTime);

  for (const TListArqDsg& entry : DescargaFileList) {
    if (entry.Handler == nullptr) continue;
    CurrentImporter = entry.Handler;
    // Only the file name is lower-cased: the look-up ignores case anyway, and
    // the directory must stay the one the caller named.
    ImportTableFile(dir + LowerCase(entry.FileName));
  }
}
