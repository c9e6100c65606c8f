#include "processing/teamcode.h"

#include "qsmlib/cp1252.h"

namespace {
constexpr std::size_t kMaxTeamCodeDigits = 10;  // the team columns hold 10 characters
}

bool TeamCodeFitsQueries(const std::string& code) {
  if (code.empty() || code.size() > kMaxTeamCodeDigits) return false;
  for (char c : code)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string RefusedTeamCodeMessage(const std::string& code) {
  return "Código da equipe inválido na descarga : ["_cp + code + "]";
}
