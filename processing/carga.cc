// The carga road (action CR): one TMVSCARGA row for the team of the package.
#include <string>

#include "processing/database.h"
#include "processing/handlers.h"
#include "processing/handlers_common.h"
#include "processing/runparams.h"
#include "processing/workdir.h"
#include "processing/workflows.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/helpers.h"
#include "qsmlib/platform/fs.h"

void SyncCarga(const std::string& inputFile) {
  try {
    WriteLog("Inicia o sincronismo da carga : " + inputFile);
    OpenDatabase();
    BeginTransaction();
    const std::string dir = WorkDirectory(inputFile);
    // The log names the directory as given (empty for a bare file name);
    // the files themselves are looked for in the working directory.
    WriteLog("apaga os arquivos *.FEX do diretorio " + fs_layer::ExtractFilePath(inputFile) + "*.FEX");
    DeleteFilesByMask(dir + "*.FEX");
    CodeControlList.clear();
    BuildDescargaFileList();
    WriteLog("Inicio da separacao do arquivo " + inputFile);
    if (!SplitDescarga(inputFile)) {
      WriteLog("Erro ao separar o arquivo de descarga : " + inputFile);
      EndProcess(3);
    }
    WriteLog("Separou os arquivos da descarga : " + inputFile);
    if (!LoadConfiguration(dir + DescargaFileName("04"))) {
      WriteLog("Erro ao carregar os dados de configuração."_cp);
      EndProcess(5);
    }
    WriteLog("Carregou os dados da configuração : "_cp + inputFile);

    // Team code and description are bound, so an apostrophe in either is
    // stored as it is and cannot end the statement early.
    TSqlCommand insert;
    insert.sql = "INSERT INTO TMVSCARGA (CDEQP, DSQSMS, DTCRG)               VALUES (:p1,:p2, :p3)";
    TSqlValue team, description, when;
    team.kind = description.kind = TSqlValue::Kind::Text;
    team.text = TeamCode;
    description.text = QsmsDescription;
    when.kind = TSqlValue::Kind::DateTime;
    when.dateTime = NowToSeconds();
    insert.values = {team, description, when};
    if (!ExecuteSql(insert)) EndProcess(5);

    DeleteFilesByMask(dir + "*.FEX");
    WriteLog("Finaliza rotina para sincronismo da carga.");
    CommitTransaction();
    WriteLog("Terminou o sincronismo dos arquivos com sucesso.");
    CloseDatabase();
  } catch (const std::exception& e) {
    WriteLog(std::string("Erro ocorrido no sincronismo da carga: ") + e.what());
    EndProcess(8);
  }
}
