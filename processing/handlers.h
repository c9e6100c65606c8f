// The import handlers: one FEX record of a descarga table into one staging row.
#pragma once

#include <string>
#include <vector>

#include "qsmlib/fex.h"

struct TControleCodigo {
  std::string OldCode;
  std::string NewCode;
  unsigned char Kind;  // 0 order (TMVSCAB.CDPED), 3 return manifest (TMVSCBMANIFRET.CDRET)
};
inline std::vector<TControleCodigo> CodeControlList;
std::string MapCode(const std::string& code, unsigned char kind);

bool ImportTMVSCAB(TFEX& t);
bool ImportTMVSITE(TFEX& t);
bool ImportTMVSFINANC(TFEX& t);
bool ImportTMVSCLIALT(TFEX& t);
bool ImportTMVSCTT(TFEX& t);
bool ImportTMVSMNVCL(TFEX& t);
bool ImportTMVSDESCARGA(TFEX& t);
bool ImportTMVSCOBRANCAS(TFEX& t);
bool ImportTMVSPGTOCOB(TFEX& t);
bool ImportTMVSCBMANIFRET(TFEX& t);
bool ImportTMVSITMANIFRET(TFEX& t);
