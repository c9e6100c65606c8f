// The team code that a device sends enters the retorno's order queries as a
// bare value, so only codes that cannot change a query's structure are taken.
#pragma once

#include <string>

// True for a code of the team column's form: 1 to 10 ASCII digits, compared as a number.
bool TeamCodeFitsQueries(const std::string& code);
// The log line and retorno message for a refused team code.
std::string RefusedTeamCodeMessage(const std::string& code);
