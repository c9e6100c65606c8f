// The reply package written at the -O path.
#pragma once

#include <string>

// status 1: processed, retorno incomplete; 2: success; 3: failure.
void GenerateRetorno(int status, const std::string& message);
void PackRetorno();
