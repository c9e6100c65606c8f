#include "qsmlib/package.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "fuzz/fuzz_targets.h"
#include "qsmlib/compress.h"
#include "qsmlib/cp1252.h"
#include "qsmlib/platform/datetime.h"
#include "support/testutil.h"

namespace {

using testutil::FileIsThere;
using testutil::MessageOf;
using testutil::ReadFileBytes;
using testutil::TempDir;
using testutil::WriteFileBytes;

std::string PackageText(const std::string& package) {
  const std::string out = package + ".txt";
  if (!DecompressFile(package, out)) return "(not a package)";
  std::string text = ReadFileBytes(out);
  std::filesystem::remove(out);
  return text;
}

std::string Closing() {
  std::string s;
  for (int i = 0; i < 10; ++i) s += "zz9\r\n";
  return s;
}

void MakeExemplo(const std::string& path) {
  TFEX t;
  ASSERT_TRUE(FexCreate(t, path, "EXEMPLO", "EX"));
  FexAddField(t, "CODIGO", fxChar, 5, 0, 0);
  FexAddField(t, "VALOR", fxFloat, 6, 2, 0);
  FexAddField(t, "DATA", fxTime, 10, 0, 0);
  const int32_t n = FexAppend(t);
  FexSetString(t, "CODIGO", "AB");
  FexSetFloat(t, "VALOR", 12.5);
  FexSetDate(t, "DATA", EncodeDateTime(2024, 1, 1));
  FexPost(t, n);
  FexClose(t);
}

// A table with one C field per record given.
void MakeRecords(const std::string& path, const std::string& name, const std::string& id,
                 int size, const std::vector<std::string>& records) {
  TFEX t;
  ASSERT_TRUE(FexCreate(t, path, name, id));
  FexAddField(t, "REC", fxChar, size, 0, 0);
  for (const std::string& r : records) {
    const int32_t n = FexAppend(t);
    t.RecordBuffer = r;
    FexPost(t, n);
  }
  FexClose(t);
}

TEST(PackageBuild, ExampleTableComesOutLineForLine) {
  TempDir dir;
  MakeExemplo(dir / "EXEMPLO.FEX");
  ASSERT_TRUE(BuildPackage(dir / "*.FEX", "pacote", false, false));
  EXPECT_EQ(PackageText(dir / "pacote.zfx"),
            "!!0\r\n"
            "EX1EXEMPLO:EX:1:\r\n"
            "EX20:\r\n"
            "EX3CODIGO:C:5:0:0;VALOR:F:7:2:0;DATA:T:11:0:0;\r\n"
            "EX4AB   000125001704067200\r\n"
            "EX5\r\n" + Closing());
  EXPECT_TRUE(FileIsThere(dir / "EXEMPLO.FEX"));  // sources stay unless asked
  EXPECT_FALSE(FileIsThere(dir / "pacote.$$$"));
}

// The package is written as the text is made; it must be the very package
// that compressing the text file would give.
TEST(PackageBuild, PackageIsTheCompressedTextByteForByte) {
  TempDir dir;
  std::vector<std::string> records;
  for (int i = 0; i < 3000; ++i) records.push_back(std::string(40, char('a' + i % 26)) + "\n\\" + std::to_string(i % 10));
  MakeRecords(dir / "BIG.FEX", "BIG", "BG", 43, records);
  MakeExemplo(dir / "EXEMPLO.FEX");
  PackageWriter w;
  ASSERT_TRUE(BeginPackageText(w, dir / "text.$$$"));
  WriteTableSection(w, dir / "BIG.FEX", nullptr, false);
  WriteTableSection(w, dir / "EXEMPLO.FEX", nullptr, false);
  EndPackageText(w);
  ASSERT_GT(ReadFileBytes(dir / "text.$$$").size(), 100000u);
  ASSERT_TRUE(CompressFile(dir / "text.$$$", dir / "expected.zfx", 6));
  ASSERT_TRUE(BuildPackage(dir / "*.FEX", "built", false, false));
  EXPECT_EQ(ReadFileBytes(dir / "built.zfx"), ReadFileBytes(dir / "expected.zfx"));
}

TEST(PackageBuild, EmptyDirectoryAndEmptyTable) {
  TempDir dir;
  ASSERT_TRUE(BuildPackage(dir / "*.FEX", "vazio", false, false));
  EXPECT_EQ(PackageText(dir / "vazio.zfx"), "!!0\r\n" + Closing());

  TFEX t;
  ASSERT_TRUE(FexCreate(t, dir / "SEM.FEX", "SEMREG", "SR"));
  FexAddField(t, "A", fxInteger, 11, 0, 3);
  FexClose(t);
  ASSERT_TRUE(BuildPackage(dir / "x", "p", true, false));
  EXPECT_EQ(PackageText(dir / "p.zfx"),
            "!!0\r\nSR1SEMREG:SR:0:\r\nSR20:\r\nSR3A:I:11:0:3;\r\nSR5\r\n" + Closing());
  EXPECT_FALSE(FileIsThere(dir / "SEM.FEX"));  // DeleteSources
}

TEST(PackageBuild, ReferenceListAndFlagsAreCarried) {
  TempDir dir;
  TFEX t;
  ASSERT_TRUE(FexCreate(t, dir / "REF.FEX", "REF", "RF"));
  FexAddField(t, "CODIGO", fxChar, 2, 0, 0);
  FexAddField(t, "NOME", fxChar, 2, 0, 0);
  const uint16_t refs[] = {1, 252, 253, 254, 255, 0};
  const int32_t count = 6;
  std::memcpy(t.header + kFexOffRefCount, &count, 4);
  std::memcpy(t.header + kFexOffRefList, refs, sizeof refs);
  const uint32_t flags = 0x80000006u;  // bits this system never sets itself
  std::memcpy(t.header + kFexOffFlags, &flags, 4);
  FexClose(t);
  ASSERT_TRUE(BuildPackage(dir / "*.FEX", "r", false, false));
  EXPECT_EQ(PackageText(dir / "r.zfx"),
            "!!0\r\nRF1REF:RF:2147483654:\r\nRF26:NOME:I:U:P:*:CODIGO:\r\n"
            "RF3CODIGO:C:2:0:0;NOME:C:2:0:0;\r\nRF5\r\n" + Closing());
}

TEST(PackageBuild, ObjectDefinitionsListEveryField) {
  TempDir dir;
  TFEX t;
  ASSERT_TRUE(FexCreate(t, dir / "A.FEX", "TABA", "TA"));
  for (const char* f : {"A1", "A2", "A3"}) FexAddField(t, f, fxChar, 2, 0, 0);
  FexClose(t);
  ASSERT_TRUE(FexCreate(t, dir / "B.FEX", "TABB", "TB"));
  FexAddField(t, "SEVENCH", fxFloat, 9, 3, 5);
  for (const char* f : {"B2", "B3", "B4"}) FexAddField(t, f, fxInteger, 11, 0, 0);
  FexClose(t);
  ASSERT_TRUE(BuildPackage(dir / "*.FEX", "od", false, true));
  EXPECT_FALSE(FileIsThere(dir / "TRVOBJDEF.$$$"));

  TempDir out;
  ASSERT_TRUE(SplitPackage(dir / "od.zfx", out / "x", false));
  ASSERT_TRUE(FexOpen(t, out / "TRVOD.FEX"));
  EXPECT_EQ(FexRecordSize(t), 72);
  ASSERT_EQ(FexRecordCount(t), 7);
  FexRead(t, 4);
  EXPECT_EQ(FexGetString(t, "TAB"), "TABB" + std::string(28, ' '));
  EXPECT_EQ(FexGetString(t, "FIELD"), "SEVENC");
  EXPECT_EQ(FexGetString(t, "TYPE"), "F");
  EXPECT_EQ(FexGetInteger(t, "SIZE"), 10);
  EXPECT_EQ(FexGetInteger(t, "PREC"), 3);
  EXPECT_EQ(FexGetInteger(t, "FLAGS"), 5);
  FexClose(t);
}

TEST(PackageRoundTrip, RecordsWithLineEndsNulsAndBackslashesSurvive) {
  TempDir dir;
  std::string awkward = std::string("a\r\nb\0c\\d", 9) + "\x1a\x1c\x1e\x1f\xff\xe7" + "\\\\";
  awkward.resize(20, '.');
  const std::vector<std::string> records = {awkward, std::string(20, '\0'),
                                            std::string(20, '\\'), std::string(20, ' ')};
  MakeRecords(dir / "AWK.FEX", "AWK", "AW", 20, records);
  MakeExemplo(dir / "EXEMPLO.FEX");
  TFEX t;
  ASSERT_TRUE(FexCreate(t, dir / "F.FEX", "FLOATS", "FL"));
  FexAddField(t, "V", fxFloat, 15, 4, 0);  // storage 16, kept through the package
  FexClose(t);
  const std::string before = ReadFileBytes(dir / "AWK.FEX");
  ASSERT_TRUE(BuildPackage(dir / "*.FEX", "rt", false, false));
  EXPECT_EQ(PackageText(dir / "rt.zfx").find('\n'), 4u);  // only line ends end lines

  TempDir out;
  ASSERT_TRUE(SplitPackage(dir / "rt.zfx", out / "", false));
  EXPECT_EQ(ReadFileBytes(out / "AWK.FEX"), before);
  EXPECT_EQ(ReadFileBytes(out / "EXEMPLO.FEX"), ReadFileBytes(dir / "EXEMPLO.FEX"));
  ASSERT_TRUE(FexOpen(t, out / "FLOATS.FEX"));
  EXPECT_EQ(FexRecordSize(t), 16);
  FexClose(t);
  EXPECT_FALSE(FileIsThere(out / "rt.$M$"));
}

TEST(PackageText, EscapeRulesBothWays) {
  struct Case {
    std::string bytes, record, file;
  } cases[] = {
      {std::string("\0", 1), "\\@", "\\@"},
      {"\n", "\\J", "\\J"},
      {"\r", "\\M", "\\M"},
      {"\x1a", "\\Z", "\x1a"},
      {"\x1d", "\\]", "\x1d"},
      {"\x1e\x1f", "\x1e\x1f", "\x1e\x1f"},
      {"\\", "\\\\", "\\\\"},
      {"plain \xe9", "plain \xe9", "plain \xe9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeRecord(c.bytes), c.record);
    EXPECT_EQ(EscapeFileData(c.bytes), c.file);
    EXPECT_EQ(UnescapeText(c.record), c.bytes);
    EXPECT_EQ(UnescapeText(c.file), c.bytes);
  }
  // 0x1C would escape to the same pair as a backslash: it stays as it is and
  // comes back unchanged.
  EXPECT_EQ(EscapeRecord("a\x1c" "b"), "a\x1c" "b");
  EXPECT_EQ(UnescapeText("a\x1c" "b"), "a\x1c" "b");
  EXPECT_EQ(UnescapeText("\\\\"), "\\");
  EXPECT_THROW(UnescapeText("abc\\"), EFEXError);
  // Every byte at every place of a word gets the escape a byte-wise rule gives.
  for (int b = 0; b < 256; ++b) {
    for (size_t at = 0; at < 17; ++at) {
      std::string s(17, '\x80');
      s[at] = char(b);
      const std::string e = b == 0x1c ? std::string(1, char(b))
                             : b < 30 ? std::string("\\") + char(b + 64)
                             : b == '\\' ? "\\\\" : std::string(1, char(b));
      EXPECT_EQ(EscapeRecord(s), s.substr(0, at) + e + s.substr(at + 1)) << b << " at " << at;
    }
  }
}

TEST(PackageText, NonTableFilesBecomeFileSections) {
  TempDir dir;
  std::string data(100, 'x');
  data[0] = '\n';
  data[99] = '\\';
  WriteFileBytes(dir / "DADOS.FEX", data);
  ASSERT_TRUE(BuildPackage(dir / "*.FEX", "f", false, false));
  EXPECT_EQ(PackageText(dir / "f.zfx"), "!!0\r\n@@1DADOS.FEX:\r\n@@2\\J" + std::string(79, 'x') +
                                            "\r\n@@2" + std::string(19, 'x') + "\\\\\r\n@@9\r\n" +
                                            Closing());
  // Splitting takes the file start for a table without a file ID.
  TempDir out;
  EXPECT_EQ(MessageOf<EFEXError>([&] { SplitPackage(dir / "f.zfx", out / "", false); }),
            "FileID []: Invalido!");
  EXPECT_FALSE(FileIsThere(out / "f.$M$"));
}

// Package text as a device might send it, put into a sound container.
std::string PackOf(const TempDir& dir, const std::string& name, const std::string& text) {
  WriteFileBytes(dir / (name + ".txt"), text);
  EXPECT_TRUE(CompressFile(dir / (name + ".txt"), dir / name, 6));
  return dir / name;
}

TEST(PackageSplit, BadLinesAreRefusedNamingTheLine) {
  TempDir dir;
  const std::string head = "!!0\r\nAB1TAB:AB:1:\r\nAB20:\r\nAB3X:C:3:0:0;\r\n";
  struct Case {
    const char* what;
    std::string text;
    std::string message;  // after "Pacote [path], linha "
  } cases[] = {
      {"record too short", head + "AB4ab\r\nAB5\r\n", "5: registro com 2 bytes, a tabela [TAB] espera 3"},
      {"record too long", head + "AB4abc\\@\r\nAB5\r\n", "5: registro com 4 bytes, a tabela [TAB] espera 3"},
      {"lone backslash at the end", head + "AB4ab\\\r\nAB5\r\n",
       "5: barra invertida sem caractere no fim do registro"},
      {"section without end line", head + "AB4abc\r\n", "5: seção de tabela [TAB] sem a linha de fim"_cp},
      {"closed by the closing lines", head + "zz9\r\n", "5: seção de tabela [TAB] sem a linha de fim"_cp},
      {"next table before the end", head + "CD1OUT:CD:0:\r\n", "5: seção de tabela sem a linha de fim"_cp},
      {"record outside a table", "!!0\r\nAB4abc\r\n", "2: registro fora de uma tabela"},
      {"fields outside a table", "!!0\r\nAB3X:C:3:0:0;\r\n", "2: definição de campos fora de uma tabela"_cp},
      {"end outside a table", "!!0\r\nAB5\r\n", "2: fim de tabela sem tabela aberta"},
      {"field with four parts", "!!0\r\nAB1TAB:AB:0:\r\nAB3X:C:3:0;\r\n",
       "3: definição de campo sem as cinco partes [X:C:3:0]"_cp},
      {"empty field definition", "!!0\r\nAB1TAB:AB:0:\r\nAB3X:C:3:0:0;;Y:C:1:0:0;\r\n",
       "3: definição de campo sem as cinco partes []"_cp},
      {"size beyond 16 bits", "!!0\r\nAB1TAB:AB:0:\r\nAB3X:C:65536:0:0;\r\n",
       "3: definição de campo fora dos limites [X:C:65536:0:0]"_cp},
      {"negative size", "!!0\r\nAB1TAB:AB:0:\r\nAB3X:C:-1:0:0;\r\n",
       "3: definição de campo fora dos limites [X:C:-1:0:0]"_cp},
      {"name leading out", "!!0\r\nAB1../../evil:AB:0:\r\n", "2: nome de tabela inválido [../../evil]"_cp},
      {"empty table name", "!!0\r\nAB1:AB:0:\r\n", "2: nome de tabela inválido []"_cp},
  };
  for (const Case& c : cases) {
    const std::string package = PackOf(dir, "bad.zfx", c.text);
    TempDir out;
    EXPECT_EQ(MessageOf<EFEXError>([&] { SplitPackage(package, out / "", false); }),
              "Pacote [" + package + "], linha " + c.message)
        << c.what;
    EXPECT_FALSE(FileIsThere(out / "bad.$M$")) << c.what;
    EXPECT_FALSE(FileIsThere(out / "TAB.FEX")) << c.what;  // no half-built table
  }
  EXPECT_FALSE(FileIsThere(dir.path() + "/../evil.FEX"));
  // A number that is not one fails as a conversion.
  const std::string package = PackOf(dir, "num.zfx", "!!0\r\nAB1TAB:AB:0:\r\nAB3X:C:x:0:0;\r\n");
  TempDir out;
  EXPECT_THROW(SplitPackage(package, out / "", false), EConvertError);
}

TEST(PackageSplit, UnknownAndShortLinesAreSkipped) {
  TempDir dir;
  const std::string text =
      "!!0\r\n\r\nx\r\nAB\r\nAB1TAB:AB:1:\r\nAB20:\r\nAB7whatever\r\nAB3X:C:3:0:0;\r\n"
      "AB4abc\r\n##2junk\r\nAB4d\\Jf\r\nAB5\r\nzz9\r\nAB1NEVER:AB:0:\r\n";
  const std::string package = PackOf(dir, "ok", text);  // a name without "."
  TempDir out;
  ASSERT_TRUE(SplitPackage(package, out / "", false));
  EXPECT_FALSE(FileIsThere(out / ".$M$"));
  EXPECT_FALSE(FileIsThere(out / "NEVER.FEX"));  // reading stops at the first kind-9 line
  TFEX t;
  ASSERT_TRUE(FexOpen(t, out / "TAB.FEX"));
  ASSERT_EQ(FexRecordCount(t), 2);
  FexRead(t, 2);
  EXPECT_EQ(t.RecordBuffer, "d\nf");
  FexClose(t);
}

TEST(PackageSplit, DamagedAndForeignPackagesGiveFalse) {
  TempDir dir;
  MakeExemplo(dir / "EXEMPLO.FEX");
  ASSERT_TRUE(BuildPackage(dir / "*.FEX", "good", false, false));
  const std::string good = ReadFileBytes(dir / "good.zfx");
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"plain package text", "!!0\r\nzz9\r\n"},
      {"truncated", good.substr(0, good.size() - 20)},
      {"damaged", good.substr(0, 20) + "\x13" + good.substr(21)},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / "in.zfx", c.bytes);
    TempDir out;
    EXPECT_FALSE(SplitPackage(dir / "in.zfx", out / "", false)) << c.what;
    EXPECT_FALSE(FileIsThere(out / "EXEMPLO.FEX")) << c.what;
    EXPECT_FALSE(FileIsThere(out / "in.$M$")) << c.what;
  }
  TempDir out;
  EXPECT_FALSE(SplitPackage(dir / "missing.zfx", out / "", false));
}

TEST(PackageSplit, OverlongLineIsRefusedBeforeItIsRead) {
  TempDir dir;
  const std::string text = "!!0\r\nAB1TAB:AB:0:\r\nAB4" + std::string(kMaxPackageLine, 'a') + "\r\n";
  const std::string package = PackOf(dir, "long.zfx", text);
  TempDir out;
  EXPECT_FALSE(SplitPackage(package, out / "", false));
  EXPECT_FALSE(FileIsThere(out / "long.$M$"));
}

TEST(PackageSplit, FuzzRegressionsReplay) {
  const std::filesystem::path dir =
      std::filesystem::path(VERUVAV_SOURCE_DIR) / "tests/fuzz/regressions/package_split";
  int replayed = 0;
  if (std::filesystem::exists(dir)) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      if (e.path().filename().string()[0] == '.') continue;  // .gitkeep
      const std::string bytes = ReadFileBytes(e.path().string());
      EXPECT_EQ(fuzz_targets::PackageSplit(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0)
          << e.path();
      ++replayed;
    }
  }
  const std::string text = "\x01!!0\r\nAB1T:AB:0:\r\nAB3X:C:1:0:0;\r\nAB4z\r\nAB5\r\n";
  EXPECT_EQ(fuzz_targets::PackageSplit(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0);
  RecordProperty("replayed", replayed);
}

}  // namespace
