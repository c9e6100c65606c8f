// FEX tables: a 4,410-byte header followed by fixed-width text records.
// Plain handle plus free functions; every rule violation raises EFEXError.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "qsmlib/except.h"
#include "qsmlib/platform/datetime.h"

class EFEXError : public Exception {
 public:
  using Exception::Exception;
};

enum TFexFieldType : int { fxInteger = 0, fxFloat = 1, fxChar = 2, fxTime = 3, fxByte = 4 };

// Layout constants, shared by every reader and writer.
constexpr int kFexHeaderSize = 4410;
constexpr int kFexMaxFields = 250;
constexpr int kFexDescriptorSlots = 256;
constexpr int kFexDescriptorSize = 16;
constexpr int kFexTableNameLength = 32;
constexpr int kFexFieldNameLength = 7;
constexpr int kFexMaxReferences = 128;
constexpr int kFexIntegerWidth = 11;

// Offsets inside the header.
constexpr int kFexOffMagic = 0;
constexpr int kFexOffFileId = 4;
constexpr int kFexOffTableName = 6;
constexpr int kFexOffFlags = 38;
constexpr int kFexOffRecordCount = 42;
constexpr int kFexOffRecordSize = 46;
constexpr int kFexOffRefCount = 50;
constexpr int kFexOffRefList = 54;
constexpr int kFexOffFieldCount = 310;
constexpr int kFexOffDescriptors = 314;

struct FieldDescriptor {
  std::string name;   // up to 7 characters
  char type = 'C';    // 'I', 'F', 'C', 'T' or 'B'
  uint16_t size = 0;  // storage size
  uint8_t precision = 0;
  uint8_t flags = 0;
  uint32_t offset = 0;
};

struct TFEX {
  std::string FileName;
  unsigned char header[kFexHeaderSize] = {};
  std::string RecordBuffer;
  std::FILE* file = nullptr;
  bool StorageSizes = false;
  // Where the stream stands (-1 unknown) and whether it last read (1) or
  // wrote (2), so that sequential record access needs no seek; and the number
  // of an appended record whose blanks are not on disk yet (0 for none): an
  // append followed by its post writes the record once.
  int64_t StreamPos = -1;
  int LastOp = 0;
  int32_t PendingBlank = 0;
  TFEX() = default;
  TFEX(const TFEX&) = delete;
  TFEX& operator=(const TFEX&) = delete;
  ~TFEX();  // closes the file without writing the header when still open
};

bool FexCreate(TFEX& t, const std::string& fileName, const std::string& tableName,
               const std::string& fileId);
bool FexOpen(TFEX& t, const std::string& fileName);
void FexClose(TFEX& t);
bool IsFexFile(const std::string& fileName);
bool FexAddField(TFEX& t, const std::string& name, int fieldType, int size, int precision,
                 int flags);
int FexFindField(const TFEX& t, const std::string& name, FieldDescriptor* out = nullptr);
void FexUseStorageSizes(TFEX& t);
int32_t FexRecordCount(const TFEX& t);
int32_t FexAppend(TFEX& t);
void FexPost(TFEX& t, int32_t n);
void FexRead(TFEX& t, int32_t n);
void FexGoTo(TFEX& t, int32_t n);

void FexSetString(TFEX& t, const std::string& name, const std::string& value);
void FexSetInteger(TFEX& t, const std::string& name, int32_t value);
void FexSetDate(TFEX& t, const std::string& name, TDateTime value);
void FexSetFloat(TFEX& t, const std::string& name, long double value);
std::string FexGetString(const TFEX& t, const std::string& name);
int64_t FexGetInteger(const TFEX& t, const std::string& name);
TDateTime FexGetDate(const TFEX& t, const std::string& name);
long double FexGetFloat(const TFEX& t, const std::string& name);

// Header accessors.
std::string FexTableName(const TFEX& t);
std::string FexFileId(const TFEX& t);
uint32_t FexFlags(const TFEX& t);
int32_t FexRecordSize(const TFEX& t);
int32_t FexFieldCount(const TFEX& t);
FieldDescriptor FexField(const TFEX& t, int index);  // 0-based slot
uint16_t FexReference(const TFEX& t, int index);     // 0-based entry of the reference list
int32_t FexReferenceCount(const TFEX& t);

// Writes the header image at offset 0 (as FexClose does, keeping the table open).
void FexWriteHeader(TFEX& t);

// Why a header cannot be used (counts that lie, a truncated file), or empty
// when it is sound. fileSize is the size of the whole table file.
std::string FexHeaderProblem(const unsigned char* header, int64_t fileSize);
