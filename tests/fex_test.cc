#include "qsmlib/fex.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>

#include "fuzz/fuzz_targets.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/platform/datetime.h"
#include "support/testutil.h"

namespace {

using testutil::MessageOf;
using testutil::ReadFileBytes;
using testutil::TempDir;
using testutil::WriteFileBytes;

uint32_t U32At(const std::string& b, size_t off) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + off, 4);
  return v;
}
uint16_t U16At(const std::string& b, size_t off) {
  uint16_t v = 0;
  std::memcpy(&v, b.data() + off, 2);
  return v;
}

TEST(FexFormat, HeaderIsLaidOutByteForByte) {
  TempDir dir;
  const std::string path = dir / "T.FEX";
  const std::string name32(32, 'N');
  TFEX t;
  ASSERT_TRUE(FexCreate(t, path, name32, "R1"));
  FexAddField(t, "SEVENCH", fxChar, 20, 0, 0);
  FexAddField(t, "VL", fxFloat, 15, 4, 7);
  FexAddField(t, "DT", fxTime, 10, 0, 0);
  FexClose(t);

  const std::string b = ReadFileBytes(path);
  ASSERT_EQ(b.size(), 4410u);  // fields and no records: the header alone
  EXPECT_EQ(b.substr(0, 4), "QFEX");
  EXPECT_EQ(b.substr(4, 2), "R1");
  EXPECT_EQ(b.substr(6, 32), name32);  // no terminator when the name fills the area
  EXPECT_EQ(U32At(b, 38), 0u);         // flags: never populated
  EXPECT_EQ(U32At(b, 42), 0u);         // record count
  EXPECT_EQ(U32At(b, 46), 20u + 16u + 11u);
  EXPECT_EQ(U32At(b, 50), 0u);
  EXPECT_EQ(b.substr(54, 256), std::string(256, '\0'));
  EXPECT_EQ(U32At(b, 310), 3u);
  // First descriptor: a 7-character name fills its area, the letter follows.
  EXPECT_EQ(b.substr(314, 8), "SEVENCHC");
  EXPECT_EQ(U16At(b, 314 + 8), 20);
  EXPECT_EQ(U32At(b, 314 + 12), 0u);
  // Second: NUL after the short name, F stores declared size + 1.
  EXPECT_EQ(b.substr(330, 8), std::string("VL\0\0\0\0\0F", 8));
  EXPECT_EQ(U16At(b, 330 + 8), 16);
  EXPECT_EQ(uint8_t(b[330 + 10]), 4);
  EXPECT_EQ(uint8_t(b[330 + 11]), 7);
  EXPECT_EQ(U32At(b, 330 + 12), 20u);
  EXPECT_EQ(U16At(b, 346 + 8), 11);
  EXPECT_EQ(U32At(b, 346 + 12), 36u);
  EXPECT_EQ(b.substr(362), std::string(4410 - 362, '\0'));

  TFEX r;
  ASSERT_TRUE(FexOpen(r, path));
  EXPECT_EQ(FexTableName(r), name32);
  FieldDescriptor d;
  EXPECT_EQ(FexFindField(r, "SEVENCH", &d), 0);
  EXPECT_EQ(d.type, 'C');
  EXPECT_EQ(FexFindField(r, "DT", &d), 2);
  EXPECT_EQ(d.offset, 36u);
  EXPECT_EQ(FexFindField(r, "dt"), -1);  // names are case-sensitive
  FexClose(r);
}

TEST(FexFormat, CreateRefusesBadIdsAndNames) {
  TempDir dir;
  struct Case {
    std::string id, table, message;
  } cases[] = {
      {"ABC", "T", "FileID [ABC]: Invalido!"},
      {"A", "T", "FileID [A]: Invalido!"},
      {"", "T", "FileID []: Invalido!"},
      {"AB", std::string(33, 'X'), "TableName [" + std::string(33, 'X') + "]: Invalida!"},
  };
  for (const Case& c : cases) {
    TFEX t;
    EXPECT_EQ(MessageOf<EFEXError>([&] { FexCreate(t, dir / "X.FEX", c.table, c.id); }), c.message);
  }
  TFEX t;
  EXPECT_FALSE(FexOpen(t, dir / "MISSING.FEX"));
  EXPECT_FALSE(FexCreate(t, dir / "no/such/dir/X.FEX", "X", "XX"));
}

TEST(FexFormat, FieldDefinitionRules) {
  TempDir dir;
  TFEX t;
  ASSERT_TRUE(FexCreate(t, dir / "F.FEX", "TAB", "TB"));
  for (int i = 0; i < 250; ++i) FexAddField(t, "F" + std::to_string(i), fxByte, 1, 0, 0);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexAddField(t, "EXTRA", fxByte, 1, 0, 0); }),
            "Não posso adicionar o campos [EXTRA] na tabela [TAB] pois estourou o limite de campos!"_cp);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexAddField(t, "F0", fxByte, 1, 0, 0); }),
            "Não posso adicionar campos na tabela [TAB] pois já há um campo com mesmo nome!"_cp);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexAddField(t, "F249", fxByte, 1, 0, 0); }),
            "Não posso adicionar campos na tabela [TAB] pois já há um campo com mesmo nome!"_cp);
  FexClose(t);

  // Populated, also once closed and opened again.
  ASSERT_TRUE(FexCreate(t, dir / "P.FEX", "POP", "PP"));
  FexAddField(t, "A", fxChar, 3, 0, 0);
  FexPost(t, FexAppend(t));
  const std::string populated = "Não posso adicionar campos na tabela [POP] pois já está populada com dados!"_cp;
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexAddField(t, "B", fxChar, 3, 0, 0); }), populated);
  FexClose(t);
  ASSERT_TRUE(FexOpen(t, dir / "P.FEX"));
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexAddField(t, "B", fxChar, 3, 0, 0); }), populated);
  FexClose(t);

  // Long names are cut to 7 and found by those 7; nameless or untyped fields are refused.
  ASSERT_TRUE(FexCreate(t, dir / "N.FEX", "N", "NN"));
  FexAddField(t, "  LONGNAME ", fxChar, 2, 0, 0);
  EXPECT_EQ(FexFindField(t, "LONGNAM"), 0);
  EXPECT_EQ(FexFindField(t, "LONGNAME"), -1);
  EXPECT_THROW(FexAddField(t, "   ", fxChar, 2, 0, 0), EFEXError);
  EXPECT_THROW(FexAddField(t, "BADTYPE", 5, 2, 0, 0), EFEXError);
  EXPECT_THROW(FexAddField(t, "HUGE", fxChar, 70000, 0, 0), EFEXError);
  FexClose(t);
}

TEST(FexFormat, StorageSizesFollowTheType) {
  TempDir dir;
  struct Case {
    int type, declared;
    bool storage;
    int expected;
  } cases[] = {
      {fxInteger, 5, false, 11}, {fxTime, 3, false, 11}, {fxByte, 9, false, 1},
      {fxChar, 20, false, 20},   {fxFloat, 15, false, 16}, {fxFloat, 15, true, 15},
      {fxInteger, 5, true, 11},  {fxChar, 0, false, 0},
  };
  for (const Case& c : cases) {
    TFEX t;
    ASSERT_TRUE(FexCreate(t, dir / "S.FEX", "S", "SS"));
    if (c.storage) FexUseStorageSizes(t);
    FexAddField(t, "X", c.type, c.declared, 0, 0);
    FieldDescriptor d;
    FexFindField(t, "X", &d);
    EXPECT_EQ(d.size, c.expected) << "type " << c.type << " declared " << c.declared;
    EXPECT_EQ(FexRecordSize(t), c.expected);
    FexClose(t);
  }
}

struct Table {
  TempDir dir;
  TFEX t;
  Table() {
    if (!FexCreate(t, dir / "V.FEX", "VALS", "VV")) throw std::runtime_error("create");
    FexAddField(t, "I", fxInteger, 10, 0, 0);
    FexAddField(t, "F82", fxFloat, 8, 2, 0);
    FexAddField(t, "F154", fxFloat, 15, 4, 0);
    FexAddField(t, "F30", fxFloat, 3, 0, 0);
    FexAddField(t, "F42", fxFloat, 4, 2, 0);
    FexAddField(t, "T", fxTime, 10, 0, 0);
    FexAddField(t, "C32", fxChar, 32, 0, 0);
    FexAddField(t, "C3", fxChar, 3, 0, 0);
    FexAddField(t, "B", fxByte, 1, 0, 0);
    FexAppend(t);
  }
};

TEST(FexValues, EncodingsRoundTrip) {
  Table tb;
  TFEX& t = tb.t;
  struct IntCase {
    int32_t v;
    const char* text;
  } ints[] = {{42, "00000000042"}, {-42, "-0000000042"}, {0, "00000000000"},
              {INT_MIN, "-2147483648"}, {INT_MAX, "02147483647"}};
  for (const IntCase& c : ints) {
    FexSetInteger(t, "I", c.v);
    EXPECT_EQ(FexGetString(t, "I"), c.text);
    EXPECT_EQ(FexGetInteger(t, "I"), c.v);
  }
  struct FloatCase {
    const char* field;
    long double v;
    const char* text;
    long double back;
  } floats[] = {
      {"F82", -12.5L, "-00001250", -12.5L},
      {"F82", 0, "000000000", 0},
      {"F154", 1234.5L, "0000000012345000", 1234.5L},
      {"F154", -1234.5L, "-000000012345000", -1234.5L},
      {"F30", 2.5L, "0003", 3},          // halves away from zero
      {"F30", -2.5L, "-003", -3},
      {"F42", 0.125L, "00013", 0.13L},
      {"F42", -0.001L, "-0000", 0},      // negative, even when it rounds to zero
      {"F42", 99.994L, "09999", 99.99L},
      {"F42", 1.005, "00100", 1.0L},     // the binary value is below 1.005
  };
  for (const FloatCase& c : floats) {
    FexSetFloat(t, c.field, c.v);
    EXPECT_EQ(FexGetString(t, c.field), c.text) << (double)c.v;
    EXPECT_NEAR(double(FexGetFloat(t, c.field)), double(c.back), 1e-9);
  }
  struct DateCase {
    TDateTime v;
    const char* text;
    TDateTime back;
  } dates[] = {
      {EncodeDateTime(2024, 1, 1), "01704067200", EncodeDateTime(2024, 1, 1)},
      {EncodeDateTime(1969, 12, 31, 23), "00000000000", EncodeDateTime(1970, 1, 1)},
      {EncodeDateTime(2100, 1, 1), "02147472000", EncodeDateTime(2038, 1, 19)},
      {EncodeDateTime(2024, 5, 6, 7, 8, 9, 999), "01714979289", EncodeDateTime(2024, 5, 6, 7, 8, 9)},
  };
  for (const DateCase& c : dates) {
    FexSetDate(t, "T", c.v);
    EXPECT_EQ(FexGetString(t, "T"), c.text);
    EXPECT_NEAR(FexGetDate(t, "T"), c.back, 1e-8);
  }
  FexSetString(t, "C32", std::string(40, 'x'));
  EXPECT_EQ(FexGetString(t, "C32"), std::string(32, 'x'));
  FexSetString(t, "C32", "abc");
  EXPECT_EQ(FexGetString(t, "C32"), "abc" + std::string(29, ' '));
  FexSetInteger(t, "C3", 12345);  // only the first characters fit a short C field
  EXPECT_EQ(FexGetString(t, "C3"), "000");
  FexSetString(t, "B", "yz");
  EXPECT_EQ(FexGetString(t, "B"), "y");
}

TEST(FexValues, ErrorsCarryTheirMessages) {
  Table tb;
  TFEX& t = tb.t;
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexSetFloat(t, "F154", 123456789012.5L); }),
            "O Tamanho do campo F154 na tabela VALS é insufuciente!"_cp);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexSetString(t, "NOPE", "x"); }),
            "O campo NOPE não está definido para a tabela VALS!"_cp);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexSetInteger(t, "NOPE", 1); }),
            "O campo NOPE não está definido para a tabela VALS!"_cp);
  const std::string esta = "O campo NOPE não esta definido para a tabela VALS!"_cp;
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexSetFloat(t, "NOPE", 1); }), esta);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexGetString(t, "NOPE"); }), esta);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexGetInteger(t, "NOPE"); }), esta);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexGetDate(t, "NOPE"); }), esta);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexGetFloat(t, "NOPE"); }), esta);
  // A freshly appended record is blank: numbers do not read from it.
  EXPECT_EQ(FexGetString(t, "C32"), std::string(32, ' '));
  EXPECT_THROW(FexGetInteger(t, "I"), EConvertError);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexGetFloat(t, "F82"); }),
            "O campo F82 da tabela VALS contém um valor não válido!"_cp);
  const std::string limits = "Tentativa de posicional o arquivo [" + (tb.dir / "V.FEX") +
                             "] for de seus limites!";
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexRead(t, 0); }), limits);
  EXPECT_EQ(MessageOf<EFEXError>([&] { FexPost(t, -3); }), limits);
  EXPECT_EQ(MessageOf<EInOutError>([&] { FexRead(t, 5); }), "Read beyond end of file");
}

TEST(FexRecords, AppendPostReadInAnyOrder) {
  TempDir dir;
  const std::string path = dir / "R.FEX";
  TFEX t;
  ASSERT_TRUE(FexCreate(t, path, "R", "RR"));
  FexAddField(t, "N", fxInteger, 11, 0, 0);
  FexAddField(t, "S", fxChar, 4, 0, 0);
  for (int i = 1; i <= 5; ++i) {
    const int32_t n = FexAppend(t);
    ASSERT_EQ(n, i);
    if (i == 3) continue;  // appended, never posted: stays blank
    FexSetInteger(t, "N", i * 10);
    FexSetString(t, "S", "r" + std::to_string(i));
    FexPost(t, n);
  }
  FexRead(t, 2);  // reading between writes
  EXPECT_EQ(FexGetInteger(t, "N"), 20);
  FexSetString(t, "S", "two");
  FexPost(t, 2);  // rewriting an earlier record
  const int32_t six = FexAppend(t);
  FexRead(t, six);  // an appended record reads back blank
  EXPECT_EQ(FexGetString(t, "S"), "    ");
  FexClose(t);

  const std::string b = ReadFileBytes(path);
  ASSERT_EQ(b.size(), 4410u + 6 * 15);
  EXPECT_EQ(b.substr(4410, 15), "00000000010r1  ");
  EXPECT_EQ(b.substr(4410 + 15, 15), "00000000020two ");
  EXPECT_EQ(b.substr(4410 + 30, 15), std::string(15, ' '));
  EXPECT_EQ(b.substr(4410 + 75, 15), std::string(15, ' '));
  EXPECT_EQ(U32At(b, 42), 6u);
  EXPECT_EQ(U32At(b, 38), 1u);

  ASSERT_TRUE(FexOpen(t, path));
  EXPECT_EQ(FexRecordCount(t), 6);
  FexRead(t, 5);
  EXPECT_EQ(FexGetInteger(t, "N"), 50);
  FexRead(t, 1);
  EXPECT_EQ(FexGetString(t, "S"), "r1  ");
  FexClose(t);
  EXPECT_EQ(ReadFileBytes(path), b);  // closing a read table rewrites the same header
}

TEST(FexRecords, FilesAreFoundWithoutRegardToCase) {
  TempDir dir;
  TFEX t;
  ASSERT_TRUE(FexCreate(t, dir / "MixedCase.FEX", "M", "MM"));
  FexClose(t);
  EXPECT_TRUE(IsFexFile(dir / "MIXEDCASE.fex"));
  ASSERT_TRUE(FexOpen(t, dir / "mixedcase.FEX"));
  FexClose(t);
  WriteFileBytes(dir / "SHORT.FEX", "QFE");
  WriteFileBytes(dir / "OTHER.FEX", "QFEy and more");
  EXPECT_FALSE(IsFexFile(dir / "SHORT.FEX"));
  EXPECT_FALSE(IsFexFile(dir / "OTHER.FEX"));
  EXPECT_FALSE(IsFexFile(dir / "NONE.FEX"));
}

// A header from a device is taken only when its counts add up; none of these
// may crash, allocate what the header claims, or open.
TEST(FexHostile, HeadersThatLieAreRefused) {
  TempDir dir;
  const std::string good = dir / "GOOD.FEX";
  {
    TFEX t;
    ASSERT_TRUE(FexCreate(t, good, "G", "GG"));
    FexAddField(t, "A", fxChar, 5, 0, 0);
    FexAddField(t, "B", fxInteger, 11, 0, 0);
    FexPost(t, FexAppend(t));
    FexClose(t);
  }
  const std::string base = ReadFileBytes(good);
  auto put32 = [](std::string b, size_t off, int32_t v) {
    std::memcpy(b.data() + off, &v, 4);
    return b;
  };
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"truncated header", base.substr(0, 4000)},
      {"field count over 250", put32(base, 310, 251)},
      {"negative field count", put32(base, 310, -1)},
      {"negative record count", put32(base, 42, -5)},
      {"record size of 2 GB", put32(base, 46, INT32_MAX)},
      {"record size not the sum", put32(base, 46, 15)},
      {"negative record size", put32(base, 46, -16)},
      {"reference count over 128", put32(base, 50, 129)},
      {"field offset lies", put32(base, 330 + 12, 9)},
      {"records without fields", put32(put32(put32(base, 310, 0), 46, 0), 42, 1000000000)},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / "BAD.FEX", c.bytes);
    TFEX t;
    EXPECT_FALSE(FexOpen(t, dir / "BAD.FEX")) << c.what;
    EXPECT_EQ(t.file, nullptr) << c.what;
  }
  // A count larger than the records present shows when the missing one is read.
  WriteFileBytes(dir / "MORE.FEX", put32(base, 42, 3));
  TFEX t;
  ASSERT_TRUE(FexOpen(t, dir / "MORE.FEX"));
  FexRead(t, 1);
  EXPECT_THROW(FexRead(t, 2), EInOutError);
  FexClose(t);
}

TEST(FexHostile, FuzzRegressionsReplay) {
  const std::filesystem::path dir =
      std::filesystem::path(VERUVAV_SOURCE_DIR) / "tests/fuzz/regressions/fex_read";
  int replayed = 0;
  if (std::filesystem::exists(dir)) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      if (e.path().filename().string()[0] == '.') continue;  // .gitkeep
      const std::string bytes = ReadFileBytes(e.path().string());
      EXPECT_EQ(fuzz_targets::FexRead(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0)
          << e.path();
      ++replayed;
    }
  }
  // The entry point itself must hold for an empty and a minimal table.
  EXPECT_EQ(fuzz_targets::FexRead(nullptr, 0), 0);
  std::string header(4410, '\0');
  std::memcpy(header.data(), "QFEXAAT", 7);
  EXPECT_EQ(fuzz_targets::FexRead(reinterpret_cast<const uint8_t*>(header.data()), header.size()), 0);
  RecordProperty("replayed", replayed);
}

}  // namespace
