#include "processing/runparams.h"

void WriteLog(const std::string& text) {
  if (Log) Log->Write(1, text);
}

void EndProcess(int exitCode) { throw TEndProcess{exitCode}; }
