// Import speed and memory: a generated descarga goes through the real program
// (split, import, export procedure, retorno) into a fresh embedded database,
// and the same staging rows go into a second fresh database through one
// prepared statement per table with bound values, the floor that the engine
// allows. Prints records per second for both, their ratio, and the program's
// peak memory for two package sizes.
//
//   import_bench [--keep] [--rounds N] [records ...]   (default: 3 rounds, 50000 100000)
//   --keep leaves each size's directory (package, databases, log) in place.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <soci/soci.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "qsmlib/cp1252.h"
#include "qsmlib/fex.h"
#include "qsmlib/package.h"
#include "qsmlib/platform/datetime.h"

namespace fs = std::filesystem;

namespace {

const std::string kSourceDir = VERUVAV_SOURCE_DIR;
const std::string kTeam = "101";
const std::string kIdent = "BENCH";

// ---------------------------------------------------------------- layouts

struct Field {
  std::string name;
  char type;
  int size, precision;
};
struct Layout {
  std::string fileId, table;
  std::vector<Field> fields;
  std::vector<std::string> sample;  // first fixture row: the values the generator varies
  int Index(const std::string& name) const {
    for (size_t i = 0; i < fields.size(); ++i)
      if (fields[i].name == name) return static_cast<int>(i);
    throw std::runtime_error("no field " + name + " in " + table);
  }
};

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == sep) out.emplace_back();
    else if (c != '\r') out.back() += c;
  }
  return out;
}

std::map<std::string, Layout> ReadLayouts() {
  std::map<std::string, Layout> layouts;
  for (const auto& entry : fs::directory_iterator(kSourceDir + "/tests/fixtures/descarga")) {
    if (entry.path().extension() != ".csv") continue;
    Layout l;
    std::string stem = entry.path().stem().string();
    l.fileId = stem.substr(0, stem.find('-'));
    l.table = stem.substr(stem.find('-') + 1);
    std::ifstream in(entry.path());
    std::string header, row;
    std::getline(in, header);
    std::getline(in, row);
    for (const std::string& field : Split(header, ',')) {
      std::vector<std::string> p = Split(field, ':');
      l.fields.push_back({p[0], p[1][0], std::stoi(p[2]), p.size() > 3 ? std::stoi(p[3]) : 0});
    }
    for (std::string& cell : Split(row, ',')) l.sample.push_back(Utf8ToCp1252(cell));
    layouts[l.table] = l;
  }
  return layouts;
}

// ------------------------------------------------------------ generation

// One unit of the descarga: an order with four items and one payment, one
// customer (new or changed, alternately) and one collection: 8 records.
constexpr int kRecordsPerUnit = 8;

struct Generated {
  std::string table;
  int count;
};

// The cells of record i of a table: the fixture's sample with its keys varied.
std::vector<std::string> RecordCells(const Layout& l, int i) {
  std::vector<std::string> c = l.sample;
  auto set = [&](const char* f, const std::string& v) { c[l.Index(f)] = v; };
  if (l.table == "TMVSCAB") {
    // Customers changed on the device keep their codes (even records of
    // TMVOCLI), so every order's customer is staged by the same descarga.
    set("CDPED", "P" + std::to_string(i));
    set("CDCL", "B" + std::to_string(2 * (i % 500)));
  } else if (l.table == "TMVSITE") {
    set("CDPED", "P" + std::to_string(i / 4));
    set("CDPROD", i % 2 ? "PR01" : "PR02");
  } else if (l.table == "TMVSFINANC") {
    set("CDPED", "P" + std::to_string(i));
  } else if (l.table == "TMVOCLI") {
    set("CDCL", "B" + std::to_string(i));
    set("IDIAE", i % 2 ? "I" : "A");
  } else if (l.table == "TMVSDESCARGA") {
    set("DTULRT", "2000-01-01 00:00:00");  // every exported order is listed
  } else if (l.table == "TMVSCOBRANCAS") {
    set("NUTIT", "T" + std::to_string(i));
  }
  return c;
}

TDateTime ParseDate(const std::string& s) {
  int y, mo, d, h = 0, mi = 0, se = 0;
  std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &se);
  return EncodeDateTime(y, mo, d, h, mi, se);
}

int FexTypeOf(char letter) {
  return letter == 'I' ? fxInteger : letter == 'F' ? fxFloat : letter == 'T' ? fxTime : fxChar;
}

void WriteTable(const Layout& l, int count, const std::string& file) {
  TFEX t;
  if (!FexCreate(t, file, l.table, l.fileId)) throw std::runtime_error("cannot create " + file);
  for (const Field& f : l.fields) FexAddField(t, f.name, FexTypeOf(f.type), f.size, f.precision, 0);
  for (int i = 0; i < count; ++i) {
    std::vector<std::string> cells = RecordCells(l, i);
    int32_t n = FexAppend(t);
    for (size_t k = 0; k < l.fields.size(); ++k) {
      const Field& f = l.fields[k];
      if (f.type == 'I') FexSetInteger(t, f.name, std::stoi(cells[k]));
      else if (f.type == 'F') FexSetFloat(t, f.name, std::stold(cells[k]));
      else if (f.type == 'T') FexSetDate(t, f.name, ParseDate(cells[k]));
      else FexSetString(t, f.name, cells[k]);
    }
    FexPost(t, n);
  }
  FexClose(t);
}

std::vector<Generated> Mix(int records) {
  int units = records / kRecordsPerUnit;
  return {{"TMVSEQP", 1},      {"TMVSDESCARGA", 1},    {"TMVSCAB", units},
          {"TMVSITE", 4 * units}, {"TMVSFINANC", units}, {"TMVOCLI", units},
          {"TMVSCOBRANCAS", units}};
}

void BuildDescarga(const std::map<std::string, Layout>& layouts, int records,
                   const std::string& package) {
  fs::path scratch = fs::path(package).parent_path() / "pack";
  fs::create_directories(scratch);
  for (const Generated& g : Mix(records))
    WriteTable(layouts.at(g.table), g.count, (scratch / (g.table + ".FEX")).string());
  BuildPackage(scratch.string() + "/*.FEX", "descarga", true, false);
  fs::rename(scratch / "descarga.zfx", package);
  fs::remove_all(scratch);
}

// -------------------------------------------------------------- databases

std::string ConnectString(const std::string& database) {
  return "service=" + database + " user=SYSDBA password=masterkey charset=WIN1252";
}

// The reference database; the orders procedure is switched off, as it is not
// part of what is measured (split, import, export procedure, retorno).
void CreateDatabase(const std::string& file) {
  std::string cmd = "'" + kSourceDir + "/scripts/createdb.sh' '" + file + "' >/dev/null";
  if (std::system(cmd.c_str()) != 0) throw std::runtime_error("cannot create " + file);
  soci::session sql("firebird", ConnectString(file));
  soci::transaction tr(sql);
  sql << "UPDATE TMVSPARAMGL SET IDPROC = '0'";
  tr.commit();
}

std::string WriteIni(const std::string& dir, const std::string& database) {
  std::string ini = dir + "/veruvav.ini";
  std::ofstream out(ini);
  out << "[VerUvav]\nDatabase=" << database
      << "\nUsuario=SYSDBA\nSenha=masterkey\nServ=\nSGBD=InterBase\n";
  return ini;
}

struct ChildRun {
  int exitCode;
  double seconds;
  long maxRssKb;
};

ChildRun RunVeruvav(const std::string& dir, const std::string& package, const std::string& ini) {
  fs::create_directories(dir + "/out");
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    setenv("VERUVAV_CONFIG", ini.c_str(), 1);
    std::string out = dir + "/out/retorno_bench.zfx";
    execl(VERUVAV_BINARY, VERUVAV_BINARY, "-I", package.c_str(), "-O", out.c_str(), "-U",
          kIdent.c_str(), "-S", "bench", "-A", "DF", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds, usage.ru_maxrss};
}

// The floor: every staging row of the same descarga, one prepared INSERT per
// table, all values bound, one transaction.
struct FloorColumn {
  std::string column;
  std::string source;  // a field name, or @code @order @now @ident @team, or '=' text
};
struct FloorTable {
  std::string layout, table;
  std::vector<FloorColumn> columns;
};

std::vector<FloorColumn> Columns(const std::string& columnList) {
  std::vector<FloorColumn> out;
  for (const std::string& item : Split(columnList, ' ')) {
    if (item.empty()) continue;
    size_t eq = item.find('=');
    if (eq == std::string::npos) out.push_back({item, item});
    else out.push_back({item.substr(0, eq), item.substr(eq + 1)});
  }
  return out;
}

std::vector<FloorTable> FloorTables() {
  const std::string book = " DTPROC=@now NUPROC=@ident IDEXP==0";
  return {
      {"TMVSCAB", "TMVSCAB",
       Columns("CDCL CDCNPG CDEQP CDMW CDPED=@code CDTPVD DSOBS DTCRIA DTALT DTFECH DTENT IDSTS "
               "NUPECL" + book + " VLPED IDMDNG IDTPPD IDCAN NUNOTA NUSERI VLICMS VLST VLPDIM "
               "DTFAT IDEMI QTREIM DTEMIS VLBSIC VLBSST")},
      {"TMVSITE", "TMVSITE",
       Columns("CDPED=@order CDPROD CDGRAD QTDVND VLTAB VLVEND PCDSAC CDTRIB VLICMS PCBSIC PCALIC "
               "VLST PCBSST PCALST VLITIM DSCFOP VLPROD VLBSIC VLBSST")},
      {"TMVSFINANC", "TMVSFINANC",
       Columns("NUPGTO=@code CDPED=@order IDFORM NUPARC IDTPBO IDTPCH NUCART NUBCBL NUNOSS NUCHEQ "
               "NUBCCH DSAGCH NUCTCH DTVENC VLPG" + book + " DSMSEX== IDSTS==1 DTPGTO DSNMTR "
               "DSCPF")},
      {"TMVOCLI", "TMVSCLIALT",
       Columns("CDCL=@code CDCID CDATIV CDCNPG CDEQP=@team CDTPVD DSRAZ DSFAN DSCGCP DSIERG VLCRED "
               "IDPFPJ IDBLQ IDTITV NUDSIN DSOBS DSENDP DSBAIP DSCEPP DSTLPR DSFAXP DSENDC DSBAIC "
               "CDCIDC DSCEPC IDIAE DSEDEN CDCIDE DSBAEN NUCPEN" + book)},
      {"TMVSCOBRANCAS", "TMVSCOBRANCAS",
       Columns("NUTIT CDEQP CDCL DSTPTI DTBAIX QTDICR PCTXJR VLJR VLTPG" + book + " DSMSEX==")},
  };
}

std::string Trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

double RunFloor(const std::string& database, const std::map<std::string, Layout>& layouts,
                int records) {
  auto start = std::chrono::steady_clock::now();
  soci::session sql("firebird", ConnectString(database));
  soci::transaction tr(sql);
  std::map<std::string, int> counts;
  for (const Generated& g : Mix(records)) counts[g.table] = g.count;
  int code = 1000000;
  const std::string now = "2026-12-11 12:00:00";
  for (const FloorTable& ft : FloorTables()) {
    const Layout& l = layouts.at(ft.layout);
    std::vector<std::string> values(ft.columns.size());
    std::vector<soci::indicator> nulls(ft.columns.size(), soci::i_ok);
    std::string names, params;
    for (size_t k = 0; k < ft.columns.size(); ++k) {
      names += (k ? "," : "") + ft.columns[k].column;
      params += (k ? ",:p" : ":p") + std::to_string(k + 1);
    }
    soci::statement st(sql);
    for (size_t k = 0; k < values.size(); ++k) st.exchange(soci::use(values[k]));
    st.alloc();
    st.prepare("INSERT INTO " + ft.table + " (" + names + ") VALUES (" + params + ")");
    st.define_and_bind();
    for (int i = 0; i < counts[ft.layout]; ++i) {
      std::vector<std::string> cells = RecordCells(l, i);
      for (size_t k = 0; k < ft.columns.size(); ++k) {
        const std::string& src = ft.columns[k].source;
        if (src == "@code") values[k] = std::to_string(++code);
        else if (src == "@order") values[k] = Trimmed(cells[l.Index("CDPED")]);
        else if (src == "@now") values[k] = now;
        else if (src == "@ident") values[k] = kIdent;
        else if (src == "@team") values[k] = kTeam;
        else if (src[0] == '=') values[k] = src.substr(1).empty() ? " " : src.substr(1);
        else values[k] = Trimmed(cells[l.Index(src)]);
      }
      st.execute(true);
    }
  }
  tr.commit();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Figures {
  int records;
  double programSeconds, floorSeconds;
  long maxRssKb;
};

bool keepRuns = false;

// Each side runs `rounds` times on fresh databases; the fastest run of each
// counts (the machine's other work only ever adds time), and the peak memory
// is the largest seen.
int rounds = 3;

Figures Measure(const std::map<std::string, Layout>& layouts, int records) {
  fs::path dir = fs::temp_directory_path() / ("veruvav-bench-" + std::to_string(getpid()) + "-" +
                                              std::to_string(records));
  fs::remove_all(dir);
  fs::create_directories(dir / "in");
  std::string package = (dir / "in" / "descarga.zfx").string();
  BuildDescarga(layouts, records, package);

  Figures f{records, 1e30, 1e30, 0};
  for (int round = 0; round < rounds; ++round) {
    std::string programDb = (dir / "program.fdb").string(), floorDb = (dir / "floor.fdb").string();
    fs::remove(programDb);
    fs::remove(floorDb);
    fs::remove_all(dir / "out");
    CreateDatabase(programDb);
    CreateDatabase(floorDb);

    ChildRun run = RunVeruvav(dir.string(), package, WriteIni(dir.string(), programDb));
    if (run.exitCode != 0) {
      std::fprintf(stderr, "veruvav ended with exit code %d; log in %s\n", run.exitCode,
                   (dir / "debug_veruvav.txt").c_str());
      std::exit(1);
    }
    f.programSeconds = std::min(f.programSeconds, run.seconds);
    f.maxRssKb = std::max(f.maxRssKb, run.maxRssKb);
    f.floorSeconds = std::min(f.floorSeconds, RunFloor(floorDb, layouts, records));
  }
  if (keepRuns) std::printf("run directory: %s\n", dir.c_str());
  else fs::remove_all(dir);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--keep") keepRuns = true;
    else if (arg == "--rounds" && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else sizes.push_back(std::atoi(arg.c_str()));
  }
  if (sizes.empty()) sizes = {50000, 100000};
  std::map<std::string, Layout> layouts = ReadLayouts();

  std::vector<Figures> all;
  for (int records : sizes) {
    Figures f = Measure(layouts, records);
    all.push_back(f);
    std::printf(
        "records=%d  veruvav: %.2f s, %.0f records/s  floor: %.2f s, %.0f records/s  "
        "ratio=%.2fx (target <= 2.00x)  peak memory=%.1f MB (target < 64 MB)\n",
        f.records, f.programSeconds, f.records / f.programSeconds, f.floorSeconds,
        f.records / f.floorSeconds, f.programSeconds / f.floorSeconds, f.maxRssKb / 1024.0);
    std::fflush(stdout);
  }
  if (all.size() >= 2) {
    const Figures& a = all.front();
    const Figures& b = all.back();
    std::printf("memory growth from %d to %d records: %.2fx (flat when near 1.00x)\n", a.records,
                b.records, static_cast<double>(b.maxRssKb) / a.maxRssKb);
  }
  return 0;
}
