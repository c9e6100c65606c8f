#include "qsmlib/fex.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "qsmlib/cp1252.h"
#include "qsmlib/helpers.h"
#include "qsmlib/platform/fs.h"

namespace {

constexpr uint32_t kPopulatedFlag = 1;
constexpr char kFexMagic[4] = {'Q', 'F', 'E', 'X'};
// Later than this (2038-01-19 00:00:00) the seconds no longer fit 32 bits.
constexpr TDateTime kLastStorableDate = 50424.0;
constexpr int kStreamBuffer = 1 << 16;
enum { kOpNone = 0, kOpRead = 1, kOpWrite = 2 };

uint32_t GetU32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t GetI32(const unsigned char* p) { return static_cast<int32_t>(GetU32(p)); }
uint16_t GetU16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }
void PutU32(unsigned char* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
void PutU16(unsigned char* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

const unsigned char* Slot(const unsigned char* header, int index) {
  return header + kFexOffDescriptors + index * kFexDescriptorSize;
}
unsigned char* Slot(unsigned char* header, int index) {
  return header + kFexOffDescriptors + index * kFexDescriptorSize;
}

// Stored names fill at most 7 bytes and end at the first NUL.
bool SlotNameIs(const unsigned char* slot, const std::string& name) {
  const size_t n = name.size();
  if (n > size_t(kFexFieldNameLength)) return false;
  if (std::memcmp(slot, name.data(), n) != 0) return false;
  return n == size_t(kFexFieldNameLength) || slot[n] == 0;
}

std::string SlotName(const unsigned char* slot) {
  size_t n = 0;
  while (n < size_t(kFexFieldNameLength) && slot[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(slot), n);
}

int FindSlot(const TFEX& t, const std::string& name) {
  int32_t count = FexFieldCount(t);
  if (count > kFexMaxFields) count = kFexMaxFields;
  for (int i = 0; i < count; ++i)
    if (SlotNameIs(Slot(t.header, i), name)) return i;
  return -1;
}

// The bytes of one field inside the current record. Guards the buffer even
// against a caller that replaced RecordBuffer with something shorter.
struct FieldSpan {
  uint32_t offset;
  uint16_t size;
  uint8_t precision;
};
FieldSpan SpanOf(const TFEX& t, int index) {
  const unsigned char* s = Slot(t.header, index);
  FieldSpan f{GetU32(s + 12), GetU16(s + 8), s[10]};
  if (uint64_t(f.offset) + f.size > t.RecordBuffer.size())
    throw EFEXError("Registro da tabela [" + t.FileName + "] menor que o campo " + SlotName(s) +
                    "!");
  return f;
}

[[noreturn]] void ThrowUndefined(const TFEX& t, const std::string& name, bool accented) {
  throw EFEXError((accented ? "O campo " + name + " não está definido para a tabela "_cp
                            : "O campo " + name + " não esta definido para a tabela "_cp) +
                  FexTableName(t) + "!");
}

void ResetHandle(TFEX& t) {
  if (t.file) std::fclose(t.file);
  t.file = nullptr;
  t.FileName.clear();
  std::memset(t.header, 0, sizeof t.header);
  t.RecordBuffer.clear();
  t.StorageSizes = false;
  t.StreamPos = -1;
  t.LastOp = kOpNone;
  t.PendingBlank = 0;
}

void RequireOpen(const TFEX& t) {
  if (!t.file) throw EInOutError("File not open: " + t.FileName);
}

// Positions the stream for a read or a write at offset; C streams need a seek
// whenever the direction changes, so one is skipped only when neither the
// place nor the direction does.
void PlaceStream(TFEX& t, int64_t offset, int op) {
  RequireOpen(t);
  if (t.StreamPos == offset && (t.LastOp == op || t.LastOp == kOpNone)) {
    t.LastOp = op;
    return;
  }
  if (fseeko(t.file, offset, SEEK_SET) != 0) {
    t.StreamPos = -1;
    throw EInOutError("Seek error in " + t.FileName + ": " + std::strerror(errno));
  }
  t.StreamPos = offset;
  t.LastOp = op;
}

void WriteAt(TFEX& t, int64_t offset, const void* data, size_t n) {
  PlaceStream(t, offset, kOpWrite);
  if (n && std::fwrite(data, 1, n, t.file) != n) {
    t.StreamPos = -1;
    throw EInOutError("Write error in " + t.FileName + ": " + std::strerror(errno));
  }
  t.StreamPos += int64_t(n);
}

int64_t RecordOffset(const TFEX& t, int32_t n) {
  if (n < 1)
    throw EFEXError("Tentativa de posicional o arquivo [" + t.FileName +
                    "] for de seus limites!");
  return int64_t(kFexHeaderSize) + int64_t(n - 1) * FexRecordSize(t);
}

void WriteBlanks(TFEX& t, int64_t offset, int64_t count) {
  static const std::string blanks(4096, ' ');
  PlaceStream(t, offset, kOpWrite);
  while (count > 0) {
    const size_t n = size_t(count < int64_t(blanks.size()) ? count : int64_t(blanks.size()));
    WriteAt(t, t.StreamPos, blanks.data(), n);
    count -= int64_t(n);
  }
}

void FlushPendingBlank(TFEX& t) {
  if (t.PendingBlank == 0) return;
  const int32_t n = t.PendingBlank;
  t.PendingBlank = 0;
  WriteBlanks(t, RecordOffset(t, n), FexRecordSize(t));
}

void WriteHeader(TFEX& t) {
  FlushPendingBlank(t);
  WriteAt(t, 0, t.header, kFexHeaderSize);
}

void OpenStreamBuffer(std::FILE* f) { std::setvbuf(f, nullptr, _IOFBF, kStreamBuffer); }

int StorageSize(int fieldType, int size, bool storageSizes) {
  switch (fieldType) {
    case fxInteger:
    case fxTime:
      return kFexIntegerWidth;
    case fxByte:
      return 1;
    case fxChar:
      return size;
    default:  // fxFloat
      return storageSizes ? size : size + 1;
  }
}

const char kTypeLetters[] = {'I', 'F', 'C', 'T', 'B'};

// |value| rounded to prec decimals, halves away from zero, as digits with the
// last prec of them the fraction. The rounding works on the 18 significant
// digits of the extended value, so 1.005 stays 1.00 as its binary value says.
std::string ScaledDigits(long double value, int prec) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17Le", value < 0 ? -value : value);
  std::string mant;
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') mant.push_back(*p);
  const int exp10 = *p == 'e' ? std::atoi(p + 1) : 0;
  // value = 0.mant * 10^(exp10 + 1); keep the digits down to 10^-prec.
  const long keep = long(exp10) + 1 + prec;
  std::string digits;
  if (keep < 0) {
    digits = "0";
  } else if (keep >= long(mant.size())) {
    digits = mant + std::string(size_t(keep) - mant.size(), '0');
  } else {
    digits = mant.substr(0, size_t(keep));
    if (mant[size_t(keep)] >= '5') {
      int i = int(digits.size()) - 1;
      while (i >= 0 && digits[size_t(i)] == '9') digits[size_t(i--)] = '0';
      if (i >= 0)
        ++digits[size_t(i)];
      else
        digits.insert(digits.begin(), '1');
    }
    if (digits.empty()) digits = "0";
  }
  size_t lead = 0;
  while (lead + 1 < digits.size() && digits[lead] == '0') ++lead;
  digits.erase(0, lead);
  if (digits.size() < size_t(prec) + 1) digits.insert(0, size_t(prec) + 1 - digits.size(), '0');
  return digits;
}

// Decimal text with "." (leading blanks, a sign, digits, one point, an
// optional exponent); nothing may follow.
bool ParseDecimal(const std::string& text, long double& out) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  const size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != text.size()) return false;
  out = std::strtold(text.c_str() + start, nullptr);
  return true;
}

}  // namespace

TFEX::~TFEX() {
  if (!file) return;
  try {
    FlushPendingBlank(*this);
  } catch (const Exception&) {
  }
  std::fclose(file);
  file = nullptr;
}

std::string FexTableName(const TFEX& t) {
  const unsigned char* p = t.header + kFexOffTableName;
  size_t n = 0;
  while (n < size_t(kFexTableNameLength) && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}
std::string FexFileId(const TFEX& t) {
  return std::string(reinterpret_cast<const char*>(t.header + kFexOffFileId), 2);
}
uint32_t FexFlags(const TFEX& t) { return GetU32(t.header + kFexOffFlags); }
int32_t FexRecordCount(const TFEX& t) { return GetI32(t.header + kFexOffRecordCount); }
int32_t FexRecordSize(const TFEX& t) { return GetI32(t.header + kFexOffRecordSize); }
int32_t FexFieldCount(const TFEX& t) { return GetI32(t.header + kFexOffFieldCount); }
int32_t FexReferenceCount(const TFEX& t) { return GetI32(t.header + kFexOffRefCount); }
uint16_t FexReference(const TFEX& t, int index) {
  if (index < 0 || index >= kFexMaxReferences) return 0;
  return GetU16(t.header + kFexOffRefList + 2 * index);
}

FieldDescriptor FexField(const TFEX& t, int index) {
  FieldDescriptor d;
  if (index < 0 || index >= kFexDescriptorSlots) return d;
  const unsigned char* s = Slot(t.header, index);
  d.name = SlotName(s);
  d.type = char(s[7]);
  d.size = GetU16(s + 8);
  d.precision = s[10];
  d.flags = s[11];
  d.offset = GetU32(s + 12);
  return d;
}

std::string FexHeaderProblem(const unsigned char* h, int64_t fileSize) {
  if (fileSize < kFexHeaderSize) return "cabeçalho truncado"_cp;
  const int32_t fields = GetI32(h + kFexOffFieldCount);
  if (fields < 0 || fields > kFexMaxFields)
    return "número de campos inválido ("_cp + std::to_string(fields) + ")";
  const int32_t refs = GetI32(h + kFexOffRefCount);
  if (refs < 0 || refs > kFexMaxReferences)
    return "número de referências inválido ("_cp + std::to_string(refs) + ")";
  const int32_t records = GetI32(h + kFexOffRecordCount);
  if (records < 0) return "número de registros inválido ("_cp + std::to_string(records) + ")";
  int64_t offset = 0;
  for (int i = 0; i < fields; ++i) {
    const unsigned char* s = Slot(h, i);
    if (s[0] == 0) return "campo "_cp + std::to_string(i + 1) + " sem nome";
    if (GetU32(s + 12) != offset)
      return "posição do campo "_cp + std::to_string(i + 1) + " inválida"_cp;
    offset += GetU16(s + 8);
  }
  const int32_t recordSize = GetI32(h + kFexOffRecordSize);
  if (recordSize != offset)
    return "tamanho de registro ("_cp + std::to_string(recordSize) +
           ") diferente da soma dos campos (" + std::to_string(offset) + ")";
  if (recordSize == 0 && records > 0) return "registros sem campos"_cp;
  return {};
}

bool FexCreate(TFEX& t, const std::string& fileName, const std::string& tableName,
               const std::string& fileId) {
  ResetHandle(t);
  std::memcpy(t.header + kFexOffMagic, kFexMagic, 4);
  t.FileName = fileName;
  if (fileId.size() != 2) throw EFEXError("FileID [" + fileId + "]: Invalido!");
  std::memcpy(t.header + kFexOffFileId, fileId.data(), 2);
  if (tableName.size() > size_t(kFexTableNameLength))
    throw EFEXError("TableName [" + tableName + "]: Invalida!");
  std::memcpy(t.header + kFexOffTableName, tableName.data(), tableName.size());
  // An existing file under another case is the same file to the system.
  std::string path = fs_layer::FindFile(fileName);
  if (path.empty()) path = fileName;
  t.file = std::fopen(path.c_str(), "w+b");
  if (!t.file) return false;
  OpenStreamBuffer(t.file);
  t.StreamPos = 0;
  t.LastOp = kOpNone;
  try {
    WriteHeader(t);
  } catch (const EInOutError&) {
    std::fclose(t.file);
    t.file = nullptr;
    return false;
  }
  return true;
}

bool FexOpen(TFEX& t, const std::string& fileName) {
  const std::string path = fs_layer::FindFile(fileName);
  if (path.empty()) return false;
  ResetHandle(t);
  t.FileName = fileName;
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) return false;
  OpenStreamBuffer(f);  // before the first read: a stream's buffer is set only then
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 ||
      std::fread(t.header, 1, kFexHeaderSize, f) != size_t(kFexHeaderSize) ||
      !FexHeaderProblem(t.header, st.st_size).empty()) {
    std::fclose(f);
    std::memset(t.header, 0, sizeof t.header);
    return false;
  }
  t.file = f;
  t.StreamPos = kFexHeaderSize;
  t.LastOp = kOpRead;
  t.RecordBuffer.assign(size_t(FexRecordSize(t)), ' ');
  return true;
}

void FexClose(TFEX& t) {
  if (!t.file) return;
  std::string failure;
  try {
    WriteHeader(t);
  } catch (const EInOutError& e) {
    failure = e.what();
  }
  const int rc = std::fclose(t.file);
  t.file = nullptr;
  t.StreamPos = -1;
  t.LastOp = kOpNone;
  if (!failure.empty()) throw EInOutError(failure);
  if (rc != 0) throw EInOutError("Close error in " + t.FileName + ": " + std::strerror(errno));
}

bool IsFexFile(const std::string& fileName) {
  const std::string path = fs_layer::FindFile(fileName);
  if (path.empty()) return false;
  // Opened for writing as tables are, so a read-only file is not one.
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) return false;
  char magic[4];
  const bool ok = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, kFexMagic, 4) == 0;
  std::fclose(f);
  return ok;
}

bool FexAddField(TFEX& t, const std::string& name, int fieldType, int size, int precision,
                 int flags) {
  const std::string table = FexTableName(t);
  if (FexFlags(t) & kPopulatedFlag)
    throw EFEXError("Não posso adicionar campos na tabela ["_cp + table +
                    "] pois já está populada com dados!"_cp);
  if (FindSlot(t, name) >= 0)
    throw EFEXError("Não posso adicionar campos na tabela ["_cp + table +
                    "] pois já há um campo com mesmo nome!"_cp);
  const int32_t count = FexFieldCount(t);
  if (count >= kFexMaxFields)
    throw EFEXError("Não posso adicionar o campos ["_cp + name + "] na tabela [" + table +
                    "] pois estourou o limite de campos!");
  // A nameless field, an unknown type or a size that the descriptor cannot
  // hold would make a table that no package carries back intact.
  const std::string stored = Trim(name).substr(0, kFexFieldNameLength);
  if (stored.empty())
    throw EFEXError("Nome de campo vazio na tabela ["_cp + table + "]!");
  if (fieldType < fxInteger || fieldType > fxByte)
    throw EFEXError("Tipo " + std::to_string(fieldType) + " do campo " + name +
                    " na tabela [" + table + "] inválido!"_cp);
  const int storage = StorageSize(fieldType, size, t.StorageSizes);
  if (storage < 0 || storage > 0xFFFF)
    throw EFEXError("Tamanho " + std::to_string(size) + " do campo " + name + " na tabela [" +
                    table + "] inválido!"_cp);
  if (precision < 0 || precision > 255 || flags < 0 || flags > 255)
    throw EFEXError("Precisão ou flags do campo "_cp + name + " na tabela [" + table +
                    "] fora de 0 a 255!");
  unsigned char* s = Slot(t.header, count);
  std::memset(s, 0, kFexDescriptorSize);
  std::memcpy(s, stored.data(), stored.size());
  s[7] = static_cast<unsigned char>(kTypeLetters[fieldType]);
  PutU16(s + 8, uint16_t(storage));
  s[10] = uint8_t(precision);
  s[11] = uint8_t(flags);
  uint32_t offset = 0;
  if (count > 0) {
    const unsigned char* prev = Slot(t.header, count - 1);
    offset = GetU32(prev + 12) + GetU16(prev + 8);
  }
  PutU32(s + 12, offset);
  PutU32(t.header + kFexOffRecordSize, uint32_t(FexRecordSize(t) + storage));
  PutU32(t.header + kFexOffFieldCount, uint32_t(count + 1));
  return true;
}

int FexFindField(const TFEX& t, const std::string& name, FieldDescriptor* out) {
  const int i = FindSlot(t, name);
  if (i >= 0 && out) *out = FexField(t, i);
  return i;
}

void FexUseStorageSizes(TFEX& t) { t.StorageSizes = true; }

void FexWriteHeader(TFEX& t) { WriteHeader(t); }

void FexGoTo(TFEX& t, int32_t n) {
  const int64_t offset = RecordOffset(t, n);
  FlushPendingBlank(t);
  PlaceStream(t, offset, kOpNone);
}

int32_t FexAppend(TFEX& t) {
  RequireOpen(t);
  const int32_t count = FexRecordCount(t);
  if (count == INT32_MAX)
    throw EFEXError("Tabela [" + t.FileName + "] sem espaço para mais registros!"_cp);
  FlushPendingBlank(t);
  const int32_t n = count + 1;
  PutU32(t.header + kFexOffRecordCount, uint32_t(n));
  PutU32(t.header + kFexOffFlags, FexFlags(t) | kPopulatedFlag);
  t.RecordBuffer.assign(size_t(FexRecordSize(t)), ' ');
  // The blank record reaches the disk with the post that normally follows,
  // or before anything else touches the file.
  t.PendingBlank = n;
  return n;
}

void FexPost(TFEX& t, int32_t n) {
  const int64_t offset = RecordOffset(t, n);
  RequireOpen(t);
  if (t.PendingBlank != n) FlushPendingBlank(t);
  t.PendingBlank = 0;
  const size_t size = size_t(FexRecordSize(t));
  if (t.RecordBuffer.size() >= size) {
    WriteAt(t, offset, t.RecordBuffer.data(), size);
  } else {
    WriteAt(t, offset, t.RecordBuffer.data(), t.RecordBuffer.size());
    WriteBlanks(t, t.StreamPos, int64_t(size - t.RecordBuffer.size()));
  }
}

void FexRead(TFEX& t, int32_t n) {
  const int64_t offset = RecordOffset(t, n);
  RequireOpen(t);
  FlushPendingBlank(t);
  const size_t size = size_t(FexRecordSize(t));
  t.RecordBuffer.assign(size, ' ');
  PlaceStream(t, offset, kOpRead);
  const size_t got = size ? std::fread(t.RecordBuffer.data(), 1, size, t.file) : 0;
  t.StreamPos += int64_t(got);
  if (got != size) {
    t.StreamPos = -1;
    throw EInOutError("Read beyond end of file");
  }
}

void FexSetString(TFEX& t, const std::string& name, const std::string& value) {
  const int i = FindSlot(t, name);
  if (i < 0) ThrowUndefined(t, name, true);
  const FieldSpan f = SpanOf(t, i);
  char* dst = t.RecordBuffer.data() + f.offset;
  const size_t n = value.size() < f.size ? value.size() : f.size;
  std::memcpy(dst, value.data(), n);
  std::memset(dst + n, ' ', f.size - n);
}

void FexSetInteger(TFEX& t, const std::string& name, int32_t value) {
  char text[24];
  if (value >= 0)
    std::snprintf(text, sizeof text, "%.11u", unsigned(value));
  else
    std::snprintf(text, sizeof text, "%.10d", value);
  if (std::strlen(text) > size_t(kFexIntegerWidth))
    throw EFEXError("Tamanho do campo " + name + " na tabela " + FexTableName(t) +
                    " excede o tamanho máximo de um inteiro!"_cp);
  FexSetString(t, name, text);
}

void FexSetDate(TFEX& t, const std::string& name, TDateTime value) {
  if (value > kLastStorableDate) value = kLastStorableDate;
  FexSetInteger(t, name, DateTimeToUnix(value));
}

void FexSetFloat(TFEX& t, const std::string& name, long double value) {
  const int i = FindSlot(t, name);
  if (i < 0) ThrowUndefined(t, name, false);
  const FieldSpan f = SpanOf(t, i);
  const bool negative = value < 0;
  const int width = f.size;
  std::string digits;
  if (std::isfinite(value)) digits = ScaledDigits(value, f.precision);
  // The sign position plus the digits must fit the storage size.
  if (!std::isfinite(value) || width < 1 || digits.size() > size_t(width - 1))
    throw EFEXError("O Tamanho do campo " + name + " na tabela " + FexTableName(t) +
                    " é insufuciente!"_cp);
  std::string text(size_t(width), '0');
  text.replace(size_t(width) - digits.size(), digits.size(), digits);
  if (negative) text[0] = '-';
  FexSetString(t, name, text);
}

std::string FexGetString(const TFEX& t, const std::string& name) {
  const int i = FindSlot(t, name);
  if (i < 0) ThrowUndefined(t, name, false);
  const FieldSpan f = SpanOf(t, i);
  return t.RecordBuffer.substr(f.offset, f.size);
}

int64_t FexGetInteger(const TFEX& t, const std::string& name) {
  return StrToInt32(FexGetString(t, name));
}

TDateTime FexGetDate(const TFEX& t, const std::string& name) {
  return UnixToDateTime(static_cast<int32_t>(FexGetInteger(t, name)));
}

long double FexGetFloat(const TFEX& t, const std::string& name) {
  const int i = FindSlot(t, name);
  if (i < 0) ThrowUndefined(t, name, false);
  std::string text = FexGetString(t, name);
  const size_t prec = Slot(t.header, i)[10];
  if (prec > 0) text.insert(text.size() > prec ? text.size() - prec : 0, 1, '.');
  long double value = 0;
  if (!ParseDecimal(text, value))
    throw EFEXError("O campo " + name + " da tabela " + FexTableName(t) +
                    " contém um valor não válido!"_cp);
  return value;
}
