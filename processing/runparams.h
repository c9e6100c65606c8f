// Process-wide run values, set once and read everywhere, and the one way out
// of the process.
#pragma once

#include <cstdint>
#include <string>

#include "qsmlib/log.h"

// Switches of the command line.
inline std::string InputFile;        // -I
inline std::string OutputFile;       // -O
inline std::string IdentName;        // -U
inline std::string QsmsDescription;  // -S
inline std::string Action;           // -A
inline int32_t LogLevel = 0;         // 10 once -I, -O, -S, -A or -D is seen
inline std::string LogFileName;      // directory of -O + "../debug_veruvav.txt"

// The run's log; null until the program body creates it.
inline TTrvLog* Log = nullptr;

// Values of one descarga.
inline std::string DescargaHash;
inline int32_t DescargaSize = 0;
inline std::string TeamCode;
inline std::string ServerDateTime;
inline std::string LastRetornoDate;

// Writes one line at level 1 when the log exists.
void WriteLog(const std::string& text);

// Ending the process with an exit code is a thrown TEndProcess, caught only by
// main(). It does not derive from std::exception, so the generic handlers of
// the workflows (catch (const std::exception&)) let it pass.
struct TEndProcess {
  int ExitCode;
};
[[noreturn]] void EndProcess(int exitCode);
