// MD5 of data and of files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "qsmlib/md5.h"
#include "support/testutil.h"

using testutil::TempDir;

namespace {

std::string Hex(const uint8_t d[16]) {
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < 16; ++i) {
    s += hex[d[i] >> 4];
    s += hex[d[i] & 15];
  }
  return s;
}

// One update per piece: piece boundaries must not change the digest.
std::string Digest(const std::string& data, size_t piece) {
  TMD5Context ctx;
  MD5Init(ctx);
  for (size_t i = 0; i < data.size(); i += piece)
    MD5Update(ctx, data.data() + i, std::min(piece, data.size() - i));
  uint8_t d[16];
  MD5Final(ctx, d);
  return Hex(d);
}

std::string Pattern(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>((i * 7 + 3) % 256);
  return s;
}

}  // namespace

TEST(MD5, KnownVectorsInAnyPieces) {
  const std::pair<std::string, const char*> vectors[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {Pattern(1025), "ee57403eb3428e1a0be41fad4a70b174"},
  };
  for (const auto& [data, md5] : vectors)
    for (size_t piece : {size_t{1}, size_t{3}, size_t{55}, size_t{64}, size_t{65}, size_t{4096}})
      EXPECT_EQ(Digest(data, piece), md5) << data.size() << " bytes in pieces of " << piece;
}

TEST(MD5, FinalZeroesTheContext) {
  TMD5Context ctx;
  MD5Init(ctx);
  MD5Update(ctx, "abc", 3);
  uint8_t d[16];
  MD5Final(ctx, d);
  const auto* bytes = reinterpret_cast<const uint8_t*>(&ctx);
  EXPECT_TRUE(std::all_of(bytes, bytes + sizeof ctx, [](uint8_t b) { return b == 0; }));
}

TEST(MD5, FilesAcrossBlockBoundaries) {
  TempDir t;
  const std::pair<size_t, const char*> files[] = {
      {0, "d41d8cd98f00b204e9800998ecf8427e"},    {1023, "6f8c42978a120e01a68357829a2d0d77"},
      {1024, "a66351d9c8f941b70a02eaf9c41e69c3"}, {1025, "ee57403eb3428e1a0be41fad4a70b174"},
      {2048, "23398bb02c75378fb86bf1b62d860dee"}, {5000, "33d9712cc5eb0bf18a41ed54a908e412"},
  };
  for (const auto& [size, md5] : files) {
    const std::string name = t / ("F" + std::to_string(size) + ".DSG");
    testutil::WriteFileBytes(name, Pattern(size));
    EXPECT_EQ(MD5OfFile(name), md5) << size;
  }
  EXPECT_EQ(MD5OfFile(t / "f1024.dsg"), "a66351d9c8f941b70a02eaf9c41e69c3");  // any case
}

TEST(MD5, NoDigestForWhatCannotBeRead) {
  TempDir t;
  const std::string zeros(32, '0');
  EXPECT_EQ(MD5OfFile(t / "missing.dsg"), zeros);
  EXPECT_EQ(MD5OfFile(""), zeros);
  EXPECT_EQ(MD5OfFile(t.path()), zeros);
  // A pipe with no writer would block a plain open for ever.
  ASSERT_EQ(::mkfifo((t / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(MD5OfFile(t / "fifo"), zeros);
  if (::geteuid() != 0) {  // root reads anything
    testutil::WriteFileBytes(t / "locked.dsg", "abc");
    ::chmod((t / "locked.dsg").c_str(), 0);
    EXPECT_EQ(MD5OfFile(t / "locked.dsg"), zeros);
  }
}
