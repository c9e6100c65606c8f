// Date-time values and the process-wide conversion settings.
//
// A TDateTime is a day count in local time: the whole part counts days since
// 30 December 1899 (day 0), the fraction is the time of day. Day 25569 is
// 1 January 1970.
//
// The conversion settings are fixed for the whole process, whatever the
// machine's locale: date "dd/MM/yyyy", time "hh:mm:ss" (24 h), decimal comma.
#pragma once

#include <cstdint>
#include <string>

using TDateTime = double;

constexpr TDateTime kUnixEpochDay = 25569.0;

// The current local date and time, with milliseconds.
TDateTime Now();

TDateTime EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                         int second = 0, int millisecond = 0);
struct DateTimeParts {
  int year, month, day, hour, minute, second, millisecond;
};
DateTimeParts DecodeDateTime(TDateTime value);

// "dd/MM/yyyy hh:mm:ss"; a value whose time of day is exactly 00:00:00.000
// gives the date alone, "dd/MM/yyyy".
std::string DateTimeToStr(TDateTime value);
// "dd/MM/yyyy".
std::string DateToStr(TDateTime value);

// General format: up to 15 significant digits, decimal comma, no thousands
// separator, no fraction for a whole value, exponent form for a magnitude
// below 0.00001 or with more than 15 integer digits ("1E-6", "1,5E20").
std::string FloatToStr(double value);

// Decimal text to integer: leading blanks and a sign allowed, nothing after
// the digits. Raises EConvertError "'%s' is not a valid integer value".
int64_t StrToInt(const std::string& text);
// 32-bit range only (as the platform's StrToInt); same message outside it.
int32_t StrToInt32(const std::string& text);
