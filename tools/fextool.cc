// fextool: an operator's look inside FEX tables and packages, and the maker
// of tables from CSV files (test fixtures, sample descargas).
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "qsmlib/cp1252.h"
#include "qsmlib/except.h"
#include "qsmlib/fex.h"
#include "qsmlib/helpers.h"
#include "qsmlib/package.h"
#include "qsmlib/platform/datetime.h"
#include "qsmlib/platform/fs.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitUsage = 2;

const char kHelp[] =
    "fextool - look inside FEX tables and packages, and make them\n"
    "\n"
    "Usage:\n"
    "  fextool show <file.FEX> [--csv] [--raw]\n"
    "      Print a table: its header, its fields and every record. With --csv the\n"
    "      table is printed as CSV in the form that 'create' reads back.\n"
    "  fextool list <package>\n"
    "      List the tables inside a package: name, file ID, records, fields.\n"
    "  fextool dump <package> [--csv] [--raw]\n"
    "      Print every table inside a package, as 'show' does.\n"
    "  fextool split <package> <dir>\n"
    "      Rebuild the tables of a package as FEX files in dir (created if missing).\n"
    "  fextool build <dir> <package.zfx> [--objdefs]\n"
    "      Pack every *.FEX file of dir into the package at the given path; the\n"
    "      source files stay. With --objdefs the package also carries the\n"
    "      object-definition table TRVOD.\n"
    "  fextool create <out.FEX> <in.csv> [--id XX] [--table NAME] [--raw]\n"
    "      Make a FEX table from a CSV file.\n"
    "  fextool --help\n"
    "      This text.\n"
    "\n"
    "CSV files:\n"
    "  The first line names the fields, one cell each, as NAME:TYPE:SIZE[:PREC[:FLAGS]]\n"
    "  in record order, e.g.  CDPED:C:20,VLPED:F:15:4,DTCRIA:T:10,QTREIM:I:10\n"
    "  TYPE is C (text), I (integer), F (decimal: SIZE digits, PREC of them after\n"
    "  the point), T (date-time) or B (one character). SIZE may be left out for\n"
    "  I, T and B, whose sizes are fixed. Field names have at most 7 characters.\n"
    "  Each further line is one record. Cells are separated by commas; a cell may\n"
    "  be quoted with \"...\", inside which \"\" stands for one quote and line ends\n"
    "  are kept as they are (so records can hold CR and LF). An empty cell leaves\n"
    "  the field blank. I cells are whole numbers; F cells use '.' as decimal\n"
    "  point; T cells are 'yyyy-mm-dd hh:mm:ss' or 'yyyy-mm-dd'; C text longer\n"
    "  than its field is an error.\n"
    "  --table NAME  table name (default: the output file name without extension)\n"
    "  --id XX       two-character file ID (default: the first two characters of\n"
    "                the table name, in upper case)\n"
    "\n"
    "Text:\n"
    "  Tables hold Windows-1252 text. CSV input is read as UTF-8 and converted;\n"
    "  printed text is converted to UTF-8. --raw takes and prints bytes unchanged.\n"
    "  In the plain listing, control bytes of text fields are shown as \\xNN.\n"
    "\n"
    "Exit codes: 0 done; 1 a file is missing, damaged or not what was expected;\n"
    "2 wrong command line.\n";

struct Failure {
  std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

struct Options {
  std::vector<std::string> args;
  bool csv = false;
  bool raw = false;
  bool objdefs = false;
  std::string id;
  std::string table;
};

// ---- text conversion -------------------------------------------------------

std::string ToScreen(const std::string& cp, bool raw) { return raw ? cp : Cp1252ToUtf8(cp); }

// Fixture text must say exactly what lands in the table: a character with no
// Windows-1252 byte, or bytes that are not UTF-8, are refused, not replaced.
bool FromFixture(const std::string& utf8, bool raw, std::string& out) {
  if (raw) {
    out = utf8;
    return true;
  }
  out = Utf8ToCp1252(utf8);
  return Cp1252ToUtf8(out) == utf8;
}

// ---- CSV -------------------------------------------------------------------

struct CsvReader {
  std::FILE* f = nullptr;
  std::string name;
  long line = 1;      // line of the next character
  long rowLine = 0;   // line where the last row started
};

// Reads one row; false at the end of the file. Blank lines are skipped.
bool ReadCsvRow(CsvReader& r, std::vector<std::string>& cells) {
  for (;;) {
    cells.clear();
    r.rowLine = r.line;
    int c = std::getc(r.f);
    if (c == EOF) return false;
    if (c == '\n') {
      ++r.line;
      continue;
    }
    if (c == '\r') {
      const int d = std::getc(r.f);
      if (d == '\n') {
        ++r.line;
        continue;
      }
      if (d != EOF) std::ungetc(d, r.f);
    }
    std::string cell;
    bool quoted = false;
    bool afterQuote = false;
    bool cellStart = true;
    for (;; c = std::getc(r.f)) {
      if (quoted) {
        if (c == EOF)
          Fail(r.name + ":" + std::to_string(r.rowLine) + ": quoted cell without its closing quote");
        if (c == '"') {
          const int d = std::getc(r.f);
          if (d == '"') {
            cell.push_back('"');
            continue;
          }
          if (d != EOF) std::ungetc(d, r.f);
          quoted = false;
          afterQuote = true;
          continue;
        }
        if (c == '\n') ++r.line;
        cell.push_back(char(c));
        continue;
      }
      if (c == EOF || c == '\n' || c == ',') {
        if (!cell.empty() && cell.back() == '\r' && c != ',' && !afterQuote) cell.pop_back();
        cells.push_back(cell);
        if (c == '\n') ++r.line;
        if (c != ',') return true;
        cell.clear();
        afterQuote = false;
        cellStart = true;
        continue;
      }
      if (afterQuote) {
        if (c == '\r') continue;
        Fail(r.name + ":" + std::to_string(r.line) + ": text after the closing quote of a cell");
      }
      if (c == '"' && cellStart) {
        quoted = true;
        cellStart = false;
        continue;
      }
      cellStart = false;
      cell.push_back(char(c));
    }
  }
}

struct ColumnSpec {
  std::string name;
  int type = fxChar;
  int size = 0;
  int precision = 0;
  int flags = 0;
};

int ParseSmallInt(const std::string& text, const std::string& what, int max) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || errno != 0 || v < 0 || v > max)
    Fail(what + " '" + text + "' is not a whole number from 0 to " + std::to_string(max));
  return int(v);
}

ColumnSpec ParseColumn(const std::string& cell, const std::string& where) {
  std::vector<std::string> parts;
  std::string rest = cell;
  while (!rest.empty()) parts.push_back(NextToken(rest, ":"));
  if (parts.size() < 2 || parts.size() > 5)
    Fail(where + ": field '" + cell + "' is not NAME:TYPE:SIZE[:PREC[:FLAGS]]");
  ColumnSpec c;
  c.name = parts[0];
  if (c.name.empty() || c.name.size() > size_t(kFexFieldNameLength))
    Fail(where + ": field name '" + c.name + "' must have 1 to 7 characters");
  const std::string letter = UpperCase(parts[1]);
  static const char kLetters[] = "IFCTB";
  const char* p = letter.size() == 1 ? std::strchr(kLetters, letter[0]) : nullptr;
  if (!p || !*p) Fail(where + ": field " + c.name + " has type '" + parts[1] + "', not I, F, C, T or B");
  c.type = int(p - kLetters);
  const bool sizeNeeded = c.type == fxChar || c.type == fxFloat;
  if (parts.size() < 3 && sizeNeeded) Fail(where + ": field " + c.name + " needs a size");
  try {
    if (parts.size() >= 3) c.size = ParseSmallInt(parts[2], "size", c.type == fxFloat ? 0xFFFE : 0xFFFF);
    if (parts.size() >= 4) c.precision = ParseSmallInt(parts[3], "precision", 255);
    if (parts.size() >= 5) c.flags = ParseSmallInt(parts[4], "flags", 255);
  } catch (const Failure& f) {
    Fail(where + ": field " + c.name + ": " + f.message);
  }
  if (c.type == fxFloat && c.precision >= c.size + 1 && c.size > 0)
    Fail(where + ": field " + c.name + " has more decimals than digits");
  return c;
}

bool ParseDateCell(const std::string& text, TDateTime& out) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  int n = 0;
  if (text.size() == 10) {
    n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &mo, &d, &tail);
    if (n != 3) return false;
  } else if (text.size() == 19) {
    n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
    if (n != 6) return false;
  } else {
    return false;
  }
  for (size_t i : {4u, 7u})
    if (text[i] != '-') return false;
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] || h > 23 || mi > 59 || s > 59 ||
      h < 0 || mi < 0 || s < 0)
    return false;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (mo == 2 && d == 29 && !leap) return false;
  out = EncodeDateTime(y, mo, d, h, mi, s);
  return true;
}

bool ParseDecimalCell(const std::string& text, long double& out) {
  if (text.empty()) return false;
  size_t i = 0, digits = 0;
  if (text[i] == '-' || text[i] == '+') ++i;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0 || i != text.size()) return false;
  out = std::strtold(text.c_str(), nullptr);
  return std::isfinite(out);
}

void SetCell(TFEX& t, const ColumnSpec& c, const std::string& cell, bool raw, const std::string& where) {
  const std::string at = where + ": field " + c.name + ": ";
  switch (c.type) {
    case fxChar:
    case fxByte: {
      std::string bytes;
      if (!FromFixture(cell, raw, bytes))
        Fail(at + "text is not UTF-8 or has a character outside Windows-1252 (see --raw)");
      const size_t room = c.type == fxByte ? 1 : size_t(c.size);
      if (bytes.size() > room)
        Fail(at + "text of " + std::to_string(bytes.size()) + " bytes does not fit " +
             std::to_string(room));
      FexSetString(t, c.name, bytes);
      break;
    }
    case fxInteger:
      try {
        FexSetInteger(t, c.name, StrToInt32(Trim(cell)));
      } catch (const EConvertError&) {
        Fail(at + "'" + cell + "' is not a 32-bit whole number");
      }
      break;
    case fxFloat: {
      long double v = 0;
      if (!ParseDecimalCell(Trim(cell), v)) Fail(at + "'" + cell + "' is not a decimal number");
      FexSetFloat(t, c.name, v);
      break;
    }
    default: {  // fxTime
      TDateTime v = 0;
      if (!ParseDateCell(Trim(cell), v))
        Fail(at + "'" + cell + "' is not a date 'yyyy-mm-dd' or 'yyyy-mm-dd hh:mm:ss'");
      FexSetDate(t, c.name, v);
      break;
    }
  }
}

int Create(const Options& o) {
  if (o.args.size() != 2) Fail("usage: fextool create <out.FEX> <in.csv> [--id XX] [--table NAME] [--raw]");
  const std::string& out = o.args[0];
  const std::string& in = o.args[1];
  CsvReader r;
  r.name = in;
  r.f = std::fopen(in.c_str(), "rb");
  if (!r.f) Fail("cannot open " + in + ": " + std::strerror(errno));
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{r.f};
  // A UTF-8 byte-order mark is not part of the first field name.
  unsigned char bom[3] = {};
  const size_t got = std::fread(bom, 1, 3, r.f);
  if (!(got == 3 && bom[0] == 0xEF && bom[1] == 0xBB && bom[2] == 0xBF)) std::rewind(r.f);

  std::string table = o.table;
  if (table.empty()) {
    table = fs_layer::ExtractFileName(out);
    const size_t dot = table.rfind('.');
    if (dot != std::string::npos) table.erase(dot);
  }
  std::string id = o.id;
  if (id.empty()) {
    if (table.size() < 2) Fail("table name '" + table + "' is too short for a file ID: give --id");
    id = UpperCase(table.substr(0, 2));
  }
  if (id.size() != 2) Fail("file ID '" + id + "' must have exactly 2 characters");
  if (table.empty() || table.size() > size_t(kFexTableNameLength))
    Fail("table name '" + table + "' must have 1 to 32 characters");

  std::vector<std::string> cells;
  if (!ReadCsvRow(r, cells)) Fail(in + ": no header line naming the fields");
  std::vector<ColumnSpec> columns;
  const std::string headerAt = in + ":" + std::to_string(r.rowLine);
  for (const std::string& cell : cells) {
    std::string converted;
    if (!FromFixture(cell, o.raw, converted))
      Fail(headerAt + ": field '" + cell + "' has a character outside Windows-1252");
    columns.push_back(ParseColumn(converted, headerAt));
  }

  TFEX t;
  bool done = false;
  struct Cleanup {
    TFEX& t;
    const std::string& path;
    bool& done;
    ~Cleanup() {
      if (done) return;
      if (t.file) std::fclose(t.file);
      t.file = nullptr;
      t.PendingBlank = 0;
      std::remove(path.c_str());
    }
  } cleanup{t, out, done};
  try {
    if (!FexCreate(t, out, table, id)) Fail("cannot create " + out + ": " + std::strerror(errno));
    for (const ColumnSpec& c : columns)
      FexAddField(t, c.name, c.type, c.size, c.precision, c.flags);
    while (ReadCsvRow(r, cells)) {
      const std::string where = in + ":" + std::to_string(r.rowLine);
      if (cells.size() != columns.size())
        Fail(where + ": " + std::to_string(cells.size()) + " cells where the header names " +
             std::to_string(columns.size()) + " fields");
      const int32_t n = FexAppend(t);
      for (size_t i = 0; i < columns.size(); ++i)
        if (!cells[i].empty()) SetCell(t, columns[i], cells[i], o.raw, where);
      FexPost(t, n);
    }
    FexClose(t);
  } catch (const Exception& e) {
    Fail(in + ": " + Cp1252ToUtf8(e.what()));
  }
  done = true;
  return kExitOk;
}

// ---- showing tables --------------------------------------------------------

std::string DateText(TDateTime v) {
  const DateTimeParts p = DecodeDateTime(v);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return buf;
}

bool IsBlank(const std::string& s) { return s.find_first_not_of(' ') == std::string::npos; }

// The value as create reads it back; blank fields give an empty text, and a
// field that does not hold its type's text gives that text unchanged.
std::string ValueText(const TFEX& t, const FieldDescriptor& d) {
  const std::string text = FexGetString(t, d.name);
  try {
    switch (d.type) {
      case 'I':
        return IsBlank(text) ? std::string() : std::to_string(FexGetInteger(t, d.name));
      case 'T':
        if (IsBlank(text)) return {};
        {
          const int64_t secs = FexGetInteger(t, d.name);
          if (secs < 0) return text;
          return DateText(FexGetDate(t, d.name));
        }
      case 'F': {
        if (IsBlank(text)) return {};
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.*Lf", int(d.precision), FexGetFloat(t, d.name));
        return buf;
      }
      case 'C':
      case 'B': {
        const size_t end = text.find_last_not_of(' ');
        return end == std::string::npos ? std::string() : text.substr(0, end + 1);
      }
      default:
        return text;
    }
  } catch (const Exception&) {
    return text;
  }
}

std::string Visible(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out.push_back(char(c));
    }
  }
  return out;
}

std::string CsvCell(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

std::string ColumnText(const FieldDescriptor& d) {
  const int declared = d.type == 'F' ? d.size - 1 : d.size;
  std::string s = d.name + ":" + std::string(1, d.type) + ":" + std::to_string(declared);
  if (d.type == 'F' || d.flags) s += ":" + std::to_string(d.precision);
  if (d.flags) s += ":" + std::to_string(d.flags);
  return s;
}

void OpenTable(TFEX& t, const std::string& path) {
  const std::string found = fs_layer::FindFile(path);
  if (found.empty()) Fail(path + ": no such file");
  if (!IsFexFile(found)) Fail(path + ": not a FEX table (no QFEX mark, or not writable)");
  if (!FexOpen(t, found)) {
    unsigned char header[kFexHeaderSize] = {};
    std::FILE* f = std::fopen(found.c_str(), "rb");
    size_t got = 0;
    struct stat st {};
    if (f) {
      got = std::fread(header, 1, sizeof header, f);
      fstat(fileno(f), &st);
      std::fclose(f);
    }
    const std::string why = f && got > 0 ? FexHeaderProblem(header, st.st_size) : "";
    Fail(path + ": damaged table header" + (why.empty() ? "" : ": " + Cp1252ToUtf8(why)));
  }
}

void ShowTable(const std::string& path, bool csv, bool raw) {
  TFEX t;
  OpenTable(t, path);
  const int32_t fields = FexFieldCount(t);
  std::vector<FieldDescriptor> ds;
  for (int i = 0; i < fields; ++i) ds.push_back(FexField(t, i));
  const int32_t records = FexRecordCount(t);
  std::string out;
  auto flush = [&out] {
    std::fwrite(out.data(), 1, out.size(), stdout);
    out.clear();
  };
  if (csv) {
    for (size_t i = 0; i < ds.size(); ++i) out += (i ? "," : "") + CsvCell(ToScreen(ColumnText(ds[i]), raw));
    out += "\n";
  } else {
    out += "File:        " + path + "\n";
    out += "Table:       " + ToScreen(FexTableName(t), raw) + "\n";
    out += "File ID:     " + ToScreen(Visible(FexFileId(t)), raw) + "\n";
    out += "Flags:       " + std::to_string(FexFlags(t)) + "\n";
    out += "Records:     " + std::to_string(records) + "\n";
    out += "Record size: " + std::to_string(FexRecordSize(t)) + "\n";
    out += "References:  " + std::to_string(FexReferenceCount(t));
    for (int i = 0; i < FexReferenceCount(t); ++i) out += " " + std::to_string(FexReference(t, i));
    out += "\nFields:      " + std::to_string(fields) + "\n";
    char buf[160];
    std::snprintf(buf, sizeof buf, "  %-4s %-8s %-4s %6s %5s %5s %7s\n", "#", "Name", "Type", "Size",
                  "Prec", "Flags", "Offset");
    out += buf;
    for (size_t i = 0; i < ds.size(); ++i) {
      std::snprintf(buf, sizeof buf, "  %-4zu %-8s %-4c %6u %5u %5u %7u\n", i + 1,
                    ToScreen(Visible(ds[i].name), raw).c_str(), ds[i].type, unsigned(ds[i].size),
                    unsigned(ds[i].precision), unsigned(ds[i].flags), unsigned(ds[i].offset));
      out += buf;
    }
  }
  flush();
  for (int32_t n = 1; n <= records; ++n) {
    try {
      FexRead(t, n);
    } catch (const Exception& e) {
      Fail(path + ": record " + std::to_string(n) + " of " + std::to_string(records) + ": " +
           e.what());
    }
    if (csv) {
      for (size_t i = 0; i < ds.size(); ++i)
        out += (i ? "," : "") + CsvCell(ToScreen(ValueText(t, ds[i]), raw));
      out += "\n";
    } else {
      out += "Record " + std::to_string(n) + "\n";
      for (const FieldDescriptor& d : ds) {
        std::string v = d.type == 'C' || d.type == 'B' ? "\"" + Visible(FexGetString(t, d.name)) + "\""
                                                       : Visible(ValueText(t, d));
        out += "  " + ToScreen(d.name, raw) + std::string(size_t(kFexFieldNameLength + 1) - d.name.size(), ' ') +
               "= " + ToScreen(v, raw) + "\n";
      }
    }
    if (out.size() > (1u << 16)) flush();
  }
  flush();
  FexClose(t);
}

// ---- packages --------------------------------------------------------------

struct TempDirectory {
  std::string path;
  TempDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/fextool-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) Fail(std::string("cannot make a temporary directory: ") + std::strerror(errno));
    path = buf.data();
  }
  ~TempDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

void SplitInto(const std::string& package, const std::string& dir) {
  if (!fs_layer::FileExists(package)) Fail(package + ": no such file");
  try {
    if (!SplitPackage(package, dir + "/", false))
      Fail(package + ": not a package, or the package is damaged or truncated");
  } catch (const Exception& e) {
    Fail(package + ": " + Cp1252ToUtf8(e.what()));
  }
}

std::vector<std::string> TablesIn(const std::string& dir) {
  std::vector<std::string> paths;
  for (const fs_layer::DirEntry& e : fs_layer::FindByMask(dir + "/*.FEX"))
    if (!e.isDirectory) paths.push_back(e.path);
  return paths;
}

int List(const Options& o) {
  if (o.args.size() != 1) Fail("usage: fextool list <package>");
  TempDirectory tmp;
  SplitInto(o.args[0], tmp.path);
  std::printf("%-32s %-4s %10s %6s %8s\n", "Table", "ID", "Records", "Fields", "RecSize");
  for (const std::string& path : TablesIn(tmp.path)) {
    TFEX t;
    OpenTable(t, path);
    std::printf("%-32s %-4s %10d %6d %8d\n", Cp1252ToUtf8(FexTableName(t)).c_str(),
                Visible(FexFileId(t)).c_str(), FexRecordCount(t), FexFieldCount(t), FexRecordSize(t));
    FexClose(t);
  }
  return kExitOk;
}

int Dump(const Options& o) {
  if (o.args.size() != 1) Fail("usage: fextool dump <package> [--csv] [--raw]");
  TempDirectory tmp;
  SplitInto(o.args[0], tmp.path);
  bool first = true;
  for (const std::string& path : TablesIn(tmp.path)) {
    TFEX t;
    OpenTable(t, path);
    const std::string name = ToScreen(FexTableName(t), o.raw);
    FexClose(t);
    std::printf("%s== %s ==\n", first ? "" : "\n", name.c_str());
    std::fflush(stdout);
    first = false;
    ShowTable(path, o.csv, o.raw);
  }
  return kExitOk;
}

int Split(const Options& o) {
  if (o.args.size() != 2) Fail("usage: fextool split <package> <dir>");
  std::error_code ec;
  std::filesystem::create_directories(o.args[1], ec);
  if (!fs_layer::DirectoryExists(o.args[1])) Fail("cannot make directory " + o.args[1]);
  SplitInto(o.args[0], o.args[1]);
  return kExitOk;
}

int Build(const Options& o) {
  if (o.args.size() != 2) Fail("usage: fextool build <dir> <package.zfx> [--objdefs]");
  const std::string& dir = o.args[0];
  const std::string& target = o.args[1];
  if (!fs_layer::DirectoryExists(dir)) Fail(dir + ": no such directory");
  // A hidden base name keeps the work files clear of the tables being packed
  // and of any package already in the directory.
  const std::string base = ".fextool-" + std::to_string(getpid());
  const std::string made = dir + "/" + base + ".zfx";
  try {
    BuildPackage(dir + "/*.FEX", base, false, o.objdefs);
  } catch (const Exception& e) {
    Fail(Cp1252ToUtf8(e.what()));
  }
  if (!fs_layer::FileExists(made)) Fail("the package could not be written in " + dir);
  std::error_code ec;
  std::filesystem::rename(made, target, ec);
  if (ec) {
    std::filesystem::copy_file(made, target, std::filesystem::copy_options::overwrite_existing, ec);
    std::filesystem::remove(made);
    if (ec) Fail("cannot write " + target + ": " + ec.message());
  }
  return kExitOk;
}

int Show(const Options& o) {
  if (o.args.size() != 1) Fail("usage: fextool show <file.FEX> [--csv] [--raw]");
  ShowTable(o.args[0], o.csv, o.raw);
  return kExitOk;
}

int Run(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kHelp, stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kHelp, stdout);
    return kExitOk;
  }
  Options o;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--csv") {
      o.csv = true;
    } else if (a == "--raw") {
      o.raw = true;
    } else if (a == "--objdefs") {
      o.objdefs = true;
    } else if (a == "--id" || a == "--table") {
      if (i + 1 >= argc) Fail(a + " needs a value");
      (a == "--id" ? o.id : o.table) = argv[++i];
    } else if (a == "--help") {
      std::fputs(kHelp, stdout);
      return kExitOk;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      Fail("unknown option " + a);
    } else {
      o.args.push_back(a);
    }
  }
  if (!o.raw && command == "create") {
    // Table and field names given on the command line are UTF-8 too.
    std::string t;
    if (!FromFixture(o.table, false, t)) Fail("--table: not representable in Windows-1252");
    o.table = t;
  }
  if (command == "create") return Create(o);
  if (command == "show") return Show(o);
  if (command == "list") return List(o);
  if (command == "dump") return Dump(o);
  if (command == "split") return Split(o);
  if (command == "build") return Build(o);
  Fail("unknown command " + command + " (see fextool --help)");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const Failure& f) {
    std::fflush(stdout);
    std::fprintf(stderr, "fextool: %s\n", f.message.c_str());
    const bool usage = f.message.rfind("usage:", 0) == 0 || f.message.rfind("unknown ", 0) == 0 ||
                       f.message.find("needs a value") != std::string::npos;
    return usage ? kExitUsage : kExitBadFile;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "fextool: %s\n", Cp1252ToUtf8(e.what()).c_str());
    return kExitBadFile;
  }
}
