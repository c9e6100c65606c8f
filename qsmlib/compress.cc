#include "qsmlib/compress.h"

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <vector>

#include "qsmlib/crc32_fast.h"
#include "qsmlib/except.h"
#include "qsmlib/platform/fs.h"

namespace {

constexpr unsigned char kSignature[3] = {0x46, 0x58, 0x08};
constexpr unsigned char kEndMark[3] = {'E', 'O', 'Z'};
constexpr size_t kTrailerSize = 4 + 4 + 3;

// Compression keeps the 32 KB read and 32 KB output buffers of the format's
// writer: at level 0 zlib cuts its stored blocks by the space it is given, so
// other sizes would change the bytes. Deflate itself dominates the time.
constexpr size_t kDeflateIn = 32768;
constexpr size_t kDeflateOut = 32768;
// Inflate output does not depend on buffer sizes; larger reads than the
// writer's 256 bytes save calls.
constexpr size_t kInflateIn = 65536;
constexpr size_t kInflateOut = 131072;

// On packages of hundreds of megabytes a byte-wise CRC would cost as much
// as inflating them.
uint32_t Crc(uint32_t previous, const unsigned char* data, size_t n) {
  return Crc32Fast(previous, data, n);
}

struct FileCloser {
  std::FILE* f = nullptr;
  ~FileCloser() {
    if (f) std::fclose(f);
  }
  int Close() {
    const int rc = f ? std::fclose(f) : 0;
    f = nullptr;
    return rc;
  }
};

std::string ExistingOrGiven(const std::string& path) {
  const std::string found = fs_layer::FindFile(path);
  return found.empty() ? path : found;
}

std::FILE* OpenSource(const std::string& source) {
  const std::string path = fs_layer::FindFile(source);
  std::FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
  if (!f) throw EInOutError("Cannot open file " + source + ": " + std::strerror(errno));
  return f;
}

std::FILE* CreateDest(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw EInOutError("Cannot create file " + path + ": " + std::strerror(errno));
  return f;
}

size_t ReadSome(std::FILE* f, unsigned char* buf, size_t n, const std::string& name) {
  const size_t got = std::fread(buf, 1, n, f);
  if (got < n && std::ferror(f)) throw EInOutError("Read error in " + name);
  return got;
}

void PutLE32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t GetLE32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct InflateGuard {
  z_stream* zs;
  ~InflateGuard() { inflateEnd(zs); }
};

void RemovePath(const std::string& path) { std::remove(path.c_str()); }

}  // namespace


TCompressWriter::~TCompressWriter() {
  if (Stream) {
    deflateEnd(static_cast<z_stream*>(Stream));
    delete static_cast<z_stream*>(Stream);
  }
  if (File) {
    std::fclose(File);
    RemovePath(Path);
  }
}

namespace {

// Ends the writer without a result: no half container stays.
bool Abandon(TCompressWriter& w) {
  if (w.Stream) {
    deflateEnd(static_cast<z_stream*>(w.Stream));
    delete static_cast<z_stream*>(w.Stream);
    w.Stream = nullptr;
  }
  if (w.File) {
    std::fclose(w.File);
    w.File = nullptr;
    RemovePath(w.Path);
  }
  return false;
}

bool DeflatePiece(TCompressWriter& w, int flush) {
  z_stream& zs = *static_cast<z_stream*>(w.Stream);
  zs.next_in = reinterpret_cast<Bytef*>(w.In.data());
  zs.avail_in = uInt(w.In.size());
  do {
    zs.next_out = reinterpret_cast<Bytef*>(w.Out.data());
    zs.avail_out = uInt(kDeflateOut);
    if (deflate(&zs, flush) == Z_STREAM_ERROR) return false;
    const size_t produced = kDeflateOut - zs.avail_out;
    if (produced && std::fwrite(w.Out.data(), 1, produced, w.File) != produced) return false;
  } while (zs.avail_out == 0);
  w.In.clear();
  return true;
}

}  // namespace

bool CompressBegin(TCompressWriter& w, const std::string& dest, int level) {
  Abandon(w);
  w.Path = ExistingOrGiven(dest);
  w.File = CreateDest(w.Path);
  w.Crc = 0;
  w.Length = 0;
  w.In.clear();
  w.In.reserve(kDeflateIn);
  w.Out.assign(kDeflateOut, '\0');
  if (std::fwrite(kSignature, 1, 3, w.File) != 3) return Abandon(w);
  auto* zs = new z_stream{};
  if (deflateInit(zs, level) != Z_OK) {
    delete zs;
    return Abandon(w);
  }
  w.Stream = zs;
  return true;
}

bool CompressWrite(TCompressWriter& w, const char* data, size_t length) {
  if (!w.Stream) return false;
  w.Crc = Crc(w.Crc, reinterpret_cast<const unsigned char*>(data), length);
  w.Length += uint32_t(length);
  while (length > 0) {
    // A full piece goes to deflate only once more input shows it is not the
    // last: the last piece is the one given with Z_FINISH.
    if (w.In.size() == kDeflateIn && !DeflatePiece(w, Z_NO_FLUSH)) return Abandon(w);
    const size_t n = std::min(length, kDeflateIn - w.In.size());
    w.In.append(data, n);
    data += n;
    length -= n;
  }
  return true;
}

bool CompressEnd(TCompressWriter& w) {
  if (!w.Stream || !DeflatePiece(w, Z_FINISH)) return Abandon(w);
  deflateEnd(static_cast<z_stream*>(w.Stream));
  delete static_cast<z_stream*>(w.Stream);
  w.Stream = nullptr;
  unsigned char trailer[kTrailerSize];
  PutLE32(trailer, w.Crc);
  PutLE32(trailer + 4, w.Length);
  std::memcpy(trailer + 8, kEndMark, 3);
  if (std::fwrite(trailer, 1, kTrailerSize, w.File) != kTrailerSize) return Abandon(w);
  const int rc = std::fclose(w.File);
  w.File = nullptr;
  if (rc != 0) {
    RemovePath(w.Path);
    return false;
  }
  return true;
}

bool CompressFile(const std::string& source, const std::string& dest, int level) {
  FileCloser in{OpenSource(source)};
  TCompressWriter w;
  if (!CompressBegin(w, dest, level)) return false;
  std::vector<char> buf(kDeflateIn);
  for (;;) {
    const size_t got = ReadSome(in.f, reinterpret_cast<unsigned char*>(buf.data()), kDeflateIn, source);
    if (got == 0) break;
    if (!CompressWrite(w, buf.data(), got)) return false;
  }
  in.Close();
  return CompressEnd(w);
}

bool DecompressFile(const std::string& source, const std::string& dest) {
  return DecompressFile(source, dest, nullptr);
}

bool DecompressFile(const std::string& source, const std::string& dest,
                    const TOutputInspector& inspect) {
  // Whatever fails, no destination is left: an earlier one is not mistaken
  // for this package's content.
  const std::string destPath = ExistingOrGiven(dest);
  if (!fs_layer::FileExists(source)) {
    fs_layer::DeleteFile(destPath);
    return false;
  }
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  InflateGuard guard{&zs};
  FileCloser in{OpenSource(source)};
  unsigned char sig[3];
  if (ReadSome(in.f, sig, 3, source) != 3 || std::memcmp(sig, kSignature, 3) != 0) {
    fs_layer::DeleteFile(destPath);
    return false;
  }
  // The output grows under a temporary name and takes the real one only once
  // the trailer has vouched for it.
  const std::string work = destPath + ".part";
  FileCloser out{CreateDest(work)};
  // A read error raised on the way leaves no partial output either; after
  // the final rename there is nothing left under this name to remove.
  struct PartRemover {
    const std::string& path;
    ~PartRemover() { RemovePath(path); }
  } partRemover{work};
  auto fail = [&] {
    out.Close();
    RemovePath(work);
    fs_layer::DeleteFile(destPath);
    return false;
  };

  std::vector<unsigned char> inBuf(kInflateIn), outBuf(kInflateOut);
  uint32_t crc = 0;
  uint32_t length = 0;
  bool ended = false;
  while (!ended) {
    if (zs.avail_in == 0) {
      const size_t got = ReadSome(in.f, inBuf.data(), kInflateIn, source);
      if (got == 0) return fail();  // the stream stops short
      zs.next_in = inBuf.data();
      zs.avail_in = uInt(got);
    }
    zs.next_out = outBuf.data();
    zs.avail_out = uInt(kInflateOut);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const size_t produced = kInflateOut - zs.avail_out;
    if (produced) {
      if (std::fwrite(outBuf.data(), 1, produced, out.f) != produced) return fail();
      crc = Crc(crc, outBuf.data(), produced);
      length += uint32_t(produced);
      if (inspect && !inspect(reinterpret_cast<const char*>(outBuf.data()), produced))
        return fail();
    }
    if (rc == Z_STREAM_END)
      ended = true;
    else if (rc == Z_BUF_ERROR && zs.avail_in == 0)
      continue;
    else if (rc != Z_OK)
      return fail();
  }
  // Exactly the trailer may follow the stream.
  unsigned char trailer[kTrailerSize + 1];
  size_t have = zs.avail_in < sizeof trailer ? zs.avail_in : sizeof trailer;
  std::memcpy(trailer, zs.next_in, have);
  if (zs.avail_in <= kTrailerSize)
    have += ReadSome(in.f, trailer + have, sizeof trailer - have, source);
  if (have != kTrailerSize || GetLE32(trailer) != crc || GetLE32(trailer + 4) != length ||
      std::memcmp(trailer + 8, kEndMark, 3) != 0)
    return fail();
  in.Close();
  if (out.Close() != 0) return fail();
  fs_layer::DeleteFile(destPath);
  if (std::rename(work.c_str(), destPath.c_str()) != 0) {
    RemovePath(work);
    return false;
  }
  return true;
}
