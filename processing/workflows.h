// The descarga road (actions DP and DF), its import loop, and the carga road (CR).
#pragma once

#include <string>
#include <vector>

#include "qsmlib/fex.h"

using ImportHandler = bool (*)(TFEX& table);

struct TListArqDsg {
  std::string Code;
  std::string FileName;
  ImportHandler Handler = nullptr;
};
inline std::vector<TListArqDsg> DescargaFileList;
inline ImportHandler CurrentImporter = nullptr;

void ProcessDescarga(const std::string& inputFile);
void CheckDescargaHash(const std::string& inputFile);
bool RunExportProcedure();
bool RunOrdersProcedure();

void ImportDescarga(const std::string& inputFile);
void BuildDescargaFileList();
bool SplitDescarga(const std::string& packageFile);
bool LoadConfiguration(const std::string& tableFile);
bool ImportTableFile(const std::string& tableFile);
std::string DescargaFileName(const std::string& code);

void SyncCarga(const std::string& inputFile);
