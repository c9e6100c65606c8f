// SQL literals of dates and numbers for the database kind of the run.
#pragma once

#include <string>

#include "processing/database.h"

std::string SqlDateLiteral(const std::string& dateTimeText, TDbKind kind = DbKind);
std::string SqlNumberLiteral(const std::string& numberText, TDbKind kind = DbKind);
// A text value between single quotes, quotes inside doubled.
std::string SqlQuoted(const std::string& value);
