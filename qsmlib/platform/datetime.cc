#include "qsmlib/platform/datetime.h"

#include <sys/time.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "qsmlib/except.h"

namespace {

constexpr int64_t kMsPerDay = 86400000;

// Days from 1 January 1970 of a proleptic Gregorian date (Howard Hinnant's
// civil-days algorithm), and its inverse.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2));
}

std::string TwoDigits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

}  // namespace

TDateTime Now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::time_t secs = tv.tv_sec;
  std::tm local{};
  localtime_r(&secs, &local);
  return EncodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                        local.tm_min, local.tm_sec, static_cast<int>(tv.tv_usec / 1000));
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                       static_cast<int64_t>(kUnixEpochDay);
  const double time =
      (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / static_cast<double>(kMsPerDay);
  // Before day 0 the fraction still counts forward from midnight, so it is
  // subtracted from the negative whole part.
  return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  // Rounded to the millisecond as a whole, so 23:59:59.9996 becomes the next midnight.
  const int64_t total = std::llround(value * static_cast<double>(kMsPerDay));
  const int64_t days = total / kMsPerDay;
  int64_t ms = std::llabs(total % kMsPerDay);
  DateTimeParts p{};
  CivilFromDays(days - static_cast<int64_t>(kUnixEpochDay), p.year, p.month, p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  p.second = static_cast<int>(ms % 60);
  ms /= 60;
  p.minute = static_cast<int>(ms % 60);
  p.hour = static_cast<int>(ms / 60);
  return p;
}

std::string DateToStr(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year);
  return buf;
}

std::string DateTimeToStr(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::string text = DateToStr(value);
  if (p.hour == 0 && p.minute == 0 && p.second == 0 && p.millisecond == 0) return text;
  return text + " " + TwoDigits(p.hour) + ":" + TwoDigits(p.minute) + ":" + TwoDigits(p.second);
}

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";

  // 15 significant digits: "d.dddddddddddddde±XX".
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", value);
  std::string text = buf;
  const bool negative = text[0] == '-';
  if (negative) text.erase(0, 1);
  const size_t ePos = text.find('e');
  const int exponent = std::atoi(text.c_str() + ePos + 1);
  std::string digits(1, text[0]);
  digits.append(text, 2, ePos - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  // Appending piece by piece: "text" + std::string temporaries trip a false
  // -Wrestrict in GCC 12's optimiser.
  std::string out;
  if (negative) out += '-';
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      out.append("0,");
      out.append(static_cast<size_t>(-exponent - 1), '0');
      out.append(digits);
    } else {
      const size_t intDigits = static_cast<size_t>(exponent) + 1;
      if (digits.size() <= intDigits) {
        out.append(digits);
        out.append(intDigits - digits.size(), '0');
      } else {
        out.append(digits, 0, intDigits);
        out += ',';
        out.append(digits, intDigits, std::string::npos);
      }
    }
  } else {
    out += digits[0];
    if (digits.size() > 1) {
      out += ',';
      out.append(digits, 1, std::string::npos);
    }
    out += 'E';
    out.append(std::to_string(exponent));
  }
  return out;
}

namespace {

[[noreturn]] void NotAnInteger(const std::string& text) {
  throw EConvertError("'" + text + "' is not a valid integer value");
}

}  // namespace

int64_t StrToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) NotAnInteger(text);
  uint64_t magnitude = 0;
  constexpr uint64_t limit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') NotAnInteger(text);
    magnitude = magnitude * 10 + static_cast<uint64_t>(c - '0');
    if (magnitude > limit) NotAnInteger(text);
  }
  if (!negative && magnitude == limit) NotAnInteger(text);
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

int32_t StrToInt32(const std::string& text) {
  const int64_t v = StrToInt(text);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    NotAnInteger(text);
  return static_cast<int32_t>(v);
}
