#include "support/descarga_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "qsmlib/cp1252.h"
#include "qsmlib/fex.h"
#include "qsmlib/helpers.h"
#include "qsmlib/package.h"
#include "qsmlib/platform/datetime.h"

namespace fixture {

namespace {

std::vector<std::string> SplitCsvLine(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  for (char c : line) {
    if (c == ',') {
      cells.push_back(cell);
      cell.clear();
    } else if (c != '\r') {
      cell += c;
    }
  }
  cells.push_back(cell);
  return cells;
}

FieldSpec ParseFieldSpec(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    if (c == ':') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  if (parts.size() < 3) throw std::runtime_error("bad field layout: " + text);
  FieldSpec f;
  f.name = parts[0];
  f.type = parts[1].at(0);
  f.size = std::stoi(parts[2]);
  f.precision = parts.size() > 3 ? std::stoi(parts[3]) : 0;
  return f;
}

int FexType(char letter) {
  switch (letter) {
    case 'I': return fxInteger;
    case 'F': return fxFloat;
    case 'T': return fxTime;
    case 'B': return fxByte;
    default: return fxChar;
  }
}

TDateTime ParseDate(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) < 3)
    throw std::runtime_error("bad date cell: " + text);
  return EncodeDateTime(y, mo, d, h, mi, s);
}

}  // namespace

int Table::FieldIndex(const std::string& field) const {
  for (size_t i = 0; i < fields.size(); ++i)
    if (fields[i].name == field) return static_cast<int>(i);
  throw std::runtime_error("no field " + field + " in " + name);
}

std::string& Table::Cell(size_t row, const std::string& field) {
  return rows.at(row).at(FieldIndex(field));
}

const std::string& Table::Cell(size_t row, const std::string& field) const {
  return rows.at(row).at(FieldIndex(field));
}

size_t Table::CopyRow(size_t row) {
  rows.push_back(rows.at(row));
  return rows.size() - 1;
}

std::string FixtureDir() { return std::string(VERUVAV_SOURCE_DIR) + "/tests/fixtures/descarga"; }


std::vector<Table> ReadFixtureTables(const std::string& dir) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().extension() == ".csv") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  std::vector<Table> tables;
  for (const std::string& file : files) {
    Table t;
    std::string stem = std::filesystem::path(file).stem().string();
    size_t dash = stem.find('-');
    t.fileId = stem.substr(0, dash);
    t.name = stem.substr(dash + 1);
    std::ifstream in(file);
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      std::vector<std::string> cells = SplitCsvLine(line);
      if (header) {
        for (const std::string& c : cells) t.fields.push_back(ParseFieldSpec(c));
        header = false;
        continue;
      }
      if (cells.size() != t.fields.size())
        throw std::runtime_error("row with wrong cell count in " + file);
      for (std::string& c : cells) c = Utf8ToCp1252(c);
      t.rows.push_back(cells);
    }
    tables.push_back(std::move(t));
  }
  return tables;
}

Table& Find(std::vector<Table>& tables, const std::string& name) {
  for (Table& t : tables)
    if (t.name == name) return t;
  throw std::runtime_error("no fixture table " + name);
}

void Remove(std::vector<Table>& tables, const std::string& name) {
  std::erase_if(tables, [&](const Table& t) { return t.name == name; });
}

void WriteFexTable(const Table& table, const std::string& fexFile) {
  TFEX t;
  if (!FexCreate(t, fexFile, table.name, table.fileId))
    throw std::runtime_error("cannot create " + fexFile);
  for (const FieldSpec& f : table.fields) FexAddField(t, f.name, FexType(f.type), f.size, f.precision, 0);
  for (const auto& row : table.rows) {
    int32_t n = FexAppend(t);
    for (size_t i = 0; i < table.fields.size(); ++i) {
      const FieldSpec& f = table.fields[i];
      const std::string& cell = row[i];
      // An empty cell leaves the field blank; a cell that is not of the
      // field's type goes in as it is, as a faulty device would send it.
      if (cell.empty()) continue;
      char* end = nullptr;
      switch (f.type) {
        case 'I': {
          long v = std::strtol(cell.c_str(), &end, 10);
          if (*end == '\0') FexSetInteger(t, f.name, static_cast<int32_t>(v));
          else FexSetString(t, f.name, cell);
          break;
        }
        case 'F': {
          long double v = std::strtold(cell.c_str(), &end);
          if (*end == '\0') FexSetFloat(t, f.name, v);
          else FexSetString(t, f.name, cell);
          break;
        }
        case 'T': FexSetDate(t, f.name, ParseDate(cell)); break;
        default: FexSetString(t, f.name, cell); break;
      }
    }
    FexPost(t, n);
  }
  FexClose(t);
}

void BuildDescargaPackage(const std::vector<Table>& tables, const std::string& packageFile) {
  namespace fs = std::filesystem;
  fs::path scratch = fs::path(packageFile).parent_path() / ".pack";
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  for (const Table& t : tables) WriteFexTable(t, (scratch / (t.name + ".FEX")).string());
  BuildPackage(scratch.string() + "/*.FEX", "descarga", true, false);
  fs::path built = scratch / "descarga.zfx";
  if (!fs::exists(built)) throw std::runtime_error("package not built");
  fs::remove(packageFile);
  fs::rename(built, packageFile);
  fs::remove_all(scratch);
}

std::string FexContents::Get(size_t row, const std::string& field) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i] != field) continue;
    std::string v = rows.at(row).at(i);
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
  }
  throw std::runtime_error("no field " + field + " in " + name);
}

std::vector<FexContents> ReadPackage(const std::string& packageFile) {
  namespace fs = std::filesystem;
  fs::path scratch = fs::path(packageFile).parent_path() / ".unpack";
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  std::vector<FexContents> result;
  if (!SplitPackage(packageFile, scratch.string() + "/", false))
    throw std::runtime_error("cannot split " + packageFile);
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(scratch))
    if (entry.path().extension() == ".FEX") files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    TFEX t;
    if (!FexOpen(t, file)) throw std::runtime_error("cannot open " + file);
    FexContents c;
    c.name = FexTableName(t);
    for (int i = 0; i < FexFieldCount(t); ++i) c.fields.push_back(FexField(t, i).name);
    for (int32_t n = 1; n <= FexRecordCount(t); ++n) {
      FexRead(t, n);
      std::vector<std::string> row;
      for (const std::string& f : c.fields) row.push_back(FexGetString(t, f));
      c.rows.push_back(row);
    }
    FexClose(t);
    result.push_back(std::move(c));
  }
  fs::remove_all(scratch);
  return result;
}

const FexContents* FindTable(const std::vector<FexContents>& tables, const std::string& name) {
  for (const FexContents& t : tables)
    if (t.name == name) return &t;
  return nullptr;
}

}  // namespace fixture
