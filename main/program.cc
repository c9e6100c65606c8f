#include "main/program.h"

#include <exception>

#include "processing/database.h"
#include "processing/retorno.h"
#include "processing/runparams.h"
#include "processing/workflows.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/helpers.h"
#include "qsmlib/log.h"
#include "qsmlib/platform/datetime.h"
#include "qsmlib/platform/fs.h"
#include "qsmlib/platform/inifile.h"

namespace {

constexpr const char* kLogFileRelative = "../debug_veruvav.txt";
constexpr const char* kRotationFile = "rotate.ini";
constexpr const char* kRotationSection = "Data";
constexpr const char* kRotationKey = "Data";
constexpr int kLogGenerations = 30;
constexpr int32_t kLogOptions = loDate | loTime | loMilliseconds | loLevel;
constexpr int32_t kVerboseLevel = 10;

constexpr int kExitOk = 0;
constexpr int kExitMissingParameter = 4;
constexpr int kExitException = 8;

const std::string kSeparatorLine(59, '-');

void StartLog() {
  Log = new TTrvLog(LogFileName, LogLevel, kLogOptions);
  Log->Start();
  Log->Flush();
}

void CheckRequiredParameters() {
  if (InputFile.empty() || LogFileName.empty() || QsmsDescription.empty() || OutputFile.empty()) {
    WriteLog("Faltando parâmetros para inicializar a aplicação."_cp);
    GenerateRetorno(3, "");
    EndProcess(kExitMissingParameter);
  }
}

void WriteBanner() {
  WriteLog(" ");
  WriteLog(kSeparatorLine);
  WriteLog(kSeparatorLine);
  WriteLog(" ");
  WriteLog("Inicia o processamento do arquivo.");
  WriteLog("Arquivo : " + InputFile);
  WriteLog("Ação Requisitada : ["_cp + Action + "]");
  WriteLog("Nome de identificação da copiado arquivo : ["_cp + IdentName + "]");
}

void Dispatch() {
  if (Action == "DP" || Action == "DF") {
    ProcessDescarga(InputFile);
  } else if (Action == "CR") {
    SyncCarga(InputFile);
  } else {
    WriteLog("Ação cadastrada no QSMS é inválida."_cp);
  }
}

[[noreturn]] void FailRun(const std::string& message) {
  WriteLog("Erro durante a execução do programa, erro: "_cp + message);
  try {
    GenerateRetorno(3, "");
  } catch (const std::exception&) {
    // The run already failed; a failing retorno must not change its exit code.
  } catch (const TEndProcess&) {
  }
  EndProcess(kExitException);
}

}  // namespace

void ReadCommandLine(const std::vector<std::string>& args) {
  LogLevel = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string sw = UpperCase(args[i]);
    if (sw == "-D") {
      LogLevel = kVerboseLevel;
      continue;
    }
    std::string* target = nullptr;
    bool verbose = true;
    if (sw == "-I") target = &InputFile;
    else if (sw == "-O") target = &OutputFile;
    else if (sw == "-U") target = &IdentName, verbose = false;
    else if (sw == "-S") target = &QsmsDescription;
    else if (sw == "-A") target = &Action;
    if (!target) continue;  // not a switch: skipped, and it takes no value

    const std::string raw = i + 1 < args.size() ? args[++i] : std::string();
    *target = Trim(raw);
    if (sw == "-O") LogFileName = Trim(fs_layer::ExtractFilePath(raw) + kLogFileRelative);
    if (verbose) LogLevel = kVerboseLevel;
  }
}

std::string TodayRotationKey() { return RemoveDateSeparators(DmyToYmd(DateToStr(Now()))); }

void RotateLogDaily(const std::string& todayKey) {
  const TIniFile ini(fs_layer::ExtractFilePath(LogFileName) + kRotationFile);
  std::string rotationDate;
  if (!fs_layer::FileExists(fs_layer::ExtractFilePath(LogFileName) + kRotationFile)) {
    // Where rotate.ini cannot be made the log cannot be either: nothing to
    // rotate, and the job itself must not fail for it.
    if (!ini.WriteString(kRotationSection, kRotationKey, todayKey)) return;
    rotationDate = ini.ReadString(kRotationSection, kRotationKey, "");
  } else {
    rotationDate = ini.ReadString(kRotationSection, kRotationKey, "");
  }
  if (StrToInt32(todayKey) > StrToInt32(rotationDate)) {
    if (Log) Log->Rotate(kLogGenerations);
    ini.WriteString(kRotationSection, kRotationKey, todayKey);
  }
}

int RunProgram(const std::vector<std::string>& args) {
  // The conversion settings (dd/MM/yyyy, hh:mm:ss, decimal comma) are fixed
  // in the platform layer and need no set-up here.
  try {
    try {
      ReadCommandLine(args);
      StartLog();
      CheckRequiredParameters();
      RotateLogDaily(TodayRotationKey());
      WriteBanner();
      Dispatch();
      EndProcess(kExitOk);
    } catch (const TEndProcess&) {
      throw;
    } catch (const std::exception& e) {
      FailRun(e.what());
    } catch (...) {
      FailRun("");
    }
  } catch (const TEndProcess& end) {
    try {
      AbandonDatabase();
    } catch (const std::exception&) {
      // Ending anyway: what was not committed is lost either way.
    }
    return end.ExitCode;
  }
  return kExitException;  // not reached: every path above ends in EndProcess
}
