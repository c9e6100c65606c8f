// Descarga packages for the tests, built from the readable fixture tables in
// tests/fixtures/descarga. Each file there is "<code>-<TABLE>.csv": the code
// is the table's file ID, the header row is the device's field layout
// (NAME:TYPE:SIZE[:PREC]) and every other row one record (dates
// "yyyy-mm-dd hh:mm:ss", numbers with ".").
#pragma once

#include <string>
#include <vector>

namespace fixture {

struct FieldSpec {
  std::string name;
  char type = 'C';  // I, F, C, T
  int size = 0;
  int precision = 0;
};

struct Table {
  std::string fileId;  // "01" .. "12"
  std::string name;    // TMVSCAB, ...
  std::vector<FieldSpec> fields;
  std::vector<std::vector<std::string>> rows;  // cells as CP1252 text

  int FieldIndex(const std::string& field) const;  // throws when unknown
  std::string& Cell(size_t row, const std::string& field);
  const std::string& Cell(size_t row, const std::string& field) const;
  // A copy of a row appended at the end; returns its index.
  size_t CopyRow(size_t row);
};

std::string FixtureDir();
// Every fixture table, in code order.
std::vector<Table> ReadFixtureTables(const std::string& dir = FixtureDir());
Table& Find(std::vector<Table>& tables, const std::string& name);
void Remove(std::vector<Table>& tables, const std::string& name);

// Writes one FEX table with the table's layout and rows.
void WriteFexTable(const Table& table, const std::string& fexFile);
// Writes the tables as FEX files into a scratch directory beside the package
// and packs them into packageFile (a compressed package).
void BuildDescargaPackage(const std::vector<Table>& tables, const std::string& packageFile);

// A FEX table read back: every field of every record as its stored text.
struct FexContents {
  std::string name;
  std::vector<std::string> fields;
  std::vector<std::vector<std::string>> rows;
  std::string Get(size_t row, const std::string& field) const;  // trailing blanks removed
};
// Splits a package into a scratch directory and reads every table of it, in
// file-name order.
std::vector<FexContents> ReadPackage(const std::string& packageFile);
const FexContents* FindTable(const std::vector<FexContents>& tables, const std::string& name);

}  // namespace fixture
