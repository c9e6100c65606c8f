// Query results read one row at a time, fields by name.
#include <cmath>
#include <cstdlib>
#include <soci/soci.h>

#include "processing/db_internal.h"
#include "processing/runparams.h"
#include "qsmlib/helpers.h"
#include "qsmlib/except.h"

struct TDbDataSet::Impl {
  // The row is declared first: the statement that fills it goes first.
  std::unique_ptr<soci::row> row;
  std::unique_ptr<soci::statement> statement;
  std::map<std::string, std::size_t> columns;  // upper-case name -> position
  bool active = false;
  bool empty = true;
  bool eof = true;
};

namespace {

// Exact decimal text (a point, no exponent) as the database gives it for
// NUMERIC and DECIMAL columns, or any number text of a field read as text.
bool ParseDecimal(const std::string& text, double& value) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  value = std::strtod(t.c_str(), &end);
  return end != nullptr && *end == '\0';
}

TDateTime TmToDateTime(const std::tm& tm) {
  return EncodeDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

}  // namespace

TDbDataSet::TDbDataSet() : impl(std::make_unique<Impl>()) {}

TDbDataSet::~TDbDataSet() {
  try {
    Close();
  } catch (const std::exception&) {
  }
}

void TDbDataSet::Close() {
  Db().openDataSets.erase(this);
  impl->statement.reset();
  impl->row.reset();
  impl->columns.clear();
  impl->active = false;
  impl->empty = true;
  impl->eof = true;
}

bool TDbDataSet::Active() const { return impl->active; }
bool TDbDataSet::IsEmpty() const { return impl->empty; }
bool TDbDataSet::Eof() const { return impl->eof; }

void TDbDataSet::Next() {
  if (!impl->active || impl->eof) return;
  if (!impl->statement->fetch()) impl->eof = true;
}

namespace {

const soci::row& CurrentRow(const TDbDataSet::Impl& impl, const std::string& name, std::size_t& position) {
  if (!impl.active) throw Exception("O conjunto de dados esta fechado: campo " + name + ".");
  auto it = impl.columns.find(UpperCase(name));
  if (it == impl.columns.end()) throw Exception("Campo '" + name + "' nao encontrado.");
  position = it->second;
  if (impl.eof) throw Exception("O conjunto de dados nao tem registro corrente: campo " + name + ".");
  return *impl.row;
}

}  // namespace

std::string TDbDataSet::FieldAsString(const std::string& name) const {
  std::size_t i = 0;
  const soci::row& row = CurrentRow(*impl, name, i);
  if (row.get_indicator(i) == soci::i_null) return {};
  // CHAR values come as the column holds them, padding included.
  switch (row.get_properties(i).get_data_type()) {
    case soci::dt_string:
      return row.get<std::string>(i);
    case soci::dt_integer:
      return std::to_string(row.get<int>(i));
    case soci::dt_long_long:
      return std::to_string(row.get<long long>(i));
    case soci::dt_unsigned_long_long:
      return std::to_string(row.get<unsigned long long>(i));
    case soci::dt_double:
      return FloatToStr(row.get<double>(i));
    case soci::dt_date:
      return DateTimeToStr(TmToDateTime(row.get<std::tm>(i)));
    default:
      throw Exception("Campo '" + name + "' de tipo nao suportado.");
  }
}

int64_t TDbDataSet::FieldAsInteger(const std::string& name) const {
  std::size_t i = 0;
  const soci::row& row = CurrentRow(*impl, name, i);
  if (row.get_indicator(i) == soci::i_null) return 0;
  switch (row.get_properties(i).get_data_type()) {
    case soci::dt_integer:
      return row.get<int>(i);
    case soci::dt_long_long:
      return row.get<long long>(i);
    case soci::dt_unsigned_long_long:
      return static_cast<int64_t>(row.get<unsigned long long>(i));
    case soci::dt_double:
      return static_cast<int64_t>(std::llround(row.get<double>(i)));
    case soci::dt_string: {
      // Whole-number columns of NUMERIC type come as "3.0000".
      const std::string text = row.get<std::string>(i);
      double value = 0;
      if (ParseDecimal(text, value) && std::floor(value) == value) return static_cast<int64_t>(value);
      return StrToInt(text);
    }
    default:
      throw EConvertError("Campo '" + name + "' nao e um numero inteiro.");
  }
}

double TDbDataSet::FieldAsFloat(const std::string& name) const {
  std::size_t i = 0;
  const soci::row& row = CurrentRow(*impl, name, i);
  if (row.get_indicator(i) == soci::i_null) return 0.0;
  switch (row.get_properties(i).get_data_type()) {
    case soci::dt_double:
      return row.get<double>(i);
    case soci::dt_integer:
      return row.get<int>(i);
    case soci::dt_long_long:
      return static_cast<double>(row.get<long long>(i));
    case soci::dt_unsigned_long_long:
      return static_cast<double>(row.get<unsigned long long>(i));
    case soci::dt_string: {
      // The exact decimal text of the column, converted once.
      const std::string text = row.get<std::string>(i);
      double value = 0;
      if (!ParseDecimal(text, value)) throw EConvertError("'" + text + "' is not a valid floating point value");
      return value;
    }
    default:
      throw EConvertError("Campo '" + name + "' nao e um numero.");
  }
}

TDateTime TDbDataSet::FieldAsDateTime(const std::string& name) const {
  std::size_t i = 0;
  const soci::row& row = CurrentRow(*impl, name, i);
  if (row.get_indicator(i) == soci::i_null) return 0.0;
  if (row.get_properties(i).get_data_type() != soci::dt_date)
    throw EConvertError("Campo '" + name + "' nao e uma data.");
  return TmToDateTime(row.get<std::tm>(i));
}

bool OpenQuery(TDbDataSet& dataSet, const std::string& statement) {
  dataSet.Close();
  TDbState& db = Db();
  try {
    soci::session& session = DbSession();
    RefreshOutsideReads();
    TDbDataSet::Impl& impl = *dataSet.impl;
    impl.row = std::make_unique<soci::row>();
    impl.statement = std::make_unique<soci::statement>((session.prepare << statement, soci::into(*impl.row)));
    if (!db.inTransaction && db.firebird) db.implicitOpen = true;
    const bool gotRow = impl.statement->execute(true);
    for (std::size_t i = 0; i < impl.row->size(); ++i)
      impl.columns.emplace(UpperCase(impl.row->get_properties(i).get_name()), i);
    impl.active = true;
    impl.empty = !gotRow;
    impl.eof = !gotRow;
    db.openDataSets.insert(&dataSet);
    return gotRow;
  } catch (const std::exception& e) {
    WriteLog("Erro no processameto de descarga automatica: " + DbErrorMessage(e) + ", Segue query com erro: " +
             statement);
    dataSet.Close();
    return false;
  }
}
