#include "streams/compress.h"

#include <bzlib.h>
#include <zlib.h>

#include "streams/ZLibStream.h"
#include "streams/bz2stream.h"

namespace {

constexpr size_t kOutChunk = 1 << 18;

std::string TooLarge(size_t MaxSize) {
  return "decompressed data larger than " + std::to_string(MaxSize) + " bytes";
}

}  // namespace

std::string ZLibCompress(std::string_view Data, int Level) {
  uLongf size = compressBound(static_cast<uLong>(Data.size()));
  std::string out(size, '\0');
  ZCheck(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                   reinterpret_cast<const Bytef*>(Data.data()), static_cast<uLong>(Data.size()),
                   Level));
  out.resize(size);
  return out;
}

std::string GZipCompress(std::string_view Data) {
  z_stream z{};
  // 15 + 16: a gzip wrapper around the deflate data.
  ZCheck(deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY));
  std::string out(deflateBound(&z, static_cast<uLong>(Data.size())) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  z.avail_in = static_cast<uInt>(Data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) ZCheck(Z_BUF_ERROR);
  return out;
}

std::string BZ2Compress(std::string_view Data, int BlockSize) {
  // libbz2's documented worst case: 1% larger plus 600 bytes.
  unsigned size = static_cast<unsigned>(Data.size() + Data.size() / 100 + 601);
  std::string out(size, '\0');
  BZ2Check(BZ2_bzBuffToBuffCompress(out.data(), &size, const_cast<char*>(Data.data()),
                                    static_cast<unsigned>(Data.size()), BlockSize, 0, 0));
  out.resize(size);
  return out;
}

std::string GZipDecompress(std::string_view Data, size_t MaxSize) {
  z_stream z{};
  // 15 + 32: zlib or gzip, detected from the header.
  ZCheck(inflateInit2(&z, 15 + 32));
  std::string out;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
  z.avail_in = static_cast<uInt>(Data.size());
  int rc = Z_OK;
  try {
    while (rc != Z_STREAM_END) {
      const size_t have = out.size();
      out.resize(have + kOutChunk);
      z.next_out = reinterpret_cast<Bytef*>(out.data() + have);
      z.avail_out = static_cast<uInt>(kOutChunk);
      rc = inflate(&z, Z_NO_FLUSH);
      out.resize(have + kOutChunk - z.avail_out);
      if (out.size() > MaxSize) throw EZLibError(TooLarge(MaxSize));
      if (rc == Z_STREAM_END && z.avail_in > 0) {
        // Another gzip member follows, as gzip writes for appended files.
        inflateReset(&z);
        rc = Z_OK;
      } else if (rc == Z_NEED_DICT) {
        throw EZLibError("need dictionary");
      } else if (rc == Z_BUF_ERROR) {
        throw EZLibError("unexpected end of compressed data");
      } else {
        ZCheck(rc);
      }
    }
  } catch (...) {
    inflateEnd(&z);
    throw;
  }
  inflateEnd(&z);
  return out;
}

std::string BZ2Decompress(std::string_view Data, size_t MaxSize) {
  std::string out;
  size_t used = 0;
  while (used < Data.size()) {
    bz_stream z{};
    BZ2Check(BZ2_bzDecompressInit(&z, 0, 0));
    z.next_in = const_cast<char*>(Data.data() + used);
    z.avail_in = static_cast<unsigned>(Data.size() - used);
    int rc = BZ_OK;
    while (rc != BZ_STREAM_END) {
      const size_t have = out.size();
      out.resize(have + kOutChunk);
      z.next_out = out.data() + have;
      z.avail_out = static_cast<unsigned>(kOutChunk);
      rc = BZ2_bzDecompress(&z);
      out.resize(have + kOutChunk - z.avail_out);
      if (out.size() > MaxSize) {
        BZ2_bzDecompressEnd(&z);
        throw EBZ2Error(TooLarge(MaxSize));
      }
      if (rc < 0) {
        BZ2_bzDecompressEnd(&z);
        BZ2Check(rc);
      }
      if (rc == BZ_OK && z.avail_in == 0 && z.avail_out != 0) {
        BZ2_bzDecompressEnd(&z);
        BZ2Check(BZ_UNEXPECTED_EOF);
      }
    }
    used = Data.size() - z.avail_in;
    BZ2_bzDecompressEnd(&z);
  }
  return out;
}
