#include "processing/handlers_common.h"

#include <charconv>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "processing/handlers.h"
#include "processing/runparams.h"
#include "qsmlib/helpers.h"

std::string InsertSql(const std::string& table, std::initializer_list<const char*> columns) {
  std::string names, params;
  int n = 0;
  for (const char* column : columns) {
    if (n > 0) {
      names += ",";
      params += ",";
    }
    names += column;
    params += ":p" + std::to_string(++n);
  }
  return "INSERT INTO " + table + " (" + names + ") VALUES (" + params + ")";
}

TDateTime NowToSeconds() {
  DateTimeParts p = DecodeDateTime(::Now());
  return EncodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second, 0);
}

namespace {
// An index over CodeControlList, so that a descarga's items do not scan all
// of its orders. It follows the list as it grows and starts again when the
// list is emptied for a new import; the first entry of a code wins, as in a
// scan from the front.
struct TCodeIndex {
  std::unordered_map<std::string, std::size_t> first;
  std::size_t indexed = 0;
  TControleCodigo last{};  // the last entry indexed: tells a list started anew

  bool Follows(const std::vector<TControleCodigo>& list) const {
    if (indexed == 0) return true;
    if (list.size() < indexed) return false;
    const TControleCodigo& e = list[indexed - 1];
    return e.Kind == last.Kind && e.OldCode == last.OldCode && e.NewCode == last.NewCode;
  }
};

std::string IndexKey(unsigned char kind, const std::string& code) {
  return std::string(1, static_cast<char>(kind)) + code;
}
}  // namespace

std::string MapCode(const std::string& code, unsigned char kind) {
  static TCodeIndex index;
  if (!index.Follows(CodeControlList)) index = TCodeIndex{};
  for (; index.indexed < CodeControlList.size(); ++index.indexed) {
    const TControleCodigo& entry = CodeControlList[index.indexed];
    index.first.emplace(IndexKey(entry.Kind, entry.OldCode), index.indexed);
    index.last = entry;
  }
  auto it = index.first.find(IndexKey(kind, code));
  return it == index.first.end() ? code : CodeControlList[it->second].NewCode;
}

namespace {
constexpr int kNumberDigits = 15;
// The general format writes a number without an exponent when its decimal
// exponent lies in [kLowestPlainExponent, kNumberDigits).
constexpr int kLowestPlainExponent = -4;

// The statement of each handler's text, kept for the whole run. Keyed by the
// address of the handler's own text (each is a static string), checked
// against the text itself.
TSqlCommand& CommandFor(const std::string& sql) {
  static std::unordered_map<const std::string*, TSqlCommand> commands;
  TSqlCommand& command = commands[&sql];
  if (command.sql != sql) {
    command.sql = sql;
    command.values.clear();
  }
  return command;
}

// Where each field that the handlers read sits in a record of the table being
// imported. Found by name once per table layout; a different handle, file or
// field layout starts it again.
struct TFieldSpot {
  std::string name;
  int slot;          // -1: the table has no such field
  uint32_t offset;
  uint16_t size;
  uint8_t precision;
};

struct TLayoutCache {
  const TFEX* table = nullptr;
  std::string fileName;
  std::string descriptors;  // the header's field descriptors as they were read
  std::vector<TFieldSpot> spots;
  std::size_t next = 0;  // the spot after the last one found: handlers read in a fixed order

  std::string_view Descriptors(const TFEX& t) const {
    int32_t fields = FexFieldCount(t);
    if (fields < 0) fields = 0;
    if (fields > kFexMaxFields) fields = kFexMaxFields;
    return {reinterpret_cast<const char*>(t.header + kFexOffDescriptors),
            static_cast<std::size_t>(fields) * kFexDescriptorSize};
  }

  void Follow(const TFEX& t) {
    const std::string_view current = Descriptors(t);
    if (table == &t && fileName == t.FileName && descriptors == current) return;
    table = &t;
    fileName = t.FileName;
    descriptors.assign(current);
    spots.clear();
    next = 0;
  }

  const TFieldSpot& Spot(const TFEX& t, const char* name) {
    if (next < spots.size() && spots[next].name == name) return spots[next++];
    for (std::size_t i = 0; i < spots.size(); ++i)
      if (spots[i].name == name) {
        next = i + 1;
        return spots[i];
      }
    FieldDescriptor d;
    const int slot = FexFindField(t, name, &d);
    spots.push_back({name, slot, d.offset, d.size, d.precision});
    next = spots.size();
    return spots.back();
  }
};

TLayoutCache& Layout() {
  static TLayoutCache cache;
  return cache;
}

// The stored text of a field of the current record; false when the table has
// no such field or the record is too short for it, where the table layer's
// own reading raises the error.
bool StoredField(const TFEX& t, const char* name, std::string_view& text, unsigned& precision) {
  const TFieldSpot& spot = Layout().Spot(t, name);
  if (spot.slot < 0 || uint64_t(spot.offset) + spot.size > t.RecordBuffer.size()) return false;
  text = std::string_view(t.RecordBuffer).substr(spot.offset, spot.size);
  precision = spot.precision;
  return true;
}

std::string_view Trimmed(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

void AssignInteger(std::string& out, int64_t value) {
  char buffer[24];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.assign(buffer, error == std::errc() ? end : buffer);
}

// integer F of the current record, read as the table layer reads it.
int32_t IntegerField(const TFEX& t, const char* name) {
  std::string_view text;
  unsigned precision = 0;
  if (!StoredField(t, name, text, precision)) return static_cast<int32_t>(FexGetInteger(t, name));
  return StrToInt32(std::string(text));
}
}  // namespace

bool PlainNumberText(std::string_view stored, unsigned precision, std::string& out) {
  const std::size_t n = stored.size();
  // Where the table layer puts the decimal point: before the last `precision` digits.
  const std::size_t point = precision == 0 ? n : (n > precision ? n - precision : 0);
  std::size_t i = 0;
  while (i < n && stored[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (stored[i] == '+' || stored[i] == '-')) negative = stored[i++] == '-';
  if (i > point || i == n) return false;
  std::size_t first = n, last = n;  // first and last digit other than zero
  for (std::size_t k = i; k < n; ++k) {
    const char c = stored[k];
    if (c < '0' || c > '9') return false;
    if (c != '0') {
      if (first == n) first = k;
      last = k;
    }
  }
  if (first == n) {
    if (negative) return false;  // a negative zero keeps its sign there
    out.assign("0");
    return true;
  }
  if (last - first + 1 > static_cast<std::size_t>(kNumberDigits)) return false;
  const long exponent = first < point ? static_cast<long>(point - first) - 1
                                      : -static_cast<long>(first - point) - 1;
  if (exponent < kLowestPlainExponent || exponent >= kNumberDigits) return false;
  out.clear();
  if (negative) out += '-';
  if (first < point)
    out.append(stored.substr(first, point - first));
  else
    out += '0';
  if (last >= point) {
    out += '.';
    out.append(stored.substr(point, last - point + 1));
  }
  return true;
}

TRowValues::TRowValues(TFEX& t, const std::string& sql) : table(t), command(CommandFor(sql)) {
  Layout().Follow(t);
}

TSqlValue& TRowValues::Next(TSqlValue::Kind kind) {
  if (count == command.values.size()) command.values.emplace_back();
  TSqlValue& v = command.values[count++];
  v.kind = kind;
  return v;
}

void TRowValues::Text(const char* field) {
  std::string_view text;
  unsigned precision = 0;
  if (!StoredField(table, field, text, precision)) {
    Next(TSqlValue::Kind::Text).text = Trim(FexGetString(table, field));
    return;
  }
  const std::string_view trimmed = Trimmed(text);
  Next(TSqlValue::Kind::Text).text.assign(trimmed.data(), trimmed.size());
}

void TRowValues::Value(const std::string& text) { Next(TSqlValue::Kind::Text).text = text; }

// The number as the general format writes it (15 significant digits), with a
// point. Shortest round-trip formatting at that precision gives the same
// digits as the platform's text conversion, without its per-call cost.
static std::string GeneralNumberText(double value) {
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::general, kNumberDigits);
  if (error != std::errc()) return CommaToPoint(FloatToStr(value));
  return std::string(buffer, end);
}

void TRowValues::Number(const char* field) {
  std::string_view text;
  unsigned precision = 0;
  const bool stored = StoredField(table, field, text, precision);
  TSqlValue& v = Next(TSqlValue::Kind::Number);
  if (stored && PlainNumberText(text, precision, v.text)) return;
  v.text = GeneralNumberText(static_cast<double>(FexGetFloat(table, field)));
}

void TRowValues::NumberText(const std::string& text) {
  Next(TSqlValue::Kind::Number).text = Trim(text);
}

void TRowValues::Integer(const char* field) {
  const int32_t value = IntegerField(table, field);
  AssignInteger(Next(TSqlValue::Kind::Number).text, value);
}

void TRowValues::QuotedInteger(const char* field) {
  const int32_t value = IntegerField(table, field);
  AssignInteger(Next(TSqlValue::Kind::Text).text, value);
}

void TRowValues::Date(const char* field) {
  const TDateTime value = UnixToDateTime(IntegerField(table, field));
  TSqlValue& v = Next(TSqlValue::Kind::DateTime);
  v.text.clear();
  v.dateTime = value;
}

void TRowValues::Now() {
  TSqlValue& v = Next(TSqlValue::Kind::DateTime);
  v.text.clear();
  v.dateTime = NowToSeconds();
}

void TRowValues::Bookkeeping() {
  Now();
  Value(IdentName);
  Value("0");
}

bool TRowValues::Execute() {
  command.values.resize(count);
  return ExecuteSql(command);
}
