#include "qsmlib/compress.h"
#include "qsmlib/crc32_fast.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "support/testutil.h"

namespace {

using testutil::FileIsThere;
using testutil::ReadFileBytes;
using testutil::TempDir;
using testutil::WriteFileBytes;

// The container written the way the format describes it, with its 32 KB
// reads and 32 KB output buffers and Z_FINISH given with the last read.
std::string ReferenceContainer(const std::string& input, int level) {
  std::string out = "FX\x08";
  z_stream zs{};
  deflateInit(&zs, level);
  const size_t chunk = 32768;
  size_t pos = 0;
  std::string buf(chunk, '\0');
  for (;;) {
    const size_t n = std::min(chunk, input.size() - pos);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data() + pos));
    zs.avail_in = uInt(n);
    pos += n;
    const int flush = pos == input.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      zs.next_out = reinterpret_cast<Bytef*>(buf.data());
      zs.avail_out = uInt(chunk);
      deflate(&zs, flush);
      out.append(buf.data(), chunk - zs.avail_out);
    } while (zs.avail_out == 0);
    if (flush == Z_FINISH) break;
  }
  deflateEnd(&zs);
  const uint32_t crc = Crc32Buffer(0, input.data(), input.size());
  const uint32_t len = uint32_t(input.size());
  out.append(reinterpret_cast<const char*>(&crc), 4);
  out.append(reinterpret_cast<const char*>(&len), 4);
  return out + "EOZ";
}

// Text with the repetition of package text, and some noise so that deflate
// has to choose.
std::string SampleInput(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(size);
  while (s.size() < size) {
    if (rng() % 4 == 0)
      s.push_back(char(rng() % 256));
    else
      s += "TM4CLIENTE " + std::to_string(rng() % 1000) + "\r\n";
  }
  s.resize(size);
  return s;
}

TEST(Crc32, StandardValues) {
  EXPECT_EQ(Crc32Buffer(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32Buffer(0x12345678u, nullptr, 10), 0u);
  EXPECT_EQ(Crc32Buffer(0, "", 0), 0u);
  // Chaining over pieces gives the CRC of the whole.
  EXPECT_EQ(Crc32Buffer(Crc32Buffer(0, "1234", 4), "56789", 5), 0xCBF43926u);
}

TEST(Crc32, FastRoutineAgreesWithTheTableWalk) {
  const std::string data = SampleInput(1 << 20, 5);
  EXPECT_EQ(Crc32Fast(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32Fast(7, nullptr, 5), 0u);
  // Every length around the 16- and 64-byte folding steps, at every alignment.
  for (size_t offset = 0; offset < 16; ++offset)
    for (size_t len = 0; len < 300; ++len)
      ASSERT_EQ(Crc32Fast(0x1234u, data.data() + offset, len),
                Crc32Buffer(0x1234u, data.data() + offset, len))
          << "offset " << offset << " length " << len;
  const uint32_t whole = Crc32Buffer(0, data.data(), data.size());
  EXPECT_EQ(Crc32Fast(0, data.data(), data.size()), whole);
  EXPECT_EQ(Crc32Fast(Crc32Fast(0, data.data(), 100001), data.data() + 100001, data.size() - 100001),
            whole);
}

TEST(Compress, OutputIsTheFormatsByteForByte) {
  TempDir dir;
  const size_t sizes[] = {0, 1, 32767, 32768, 32769, 65536, 200000};
  for (size_t size : sizes) {
    const std::string input = SampleInput(size, unsigned(size));
    WriteFileBytes(dir / "in", input);
    for (int level : {0, 1, 6, 9}) {
      ASSERT_TRUE(CompressFile(dir / "in", dir / "out", level));
      EXPECT_EQ(ReadFileBytes(dir / "out"), ReferenceContainer(input, level))
          << "size " << size << " level " << level;
    }
    // At level 6 the stream does not depend on how the input was handed
    // over: one call with everything gives the same bytes.
    std::string oneShot(compressBound(uLong(size)) + 16, '\0');
    uLongf n = uLongf(oneShot.size());
    compress2(reinterpret_cast<Bytef*>(oneShot.data()), &n,
              reinterpret_cast<const Bytef*>(input.data()), uLong(size), 6);
    ASSERT_TRUE(CompressFile(dir / "in", dir / "out", 6));
    const std::string ours = ReadFileBytes(dir / "out");
    EXPECT_EQ(ours.substr(3, ours.size() - 14), oneShot.substr(0, n)) << "size " << size;

    ASSERT_TRUE(DecompressFile(dir / "out", dir / "back"));
    EXPECT_EQ(ReadFileBytes(dir / "back"), input);
    EXPECT_FALSE(FileIsThere(dir / "back.part"));
  }
}

TEST(Compress, PiecewiseWriterMatchesTheFileCompressor) {
  TempDir dir;
  for (size_t size : {size_t(0), size_t(32768), size_t(100003)}) {
    const std::string input = SampleInput(size, 11);
    WriteFileBytes(dir / "in", input);
    ASSERT_TRUE(CompressFile(dir / "in", dir / "whole", 0));
    TCompressWriter w;
    ASSERT_TRUE(CompressBegin(w, dir / "pieces", 0));
    for (size_t pos = 0, step = 1; pos < size; pos += step, step = step * 7 % 40000 + 1)
      ASSERT_TRUE(CompressWrite(w, input.data() + pos, std::min(step, size - pos)));
    ASSERT_TRUE(CompressEnd(w));
    EXPECT_EQ(ReadFileBytes(dir / "pieces"), ReadFileBytes(dir / "whole")) << size;
  }
  {
    TCompressWriter dropped;  // never ended: nothing is left
    ASSERT_TRUE(CompressBegin(dropped, dir / "dropped", 6));
    ASSERT_TRUE(CompressWrite(dropped, "abc", 3));
  }
  EXPECT_FALSE(FileIsThere(dir / "dropped"));
}

TEST(Compress, EmptyInputGivesTheBareContainer) {
  TempDir dir;
  WriteFileBytes(dir / "empty", "");
  ASSERT_TRUE(CompressFile(dir / "empty", dir / "e.zfx", 6));
  const std::string c = ReadFileBytes(dir / "e.zfx");
  EXPECT_EQ(c.substr(0, 3), "FX\x08");
  EXPECT_EQ(c.substr(c.size() - 11), std::string("\0\0\0\0\0\0\0\0EOZ", 11));
  WriteFileBytes(dir / "back", "old content");
  ASSERT_TRUE(DecompressFile(dir / "e.zfx", dir / "back"));
  EXPECT_TRUE(FileIsThere(dir / "back"));
  EXPECT_EQ(ReadFileBytes(dir / "back"), "");
}

TEST(Decompress, DamagedOrTruncatedContainersAreRefused) {
  TempDir dir;
  const std::string input = SampleInput(300000, 7);
  WriteFileBytes(dir / "in", input);
  ASSERT_TRUE(CompressFile(dir / "in", dir / "good", 6));
  const std::string good = ReadFileBytes(dir / "good");
  const size_t n = good.size();
  auto flip = [&](size_t at) {
    std::string b = good;
    b[at] = char(b[at] ^ 0x55);
    return b;
  };
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"not compressed at all", input.substr(0, 1000)},
      {"signature only", "FX\x08"},
      {"wrong signature byte", flip(2)},
      {"stream cut in the middle", good.substr(0, n / 2)},
      {"trailer missing", good.substr(0, n - 11)},
      {"end mark missing", good.substr(0, n - 3)},
      {"end mark cut", good.substr(0, n - 1)},
      {"byte of the stream changed", flip(n / 3)},
      {"CRC changed", flip(n - 11)},
      {"length changed", flip(n - 6)},
      {"end mark changed", flip(n - 1)},
      {"bytes after the end mark", good + "X"},
      {"empty file", ""},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir / "bad.zfx", c.bytes);
    WriteFileBytes(dir / "out", "left from before");
    EXPECT_FALSE(DecompressFile(dir / "bad.zfx", dir / "out")) << c.what;
    EXPECT_FALSE(FileIsThere(dir / "out")) << c.what;
    EXPECT_FALSE(FileIsThere(dir / "out.part")) << c.what;
  }
  EXPECT_FALSE(DecompressFile(dir / "missing.zfx", dir / "out"));
  ASSERT_TRUE(DecompressFile(dir / "GOOD", dir / "out"));  // found without regard to case
  EXPECT_EQ(ReadFileBytes(dir / "out"), input);
}

TEST(Decompress, InspectorSeesAllOutputAndMayRefuseIt) {
  TempDir dir;
  const std::string input = SampleInput(500000, 3);
  WriteFileBytes(dir / "in", input);
  ASSERT_TRUE(CompressFile(dir / "in", dir / "c", 6));
  std::string seen;
  ASSERT_TRUE(DecompressFile(dir / "c", dir / "out", [&](const char* p, size_t n) {
    seen.append(p, n);
    return true;
  }));
  EXPECT_EQ(seen, input);
  size_t total = 0;
  EXPECT_FALSE(DecompressFile(dir / "c", dir / "out", [&](const char*, size_t n) {
    total += n;
    return total < 200000;
  }));
  EXPECT_FALSE(FileIsThere(dir / "out"));
}

}  // namespace
