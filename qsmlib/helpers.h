// Stateless string, date and file helpers shared by every part of the system.
// Strings are single-byte Windows-1252; positions count from 1.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "qsmlib/platform/datetime.h"
#include "qsmlib/platform/pump.h"

// A buffered text file read line by line (16,384-byte buffer). Lines end at
// LF; a CR before the LF is removed.
struct TTextFile {
  std::FILE* file = nullptr;
  std::string name;
  // Read-ahead of the file: lines are cut out of it without a call per byte.
  std::vector<char> buffer;
  size_t pos = 0;
  size_t end = 0;
};
bool OpenTextRead(TTextFile& f, const std::string& fileName);
// Reads the next line into line; false at the end of the file.
bool ReadTextLine(TTextFile& f, std::string& line);
// Raises EInOutError when closing fails.
void CloseTextRead(TTextFile& f);

// Appends the directory separator unless the text already ends in it; an
// empty text becomes the separator alone.
std::string IncludeBackslash(const std::string& s);
// Deletes every file (not directory) matching the mask; failures are skipped.
void DeleteFilesByMask(const std::string& mask);
// Size in bytes of a normal file, -1 when missing or hidden.
int32_t FileSizeByName(const std::string& name);

std::string FixedWidth(const std::string& s, int width);
std::string CommaToPoint(const std::string& s);
std::string RemoveChars(const std::string& s, std::string_view set);
std::string RemoveQuotes(const std::string& s);
std::string RemoveDateSeparators(const std::string& s);
std::string ReplaceChar(const std::string& s, char from, char to);
// Cuts the next token from s up to the first delimiter of set, and removes
// the token and that one delimiter from s.
std::string NextToken(std::string& s, std::string_view set);
// Removes leading and trailing blanks and control characters (<= 32).
std::string Trim(const std::string& s);
std::string UpperCase(const std::string& s);  // ASCII letters only
std::string LowerCase(const std::string& s);  // ASCII letters only

std::string DmyToMdy(const std::string& s);
std::string DmyToYmd(const std::string& s);
std::string OracleToDate(const std::string& s);

TDateTime UnixToDateTime(int32_t secs);  // raises EConvertError for a negative count
int32_t DateTimeToUnix(TDateTime dt);
