// Packages: the FEX tables of one directory as line-oriented package text,
// compressed into a ".zfx" file, and split back into tables.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "qsmlib/compress.h"
#include "qsmlib/fex.h"

struct PackageWriter {
  std::string FileName;
  std::FILE* file = nullptr;
  std::string Line;  // reused for every line written
  // When set, the lines go straight into a package container instead of a
  // text file (BeginPackedText).
  std::shared_ptr<TCompressWriter> Packed;
};

bool BuildPackage(const std::string& pathSpec, const std::string& baseName, bool deleteSources,
                  bool withObjectDefs);
bool SplitPackage(const std::string& packageFile, const std::string& destPath, bool clearDest);

bool BeginPackageText(PackageWriter& w, const std::string& fileName);
bool WriteTableSection(PackageWriter& w, const std::string& fexFile, TFEX* objDefs,
                       bool withObjectDefs);
bool WriteFileSection(PackageWriter& w, const std::string& fileName);
void EndPackageText(PackageWriter& w);
// As BeginPackageText, but the text is compressed into the package file as it
// is written, byte for byte the package CompressFile would make of the text
// file. EndPackageText then completes the package; it raises EInOutError,
// leaving no package, when that fails.
bool BeginPackedText(PackageWriter& w, const std::string& packageFile, int level);

bool BeginTableFromText(TFEX& t, const std::string& dir, const std::string& content);
void DefineFieldsFromText(TFEX& t, const std::string& content);
void AddRecordFromText(TFEX& t, const std::string& content);

std::string EscapeRecord(const std::string& bytes);
std::string EscapeFileData(const std::string& bytes);
// Raises EFEXError for a backslash that ends the text with nothing to escape.
std::string UnescapeText(const std::string& text);

// Longest line a package text can hold: a record of the largest possible
// size with every byte escaped. Longer lines are refused before they are read.
constexpr size_t kMaxPackageLine = 3 + 2 * size_t(kFexMaxFields) * 0xFFFF + 2;
