#include <random>
#include <string>

#include <zlib.h>

#include "streams/ZLibStream.h"
#include "streams/bz2stream.h"
#include "streams/compress.h"
#include "streams/prefetch.h"
#include "streams/stream.h"
#include "testutil.h"

namespace {

std::string RandomText(size_t Size, unsigned Seed) {
  std::mt19937 rng(Seed);
  std::string s(Size, '\0');
  // Few distinct letters, so that the data compresses like real text.
  for (char& c : s) c = static_cast<char>('a' + rng() % 6);
  return s;
}

template <typename Adapter>
std::string ReadAll(Adapter& A, int32_t Step) {
  std::string out;
  std::string buf(static_cast<size_t>(Step), '\0');
  for (;;) {
    const int32_t n = A.Read(buf.data(), Step);
    out.append(buf, 0, static_cast<size_t>(n));
    if (n < Step) return out;
  }
}

}  // namespace

TEST(ZLibStreamTest, DecompressesInAnyReadSize) {
  const std::string data = RandomText(300000, 1);
  for (int32_t step : {1, 7, 4096, 65536, 1 << 20}) {
    TMemoryStream src(ZLibCompress(data));
    TZLibStream z(src);
    EXPECT_EQ(ReadAll(z, step), data) << step;
  }
}

TEST(ZLibStreamTest, LeavesSourceOnFirstByteAfterCompressedData) {
  const std::string packed = ZLibCompress("hello");
  TMemoryStream src(packed + "TRAILER");
  TZLibStream z(src);
  char buf[64];
  EXPECT_EQ(z.Read(buf, 64), 5);
  EXPECT_EQ(src.Position(), static_cast<int32_t>(packed.size()));
  EXPECT_EQ(z.Read(buf, 64), 0);
  EXPECT_EQ(z.Read(buf, 64), 0);
  EXPECT_EQ(src.Position(), static_cast<int32_t>(packed.size()));
}

TEST(ZLibStreamTest, ZeroAndNegativeCountsReadNothing) {
  TMemoryStream src(ZLibCompress("abc"));
  TZLibStream z(src);
  char buf[4];
  EXPECT_EQ(z.Read(buf, 0), 0);
  EXPECT_EQ(z.Read(buf, -5), 0);
  EXPECT_EQ(z.Read(buf, 4), 3);
}

TEST(ZLibStreamTest, ErrorsCarryZLibTexts) {
  TMemoryStream notZlib(std::string("this is not a zlib stream at all"));
  TZLibStream z(notZlib);
  char buf[16];
  EXPECT_THROW_MSG(z.Read(buf, 16), EZLibError, "data error");
  EXPECT_THROW_MSG(z.Write(buf, 1), EZLibError, "Invalid ZStream operation!");
  EXPECT_THROW_MSG(z.Seek(0, soCurrent), EZLibError, "Invalid ZStream operation!");
  EXPECT_THROW_MSG(z.Position(), EZLibError, "Invalid ZStream operation!");
  const char* texts[] = {"file error",          "stream error", "data error",
                         "insufficient memory", "buffer error", "incompatible version"};
  for (int code = -1; code >= -6; --code) {
    EXPECT_THROW_MSG(ZCheck(code), EZLibError, texts[-code - 1]);
  }
  EXPECT_EQ(ZCheck(2), 2);
  EXPECT_EQ(ZCheck(0), 0);
}

TEST(ZLibStreamTest, PresetDictionaryFailsInsteadOfLooping) {
  z_stream d{};
  ASSERT_EQ(deflateInit(&d, 9), Z_OK);
  const char dict[] = "dictionary words";
  deflateSetDictionary(&d, reinterpret_cast<const Bytef*>(dict), sizeof dict);
  std::string in = "words words words", out(256, '\0');
  d.next_in = reinterpret_cast<Bytef*>(in.data());
  d.avail_in = static_cast<uInt>(in.size());
  d.next_out = reinterpret_cast<Bytef*>(out.data());
  d.avail_out = static_cast<uInt>(out.size());
  ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - d.avail_out);
  deflateEnd(&d);
  TMemoryStream src(out);
  TZLibStream z(src);
  char buf[64];
  EXPECT_THROW_MSG(z.Read(buf, 64), EZLibError, "need dictionary");
}

TEST(ZLibStreamTest, TruncatedDataEndsShortWithoutError) {
  const std::string data = RandomText(200000, 2);
  const std::string packed = ZLibCompress(data, 1);
  TMemoryStream src(packed.substr(0, packed.size() / 2));
  TZLibStream z(src);
  const std::string got = ReadAll(z, 10000);
  EXPECT_LT(got.size(), data.size());
  EXPECT_EQ(got, data.substr(0, got.size()));
  char buf[8];
  EXPECT_EQ(z.Read(buf, 8), 0);
}

TEST(BZ2StreamTest, DecompressesInAnyReadSize) {
  const std::string data = RandomText(250000, 3);
  for (int32_t step : {1, 13, 5000, 65536}) {
    TMemoryStream src(BZ2Compress(data, 1));
    TBZ2Stream z(src, step == 13);
    EXPECT_EQ(ReadAll(z, step), data) << step;
  }
}

TEST(BZ2StreamTest, ExactMultipleOfRequestEndsWithZeroRead) {
  const std::string data = RandomText(4096 * 5, 4);
  TMemoryStream src(BZ2Compress(data));
  TBZ2Stream z(src, false);
  char buf[4096];
  for (int i = 0; i < 5; ++i) ASSERT_EQ(z.Read(buf, 4096), 4096);
  EXPECT_EQ(z.Read(buf, 4096), 0);
  EXPECT_EQ(z.Read(buf, 4096), 0);
}

TEST(BZ2StreamTest, NothingIsDecompressedAfterTheEnd) {
  // Garbage behind the stream would be a data error if the library were
  // called again after it reported the end.
  TMemoryStream src(BZ2Compress("abc") + std::string(20000, 'x'));
  TBZ2Stream z(src, false);
  char buf[16];
  EXPECT_EQ(z.Read(buf, 16), 3);
  EXPECT_EQ(z.Read(buf, 16), 0);
}

TEST(BZ2StreamTest, CountsAndUnsupportedOperations) {
  TMemoryStream src(BZ2Compress("abc"));
  TBZ2Stream z(src, false);
  char buf[4];
  EXPECT_EQ(z.Read(buf, 0), 0);
  EXPECT_THROW_MSG(z.Read(buf, -1), EBZ2Error, "invalid parameters");
  EXPECT_THROW_MSG(z.Write(buf, -1), EBZ2Error, "invalid parameters");
  EXPECT_THROW_MSG(z.Write(buf, 1), EBZ2Error, "Invalid ZStream operation!");
  EXPECT_THROW_MSG(z.Position(), EBZ2Error, "Invalid ZStream operation!");
}

TEST(BZ2StreamTest, ErrorsCarryTheTableTexts) {
  TMemoryStream notBz2(std::string("plainly not bzip2 data"));
  TBZ2Stream z(notBz2, false);
  char buf[16];
  EXPECT_THROW_MSG(z.Read(buf, 16), EBZ2Error, "data error magic");

  std::string packed = BZ2Compress(RandomText(50000, 5));
  packed[packed.size() / 2] ^= 0x55;
  TMemoryStream corrupt(packed);
  TBZ2Stream c(corrupt, false);
  EXPECT_THROW_MSG(ReadAll(c, 4096), EBZ2Error, "data error");

  const char* texts[] = {"invlaid sequence", "invalid parameters", "insufficient memory",
                         "data error",       "data error magic",   "I/O error",
                         "unexpected EOF",   "out buffer full",    "invalid config"};
  for (int code = -1; code >= -9; --code) {
    EXPECT_THROW_MSG(BZ2Check(code), EBZ2Error, texts[-code - 1]);
  }
  EXPECT_EQ(BZ2Check(4), 4);
}

TEST(BZ2StreamTest, TruncatedDataEndsShortWithoutError) {
  const std::string data = RandomText(300000, 6);
  const std::string packed = BZ2Compress(data, 1);
  TMemoryStream src(packed.substr(0, packed.size() * 3 / 4));
  TBZ2Stream z(src, false);
  const std::string got = ReadAll(z, 8192);
  EXPECT_LT(got.size(), data.size());
  EXPECT_EQ(got, data.substr(0, got.size()));
}

TEST(CompressTest, GZipAndConcatenatedBZip2RoundTrip) {
  const std::string a = RandomText(100000, 7), b = RandomText(5000, 8);
  EXPECT_EQ(GZipDecompress(ZLibCompress(a)), a);
  EXPECT_EQ(GZipDecompress(GZipCompress(a) + GZipCompress(b)), a + b);
  EXPECT_THROW(GZipDecompress(GZipCompress(a), 1000), EZLibError);
  EXPECT_EQ(BZ2Decompress(BZ2Compress(a) + BZ2Compress(b)), a + b);
  EXPECT_THROW(BZ2Decompress(BZ2Compress(a).substr(0, 100)), EBZ2Error);
  EXPECT_THROW(GZipDecompress(ZLibCompress(a).substr(0, 100)), EZLibError);
}

TEST(FileStreamTest, OpenErrorsNameTheFile) {
  EXPECT_THROW_MSG(TFileStream("/nonexistent/x.ip4"), EFOpenError,
                   "Cannot open file \"/nonexistent/x.ip4\". No such file or directory");
  EXPECT_THROW_MSG(TFileStream("/tmp"), EFOpenError, "Cannot open file \"/tmp\". Is a directory");
}

TEST(FileStreamTest, ReadsStopAtTheSizeSeenAtOpening) {
  TTempDir dir;
  const std::string path = dir.Write("grow", "0123456789");
  TFileStream f(path);
  std::ofstream(path, std::ios::app) << "more bytes appended later";
  char buf[64];
  EXPECT_EQ(f.Read(buf, 64), 10);
  EXPECT_EQ(f.Read(buf, 64), 0);
  EXPECT_EQ(f.Size(), 10);
}

TEST(PrefetchStreamTest, ReadsTheSameBytesInAnySizeAcrossPieces) {
  const std::string text = RandomText(100000, 4);
  for (int32_t step : {1, 7, 4096, 200000}) {
    for (int32_t piece : {997, 4096, 1 << 18}) {
      const std::string packed = ZLibCompress(text);
      TMemoryStream source(packed);
      TZLibStream z(source);
      TPrefetchStream ahead(z, piece, 2);
      EXPECT_TRUE(ReadAll(ahead, step) == text) << step << " " << piece;
      EXPECT_EQ(ahead.Position(), 100000);
      // The end stays the end.
      char c;
      EXPECT_EQ(ahead.Read(&c, 1), 0);
    }
  }
}

TEST(PrefetchStreamTest, AnErrorComesAfterTheBytesBeforeIt) {
  // Good data, then garbage where the zlib stream goes on: the reader gets
  // every good byte the source gave before the error, then the error.
  const std::string text = RandomText(50000, 5);
  std::string packed = ZLibCompress(text);
  for (size_t i = packed.size() / 2; i < packed.size(); ++i) packed[i] = static_cast<char>(0xFF);
  TMemoryStream source(packed);
  TZLibStream z(source);
  TPrefetchStream ahead(z, 1000, 2);
  std::string got;
  char buf[100];
  EXPECT_THROW(
      {
        for (;;) {
          const int32_t n = ahead.Read(buf, 100);
          got.append(buf, static_cast<size_t>(n));
          if (n < 100) break;
        }
      },
      EZLibError);
  EXPECT_GT(got.size(), 0u);
  EXPECT_TRUE(text.compare(0, got.size(), got) == 0);
  EXPECT_THROW(ahead.Write(buf, 1), EReadError);
  EXPECT_THROW(ahead.Seek(1, soBeginning), EReadError);
}

TEST(PrefetchStreamTest, LeftEarlyWhileTheThreadWaits) {
  // The reader stops after a few bytes; the thread, waiting with its
  // pieces full, ends when the stream goes.
  const std::string text = RandomText(1 << 20, 6);
  TMemoryStream source(text);
  {
    TPrefetchStream ahead(source, 4096, 1);
    char buf[10];
    EXPECT_EQ(ahead.Read(buf, 10), 10);
    EXPECT_EQ(std::string(buf, 10), text.substr(0, 10));
  }
}
