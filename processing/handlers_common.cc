#include "processing/handlers_common.h"

#include <charconv>
#include <unordered_map>

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

TSqlValue TextValue(std::string text) {
  TSqlValue v;
  v.kind = TSqlValue::Kind::Text;
  v.text = std::move(text);
  return v;
}
TSqlValue NumberValue(std::string text) {
  TSqlValue v;
  v.kind = TSqlValue::Kind::Number;
  v.text = std::move(text);
  return v;
}
TSqlValue DateValue(TDateTime value) {
  TSqlValue v;
  v.kind = TSqlValue::Kind::DateTime;
  v.dateTime = value;
  return v;
}
}  // namespace

void TRowValues::Text(const char* field) {
  command.values.push_back(TextValue(Trim(FexGetString(table, field))));
}

void TRowValues::Value(const std::string& text) { command.values.push_back(TextValue(text)); }

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
  command.values.push_back(NumberValue(GeneralNumberText(static_cast<double>(FexGetFloat(table, field)))));
}

void TRowValues::NumberText(const std::string& text) {
  command.values.push_back(NumberValue(Trim(text)));
}

void TRowValues::Integer(const char* field) {
  command.values.push_back(NumberValue(std::to_string(FexGetInteger(table, field))));
}

void TRowValues::QuotedInteger(const char* field) {
  command.values.push_back(TextValue(std::to_string(FexGetInteger(table, field))));
}

void TRowValues::Date(const char* field) {
  command.values.push_back(DateValue(FexGetDate(table, field)));
}

void TRowValues::Now() { command.values.push_back(DateValue(NowToSeconds())); }

void TRowValues::Bookkeeping() {
  Now();
  Value(IdentName);
  Value("0");
}

bool TRowValues::Execute() const { return ExecuteSql(command); }
