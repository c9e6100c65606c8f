#include "support/staging_db.h"

#include <soci/soci.h>

#include <cstdio>

namespace stagingdb {

namespace {
std::string ConnectString(const std::string& database) {
  return "service=" + database + " user=SYSDBA password=masterkey charset=WIN1252";
}

std::string AsText(const soci::row& r, std::size_t i) {
  if (r.get_indicator(i) == soci::i_null) return "<null>";
  switch (r.get_properties(i).get_data_type()) {
    case soci::dt_string: return r.get<std::string>(i);
    case soci::dt_integer: return std::to_string(r.get<int>(i));
    case soci::dt_long_long: return std::to_string(r.get<long long>(i));
    case soci::dt_unsigned_long_long: return std::to_string(r.get<unsigned long long>(i));
    case soci::dt_double: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.10g", r.get<double>(i));
      return buf;
    }
    case soci::dt_date: {
      std::tm t = r.get<std::tm>(i);
      char buf[80];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                    t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
      return buf;
    }
    default: return "<?>";
  }
}
}  // namespace

Rows Query(const std::string& database, const std::string& select) {
  soci::session sql("firebird", ConnectString(database));
  Rows rows;
  soci::rowset<soci::row> rs = (sql.prepare << select);
  for (const soci::row& r : rs) {
    std::vector<std::string> row;
    for (std::size_t i = 0; i < r.size(); ++i) row.push_back(AsText(r, i));
    rows.push_back(std::move(row));
  }
  return rows;
}

void Execute(const std::string& database, const std::string& statement) {
  soci::session sql("firebird", ConnectString(database));
  soci::transaction tr(sql);
  sql << statement;
  tr.commit();
}

long Count(const std::string& database, const std::string& table) {
  Rows r = Query(database, "SELECT COUNT(*) FROM " + table);
  return std::stol(r.at(0).at(0));
}

}  // namespace stagingdb
