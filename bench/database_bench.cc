// Statement layer speed: rows inserted through ExecuteSql with bound values
// (the path of every import handler, log line included) against the same rows
// inserted through one raw prepared statement on a second fresh database.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <soci/soci.h>

#include "processing/database.h"
#include "processing/runparams.h"
#include "qsmlib/log.h"

namespace {

constexpr int kRows = 20000;
const char* kInsert =
    "INSERT INTO TMVSITE (CDPED, CDPROD, CDGRAD, QTDVND, VLTAB, VLVEND, PCDSAC, CDTRIB, VLICMS, PCBSIC, PCALIC, "
    "VLST, PCBSST, PCALST, VLITIM, DSCFOP, VLPROD, VLBSIC, VLBSST) VALUES (:p1, :p2, :p3, :p4, :p5, :p6, :p7, "
    ":p8, :p9, :p10, :p11, :p12, :p13, :p14, :p15, :p16, :p17, :p18, :p19)";

std::string MakeDatabase(const std::string& dir, const std::string& name) {
  const std::string path = dir + "/" + name;
  const std::string cmd = "bash '" VERUVAV_SOURCE_DIR "/scripts/createdb.sh' '" + path + "' > /dev/null";
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "createdb failed for %s\n", path.c_str());
    std::exit(1);
  }
  return path;
}

// Text columns, then the number columns as decimal text with a point.
std::vector<std::string> RowValues(int i) {
  std::vector<std::string> v = {std::to_string(100000 + i / 4), "P" + std::to_string(i % 500), i % 3 ? "" : "M"};
  for (int k = 0; k < 16; ++k) v.push_back(std::to_string(i % 97) + "." + std::to_string(k * 7 % 10000));
  v[7] = "T01";
  v[15] = "5102";
  return v;
}

bool IsText(int column) { return column < 3 || column == 7 || column == 15; }

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

}  // namespace

int main() {
  char pattern[] = "/tmp/veruvav-dbbench-XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  if (dir == nullptr) return 1;
  const std::string viaProgram = MakeDatabase(dir, "program.fdb");
  const std::string floorDb = MakeDatabase(dir, "floor.fdb");

  const std::string ini = std::string(dir) + "/veruvav.ini";
  if (FILE* f = std::fopen(ini.c_str(), "w")) {
    std::fprintf(f, "[VerUvav]\nDatabase=%s\nUsuario=SYSDBA\nSenha=x\nServ=\nSGBD=InterBase\n", viaProgram.c_str());
    std::fclose(f);
  }
  ::setenv("VERUVAV_CONFIG", ini.c_str(), 1);
  Log = new TTrvLog(std::string(dir) + "/debug_veruvav.txt", 10, loDate | loTime | loMilliseconds | loLevel);
  Log->Start();

  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < kRows; ++i) rows.push_back(RowValues(i));

  OpenDatabase();
  BeginTransaction();
  auto start = std::chrono::steady_clock::now();
  TSqlCommand command;
  command.sql = kInsert;
  for (const auto& row : rows) {
    command.values.clear();
    for (int c = 0; c < 19; ++c)
      command.values.push_back({IsText(c) ? TSqlValue::Kind::Text : TSqlValue::Kind::Number, row[c], 0});
    if (!ExecuteSql(command)) {
      std::fprintf(stderr, "insert refused\n");
      return 1;
    }
  }
  CommitTransaction();
  const double program = Seconds(start);
  CloseDatabase();

  soci::session s("firebird", "service=" + floorDb + " user=SYSDBA charset=WIN1252 decimals_as_strings=1");
  std::vector<std::string> bound(19);
  soci::statement st(s);
  for (int c = 0; c < 19; ++c) st.exchange(soci::use(bound[c], "p" + std::to_string(c + 1)));
  st.alloc();
  st.prepare(kInsert);
  st.define_and_bind();
  start = std::chrono::steady_clock::now();
  s.begin();
  for (const auto& row : rows) {
    for (int c = 0; c < 19; ++c) bound[c] = row[c];
    st.execute(true);
  }
  s.commit();
  const double floorSeconds = Seconds(start);

  std::printf("rows: %d\n", kRows);
  std::printf("ExecuteSql with bound values: %.0f rows/s (%.3f s)\n", kRows / program, program);
  std::printf("raw prepared statement (floor): %.0f rows/s (%.3f s)\n", kRows / floorSeconds, floorSeconds);
  std::printf("ratio program/floor: %.2f\n", program / floorSeconds);
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
  return 0;
}
