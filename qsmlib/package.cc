#include "qsmlib/package.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qsmlib/compress.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/helpers.h"
#include "qsmlib/platform/fs.h"

namespace {

constexpr int kPackageLevel = 6;
constexpr size_t kFileDataPerLine = 80;
constexpr size_t kFileBlock = 4096;
constexpr int kClosingLines = 10;
constexpr int kWriterBuffer = 1 << 16;
constexpr char kEscape = '\\';
// Record bytes below this are escaped; file data escapes only NUL, LF and CR.
constexpr unsigned char kRecordEscapeLimit = 30;
constexpr unsigned char kFileSeparator = 0x1C;

// Where in a package text a line came from, for messages about bad lines.
struct TextPlace {
  const std::string* package = nullptr;
  long line = 0;
};

// Names the package line, or the table file when the text came from elsewhere.
[[noreturn]] void Fail(const TextPlace& at, const std::string& tableFile,
                       const std::string& problem) {
  const std::string where = at.package
                                ? "Pacote [" + *at.package + "], linha " + std::to_string(at.line)
                                : "Tabela [" + tableFile + "]";
  throw EFEXError(where + ": " + problem);
}

// True when one of the eight bytes needs an escape in a record: below 30,
// or a backslash. Most record bytes need none, so words are skipped whole.
inline bool WordNeedsEscape(uint64_t x) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  const uint64_t below = (x - kOnes * kRecordEscapeLimit) & ~x & kHigh;
  const uint64_t slash = x ^ (kOnes * uint8_t(kEscape));
  return (below | ((slash - kOnes) & ~slash & kHigh)) != 0;
}

void AppendEscapedRecord(std::string& out, const char* p, size_t n) {
  size_t run = 0;
  size_t i = 0;
  while (i < n) {
    if (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (!WordNeedsEscape(word)) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = static_cast<unsigned char>(p[i]);
    // 0x1C + 64 is the backslash itself: its escape would read back as a
    // backslash, so that byte goes into the line unchanged (it is no line end).
    if ((c < kRecordEscapeLimit && c != kFileSeparator) || c == kEscape) {
      out.append(p + run, i - run);
      out.push_back(kEscape);
      out.push_back(c == kEscape ? kEscape : char(c + 64));
      run = i + 1;
    }
    ++i;
  }
  out.append(p + run, n - run);
}

void AppendEscapedFileData(std::string& out, const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const char c = p[i];
    if (c == 0 || c == '\n' || c == '\r') {
      out.push_back(kEscape);
      out.push_back(char(c + 64));
    } else if (c == kEscape) {
      out.push_back(kEscape);
      out.push_back(kEscape);
    } else {
      out.push_back(c);
    }
  }
}

// False when the text ends in a lone backslash.
bool UnescapeInto(const char* p, size_t n, std::string& out) {
  out.clear();
  const char* end = p + n;
  while (p < end) {
    const char* esc = static_cast<const char*>(std::memchr(p, kEscape, size_t(end - p)));
    if (!esc) {
      out.append(p, size_t(end - p));
      break;
    }
    out.append(p, size_t(esc - p));
    if (esc + 1 == end) return false;
    const char c = esc[1];
    out.push_back(c == kEscape ? kEscape : char(static_cast<unsigned char>(c) - 64));
    p = esc + 2;
  }
  return true;
}

void WriteLine(PackageWriter& w) {
  w.Line.append("\r\n");
  if (w.Packed) {
    if (!CompressWrite(*w.Packed, w.Line.data(), w.Line.size()))
      throw EInOutError("Write error in " + w.FileName);
    return;
  }
  if (!w.file) throw EInOutError("File not open: " + w.FileName);
  if (std::fwrite(w.Line.data(), 1, w.Line.size(), w.file) != w.Line.size())
    throw EInOutError("Write error in " + w.FileName + ": " + std::strerror(errno));
}

void StartLine(PackageWriter& w, const std::string& prefix, char kind) {
  w.Line.assign(prefix);
  w.Line.push_back(kind);
}

std::string ReferenceText(const TFEX& t, uint16_t entry) {
  switch (entry) {
    case 252: return "I";
    case 253: return "U";
    case 254: return "P";
    case 255: return "*";
    default:
      return entry < kFexDescriptorSlots ? FexField(t, entry).name : std::string();
  }
}

bool SafeTableName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name)
    if (c == '/' || c == '\\' || c == 0) return false;
  return true;
}

bool BeginTableAt(TFEX& t, const std::string& dir, const std::string& content,
                  const TextPlace& at) {
  std::string rest = content;
  const std::string name = NextToken(rest, ":");
  const std::string id = NextToken(rest, ":");
  // The name becomes a file name: it may not lead out of the directory.
  if (!SafeTableName(name))
    Fail(at, dir + name + ".FEX", "nome de tabela inválido ["_cp + name + "]");
  const bool created = FexCreate(t, dir + name + ".FEX", name, id);
  FexUseStorageSizes(t);
  return created;
}

void DefineFieldsAt(TFEX& t, const std::string& content, const TextPlace& at) {
  const std::string& where = t.FileName;
  // A repeated field line replaces the fields rather than adding to them.
  std::memset(t.header + kFexOffFieldCount, 0, 4);
  std::memset(t.header + kFexOffRecordSize, 0, 4);
  std::memset(t.header + kFexOffDescriptors, 0, size_t(kFexDescriptorSlots) * kFexDescriptorSize);
  std::string rest = content;
  int code = fxInteger;
  std::vector<std::string> parts;
  while (!rest.empty()) {
    std::string def = NextToken(rest, ";");
    const std::string whole = def;
    parts.clear();
    while (!def.empty()) parts.push_back(NextToken(def, ":"));
    if (parts.size() != 5)
      Fail(at, where, "definição de campo sem as cinco partes ["_cp + whole + "]");
    const int64_t size = StrToInt(parts[2]);
    const int64_t precision = StrToInt(parts[3]);
    const int64_t flags = StrToInt(parts[4]);
    if (size < 0 || size > 0xFFFF || precision < 0 || precision > 255 || flags < 0 ||
        flags > 255)
      Fail(at, where, "definição de campo fora dos limites ["_cp + whole + "]");
    switch (parts[1].empty() ? 0 : parts[1][0]) {
      case 'B': code = fxByte; break;
      case 'C': code = fxChar; break;
      case 'F': code = fxFloat; break;
      case 'I': code = fxInteger; break;
      case 'T': code = fxTime; break;
      default: break;  // keeps the type of the field before it
    }
    FexAddField(t, parts[0], code, int(size), int(precision), int(flags));
  }
  FexWriteHeader(t);
}

void AddRecordAt(TFEX& t, const char* content, size_t length, const TextPlace& at) {
  static thread_local std::string bytes;
  const std::string& where = t.FileName;
  if (!UnescapeInto(content, length, bytes))
    Fail(at, where, "barra invertida sem caractere no fim do registro");
  const size_t expected = size_t(FexRecordSize(t));
  if (bytes.size() != expected)
    Fail(at, where,
         "registro com " + std::to_string(bytes.size()) + " bytes, a tabela [" +
             FexTableName(t) + "] espera " + std::to_string(expected));
  const int32_t n = FexAppend(t);
  t.RecordBuffer.swap(bytes);
  FexPost(t, n);
}

std::string PackageDir(const std::string& path) {
  const std::string dir = fs_layer::ExtractFilePath(path);
  // No directory means the current one, never the root.
  return IncludeBackslash(dir.empty() ? "./" : dir);
}

bool HasWorkExtension(const std::string& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, ".$$$") == 0;
}

}  // namespace

std::string EscapeRecord(const std::string& bytes) {
  std::string out;
  AppendEscapedRecord(out, bytes.data(), bytes.size());
  return out;
}

std::string EscapeFileData(const std::string& bytes) {
  std::string out;
  AppendEscapedFileData(out, bytes.data(), bytes.size());
  return out;
}

std::string UnescapeText(const std::string& text) {
  std::string out;
  if (!UnescapeInto(text.data(), text.size(), out))
    throw EFEXError("Barra invertida sem caractere no fim do texto");
  return out;
}

bool BeginPackageText(PackageWriter& w, const std::string& fileName) {
  if (w.file) std::fclose(w.file);
  w = PackageWriter{};
  w.FileName = fileName;
  const std::string found = fs_layer::FindFile(fileName);
  w.file = std::fopen((found.empty() ? fileName : found).c_str(), "wb");
  if (!w.file) return false;
  std::setvbuf(w.file, nullptr, _IOFBF, kWriterBuffer);
  w.Line = "!!0";
  WriteLine(w);
  return true;
}

bool BeginPackedText(PackageWriter& w, const std::string& packageFile, int level) {
  if (w.file) std::fclose(w.file);
  w = PackageWriter{};
  w.FileName = packageFile;
  auto packed = std::make_shared<TCompressWriter>();
  if (!CompressBegin(*packed, packageFile, level)) return false;
  w.Packed = packed;
  w.Line = "!!0";
  WriteLine(w);
  return true;
}

void EndPackageText(PackageWriter& w) {
  for (int i = 0; i < kClosingLines; ++i) {
    w.Line = "zz9";
    WriteLine(w);
  }
  if (w.Packed) {
    const bool done = CompressEnd(*w.Packed);
    const std::string name = w.FileName;
    w = PackageWriter{};
    if (!done) throw EInOutError("Write error in " + name);
    return;
  }
  const int rc = std::fclose(w.file);
  const std::string name = w.FileName;
  w = PackageWriter{};
  if (rc != 0) throw EInOutError("Close error in " + name + ": " + std::strerror(errno));
}

bool WriteTableSection(PackageWriter& w, const std::string& fexFile, TFEX* objDefs,
                       bool withObjectDefs) {
  TFEX t;
  if (!FexOpen(t, fexFile)) return true;
  const std::string prefix = FexFileId(t);
  const std::string table = FexTableName(t);

  StartLine(w, prefix, '1');
  w.Line += table + ":" + prefix + ":" + std::to_string(FexFlags(t)) + ":";
  WriteLine(w);

  const int32_t refs = FexReferenceCount(t);
  StartLine(w, prefix, '2');
  w.Line += std::to_string(refs) + ":";
  for (int i = 0; i < refs; ++i) w.Line += ReferenceText(t, FexReference(t, i)) + ":";
  WriteLine(w);

  StartLine(w, prefix, '3');
  const int32_t fields = FexFieldCount(t);
  for (int i = 0; i < fields; ++i) {
    const FieldDescriptor d = FexField(t, i);
    if (d.name.empty()) break;
    w.Line += d.name + ":" + d.type + ":" + std::to_string(d.size) + ":" +
              std::to_string(d.precision) + ":" + std::to_string(d.flags) + ";";
    if (withObjectDefs && objDefs) {
      const int32_t n = FexAppend(*objDefs);
      FexSetString(*objDefs, "TAB", table);
      FexSetString(*objDefs, "FIELD", d.name);
      FexSetString(*objDefs, "TYPE", std::string(1, d.type));
      FexSetInteger(*objDefs, "SIZE", d.size);
      FexSetInteger(*objDefs, "PREC", d.precision);
      FexSetInteger(*objDefs, "FLAGS", d.flags);
      FexPost(*objDefs, n);
    }
    PumpMessage();
  }
  WriteLine(w);

  const int32_t records = FexRecordCount(t);
  for (int32_t n = 1; n <= records; ++n) {
    FexRead(t, n);
    StartLine(w, prefix, '4');
    AppendEscapedRecord(w.Line, t.RecordBuffer.data(), t.RecordBuffer.size());
    WriteLine(w);
    PumpMessage();
  }

  StartLine(w, prefix, '5');
  WriteLine(w);
  FexClose(t);
  return true;
}

bool WriteFileSection(PackageWriter& w, const std::string& fileName) {
  const std::string found = fs_layer::FindFile(fileName);
  std::FILE* f = found.empty() ? nullptr : std::fopen(found.c_str(), "rb");
  if (!f) return false;
  struct Closer {
    std::FILE* f;
    ~Closer() { std::fclose(f); }
  } closer{f};
  w.Line = "@@1" + fs_layer::ExtractFileName(fileName) + ":";
  WriteLine(w);
  std::vector<char> block(kFileBlock);
  std::string pending;
  size_t pendingBytes = 0;
  for (;;) {
    const size_t got = std::fread(block.data(), 1, block.size(), f);
    if (got < block.size() && std::ferror(f)) throw EInOutError("Read error in " + fileName);
    for (size_t i = 0; i < got; ++i) {
      AppendEscapedFileData(pending, block.data() + i, 1);
      if (++pendingBytes == kFileDataPerLine) {
        w.Line = "@@2" + pending;
        WriteLine(w);
        pending.clear();
        pendingBytes = 0;
      }
    }
    if (got < block.size()) break;
  }
  if (pendingBytes > 0) {
    w.Line = "@@2" + pending;
    WriteLine(w);
  }
  w.Line = "@@9";
  WriteLine(w);
  return true;
}

bool BeginTableFromText(TFEX& t, const std::string& dir, const std::string& content) {
  return BeginTableAt(t, dir, content, TextPlace{});
}

void DefineFieldsFromText(TFEX& t, const std::string& content) {
  DefineFieldsAt(t, content, TextPlace{});
}

void AddRecordFromText(TFEX& t, const std::string& content) {
  AddRecordAt(t, content.data(), content.size(), TextPlace{});
}

bool BuildPackage(const std::string& pathSpec, const std::string& baseName, bool deleteSources,
                  bool withObjectDefs) {
  const std::string dir = PackageDir(pathSpec);
  try {
    const std::string work = dir + baseName + ".$$$";
    const std::string objFile = dir + "TRVOBJDEF.$$$";
    const std::string package = dir + baseName + ".zfx";
    fs_layer::DeleteFile(work);
    fs_layer::DeleteFile(package);
    fs_layer::DeleteFile(objFile);

    TFEX objDefs;
    if (withObjectDefs) {
      FexCreate(objDefs, objFile, "TRVOD", "OD");
      FexAddField(objDefs, "TAB", fxChar, 32, 0, 0);
      FexAddField(objDefs, "FIELD", fxChar, 6, 0, 0);
      FexAddField(objDefs, "TYPE", fxChar, 1, 0, 0);
      FexAddField(objDefs, "SIZE", fxInteger, 11, 0, 0);
      FexAddField(objDefs, "PREC", fxInteger, 11, 0, 0);
      FexAddField(objDefs, "FLAGS", fxInteger, 11, 0, 0);
    }

    // The text goes into the package as it is made: a work file of the
    // whole text would be written and read again for nothing.
    PackageWriter w;
    if (BeginPackedText(w, package, kPackageLevel)) {
      for (const fs_layer::DirEntry& e : fs_layer::FindByMask(dir + "*.FEX")) {
        if (e.isDirectory || e.hidden || HasWorkExtension(e.name)) continue;
        if (IsFexFile(e.path))
          WriteTableSection(w, e.path, &objDefs, withObjectDefs);
        else
          WriteFileSection(w, e.path);
        if (deleteSources) fs_layer::DeleteFile(e.path);
      }
      if (withObjectDefs) {
        FexClose(objDefs);
        WriteTableSection(w, objFile, nullptr, false);
      }
      EndPackageText(w);
      PumpMessage();
    }
    FexClose(objDefs);
    fs_layer::DeleteFile(work);
    fs_layer::DeleteFile(objFile);
    return true;
  } catch (const std::exception&) {
    throw EFEXError("Erro ao criar o pacote " + dir);
  }
}

bool SplitPackage(const std::string& packageFile, const std::string& destPath, bool clearDest) {
  const std::string dir = PackageDir(destPath);
  if (clearDest) DeleteFilesByMask(dir + "*.*");
  const std::string name = fs_layer::ExtractFileName(packageFile);
  // The work file takes the package name up to its first dot; a name without
  // a dot gives just ".$M$".
  const size_t dot = name.find('.');
  const std::string work = dir + (dot == std::string::npos ? std::string() : name.substr(0, dot)) + ".$M$";

  // A line longer than any record could need is refused before it is read
  // whole into memory.
  size_t lineSoFar = 0;
  const TOutputInspector lineLimit = [&lineSoFar](const char* data, size_t n) {
    const char* end = data + n;
    while (data < end) {
      const void* nl = std::memchr(data, '\n', size_t(end - data));
      if (!nl) {
        lineSoFar += size_t(end - data);
        return lineSoFar <= kMaxPackageLine;
      }
      lineSoFar += size_t(static_cast<const char*>(nl) - data);
      if (lineSoFar > kMaxPackageLine) return false;
      lineSoFar = 0;
      data = static_cast<const char*>(nl) + 1;
    }
    return true;
  };
  if (!DecompressFile(packageFile, work, lineLimit)) return false;

  TTextFile text;
  TFEX t;
  bool tableOpen = false;
  TextPlace at{&packageFile, 0};
  try {
    if (OpenTextRead(text, work)) {
      std::string line;
      while (ReadTextLine(text, line)) {
        ++at.line;
        if (line.size() < 3) continue;
        const char kind = line[2];
        if (kind == '9') break;
        if (kind != '1' && kind != '3' && kind != '4' && kind != '5') continue;
        const std::string& where = t.FileName;
        switch (kind) {
          case '1':
            if (tableOpen) Fail(at, where, "seção de tabela sem a linha de fim"_cp);
            if (!BeginTableAt(t, dir, line.substr(3), at))
              Fail(at, where, "não foi possível criar o arquivo da tabela"_cp);
            tableOpen = true;
            break;
          case '3':
            if (!tableOpen) Fail(at, where, "definição de campos fora de uma tabela"_cp);
            DefineFieldsAt(t, line.substr(3), at);
            PumpMessage();
            break;
          case '4':
            if (!tableOpen) Fail(at, where, "registro fora de uma tabela");
            AddRecordAt(t, line.data() + 3, line.size() - 3, at);
            PumpMessage();
            break;
          default:  // '5'
            if (!tableOpen) Fail(at, where, "fim de tabela sem tabela aberta");
            FexClose(t);
            tableOpen = false;
            break;
        }
      }
      if (tableOpen) Fail(at, t.FileName, "seção de tabela ["_cp + FexTableName(t) + "] sem a linha de fim");
      CloseTextRead(text);
    }
  } catch (...) {
    // Neither the work file nor a half-built table is left behind.
    if (text.file) {
      try {
        CloseTextRead(text);
      } catch (const Exception&) {
        // the original error is the one worth reporting
      }
    }
    if (tableOpen && t.file) {
      std::fclose(t.file);
      t.file = nullptr;
      t.PendingBlank = 0;
      fs_layer::DeleteFile(t.FileName);
    }
    fs_layer::DeleteFile(work);
    throw;
  }
  fs_layer::DeleteFile(work);
  return true;
}
