// Hostile database files: each ends in a clear message or a correct load,
// in bounded time and with memory that follows the real content.
#include <cstring>
#include <fstream>

#include <bzlib.h>
#include <zlib.h>

#include "corrupt.h"
#include "ipdb/inplace.h"
#include "streams/compress.h"

namespace {

struct TOutcome {
  std::string Message;  // empty after a successful load
  int Blocks = 0;
  double PeakMB = 0;  // resident memory the load added at its peak
};

// Loads Path in a child process, so that its peak memory is its own.
TOutcome LoadInChild(const std::string& Path) {
  const TChildRun run = RunInChild([&] {
    try {
      TIPv4Database db;
      db.LoadFromFile(Path);
      return std::to_string(db.BlockCount()) + "\n";
    } catch (const EKeslError& e) {
      const std::string msg = e.what();
      return "0\n" + (msg.empty() ? std::string("(empty message)") : msg);
    }
  });
  EXPECT_FALSE(run.Crashed) << "the load crashed";
  TOutcome o;
  const size_t eol = run.Result.find('\n');
  if (eol == std::string::npos) return o;
  o.Blocks = std::stoi(run.Result.substr(0, eol));
  o.Message = run.Result.substr(eol + 1);
  o.PeakMB = run.PeakMB;
  std::printf("  load: %d blocks, peak %.1f MB added, %s\n", o.Blocks, o.PeakMB,
              o.Message.empty() ? "loaded" : o.Message.c_str());
  return o;
}

// Prefix followed by Repeat copies of Piece, compressed with zlib or bzip2
// without ever holding the whole in memory.
std::string CompressRepeated(bool BZip2, const std::string& Prefix, const std::string& Piece,
                             size_t Repeat) {
  std::string out;
  std::string buf(1 << 16, '\0');
  z_stream z{};
  bz_stream b{};
  if (BZip2) {
    BZ2_bzCompressInit(&b, 9, 0, 0);
  } else {
    deflateInit(&z, 1);
  }
  for (size_t i = 0; i <= Repeat + 1; ++i) {
    const std::string& in = i == 0 ? Prefix : Piece;
    const bool last = i == Repeat + 1;
    if (BZip2) {
      b.next_in = const_cast<char*>(in.data());
      b.avail_in = last ? 0 : static_cast<unsigned>(in.size());
      int rc;
      do {
        b.next_out = buf.data();
        b.avail_out = static_cast<unsigned>(buf.size());
        rc = BZ2_bzCompress(&b, last ? BZ_FINISH : BZ_RUN);
        out.append(buf.data(), buf.size() - b.avail_out);
      } while (last ? rc != BZ_STREAM_END : b.avail_in > 0);
    } else {
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
      z.avail_in = last ? 0 : static_cast<uInt>(in.size());
      do {
        z.next_out = reinterpret_cast<Bytef*>(buf.data());
        z.avail_out = static_cast<uInt>(buf.size());
        deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        out.append(buf.data(), buf.size() - z.avail_out);
      } while (z.avail_out == 0);
    }
  }
  if (BZip2) {
    BZ2_bzCompressEnd(&b);
  } else {
    deflateEnd(&z);
  }
  return out;
}

class HostileTest : public CorruptFileTest {
 protected:
  std::string Write(const std::string& Data) { return FDir.Write("country.ip4", Data); }
};

}  // namespace

TEST_F(HostileTest, HeaderOnlyAndEveryShortLength) {
  const std::string header = EncodeHeader(true, cmNone, "20261201");
  for (size_t n = 0; n <= 15; ++n) {
    TIPv4Database db;
    EXPECT_THROW_MSG(db.LoadFromFile(Write(header.substr(0, n))), EDatabaseError, Invalid()) << n;
  }
  TIPv4Database bin;
  EXPECT_THROW_MSG(bin.LoadFromFile(Write(header)), EDatabaseError, Invalid());
  TIPv4Database text;  // an empty text body is a database without blocks
  text.LoadFromFile(Write(EncodeHeader(false, cmZLib, "20261201")));
  EXPECT_EQ(text.BlockCount(), 0);
}

TEST_F(HostileTest, ZeroBytesBody) {
  const std::string zeros(16384, '\0');
  TIPv4Database text;
  text.LoadFromFile(Write(EncodeHeader(false, cmNone, "20261201") + zeros));
  EXPECT_EQ(text.BlockCount(), 0);
  TIPv4Database bin;  // three zero counts, then bytes nobody reads
  bin.LoadFromFile(Write(EncodeHeader(true, cmNone, "20261201") + zeros));
  EXPECT_EQ(bin.BlockCount(), 0);
}

TEST_F(HostileTest, RecordBombsStopAtTheBound) {
  // Counts at the bound, then far more all-zero records than that, in a
  // body of a few hundred kilobytes: the counted records are read, the rest
  // never, and the zero country code ends the load.
  const std::string counts = Le32(0) + Le32(0) + Le32(kMaxSectionCount);
  const std::string records(16 * 4096, '\0');
  for (bool bz2 : {false, true}) {
    SCOPED_TRACE(bz2 ? "bzip2" : "zlib");
    const std::string body = CompressRepeated(bz2, counts, records, kMaxSectionCount / 4096 * 2);
    EXPECT_LT(body.size(), 1u << 20);
    const TOutcome o =
        LoadInChild(Write(EncodeHeader(true, bz2 ? cmBZip2 : cmZLib, "20261201") + body));
    EXPECT_EQ(o.Message.rfind("Unknown country code: ", 0), 0u) << o.Message;
    // 4 million records of 32 bytes.
    EXPECT_LT(o.PeakMB, 256 * kPeakLimitScale);
  }
  // One record more than the bound is refused before anything is read.
  const TOutcome over = LoadInChild(
      Write(EncodeHeader(true, cmZLib, "20261201") +
            CompressRepeated(false, Le32(0) + Le32(0) + Le32(kMaxSectionCount + 1), records, 16)));
  EXPECT_EQ(over.Message, Invalid());
  EXPECT_LT(over.PeakMB, 32 * kPeakLimitScale);
}

TEST_F(HostileTest, RegistryAndCountryBombsStopAtTheirBound) {
  // Empty records by the million from a few kilobytes: a country costs some
  // 200 bytes in memory against 14 on disk. At the bound they load; one
  // more is refused before anything is read.
  const std::string country(14, '\0'), center(3, '\0');
  for (int section = 0; section < 2; ++section) {
    const std::string& record = section == 0 ? center : country;
    for (int32_t count : {kMaxKeyedCount, kMaxKeyedCount + 1, kMaxSectionCount}) {
      SCOPED_TRACE(std::to_string(section) + " " + std::to_string(count));
      const std::string counts = section == 0 ? Le32(count) : Le32(0) + Le32(count);
      std::string records;
      for (int i = 0; i < 4096; ++i) records += record;
      std::string body =
          CompressRepeated(false, counts, records, static_cast<size_t>(count) / 4096 + 1);
      const TOutcome o = LoadInChild(Write(EncodeHeader(true, cmZLib, "20261201") + body));
      if (count <= kMaxKeyedCount) {
        // The records run on past the count: the next count reads as zero
        // bytes, so the file is cut short inside the block count or loads
        // with no blocks.
        EXPECT_LT(o.PeakMB, 64 * kPeakLimitScale);
      } else {
        EXPECT_EQ(o.Message, Invalid());
        EXPECT_LT(o.PeakMB, 16 * kPeakLimitScale);
      }
    }
  }
}

TEST_F(HostileTest, LargestValidFileStaysUnder256MB) {
  // The most blocks a file may hold, all real, in one country.
  std::string records;
  for (uint32_t i = 0; i < 4096; ++i) {
    records += EncodeBinBody({}, {}, {MakeBlock(i * 16, 16, "US", kArinID)}).substr(12);
  }
  // Starts repeat from one run to the next: a sorted file is not needed.
  const std::string body = CompressRepeated(false, Le32(0) + Le32(0) + Le32(kMaxSectionCount),
                                            records, kMaxSectionCount / 4096);
  const TOutcome o = LoadInChild(Write(EncodeHeader(true, cmZLib, "20261201") + body));
  EXPECT_EQ(o.Message, "");
  EXPECT_EQ(o.Blocks, kMaxSectionCount);
  EXPECT_LT(o.PeakMB, 256 * kPeakLimitScale);
}

// A binary body with no IPv4 blocks whose trailer holds one IPv6 entry of
// Count records: its header, to be followed by the records.
std::string IPv6EntryHead(uint32_t Count) {
  std::string head = Le32(0) + Le32(0) + Le32(0) + "KTRL" + Le32(1);
  head += std::string{static_cast<char>(ttIPv6Blocks), 0};
  return head + Le32(static_cast<int64_t>(4 + uint64_t{Count} * kIPv6RecordSize)) + Le32(Count);
}

TEST_F(HostileTest, IPv6SectionsAreBoundedAndChecked) {
  // The most IPv6 blocks a file may hold, each its own /64, in one country:
  // one record written, then copied with its start and last moved on.
  TIPv6Block first;
  first.Start = TIPv6Address{0x20010DB8} << 96;
  first.Last = first.Start | ~uint64_t{0};
  first.CountryCode = Code("US");
  first.CenterID = kArinID;
  const std::string record = EncodeIPv6Blocks({first}).substr(4);
  std::string records;
  records.reserve(size_t{kMaxIPv6Count} * kIPv6RecordSize);
  for (uint32_t i = 0; i < kMaxIPv6Count; ++i) {
    const size_t at = records.size();
    records += record;
    for (const size_t field : {size_t{4}, size_t{20}}) {  // bytes 4-7 of each address
      for (int k = 0; k < 4; ++k) records[at + field + k] = static_cast<char>(i >> (24 - 8 * k));
    }
  }
  const TOutcome o = LoadInChild(Write(EncodeHeader(true, cmZLib, "20261201") +
                                       ZLibCompress(IPv6EntryHead(kMaxIPv6Count) + records, 1)));
  EXPECT_EQ(o.Message, "");
  // A million blocks of 64 bytes and their index.
  EXPECT_LT(o.PeakMB, 128 * kPeakLimitScale);

  // Zero records by the million from a few kilobytes: the second is not
  // after the first, and the load stops there.
  const TOutcome zeros = LoadInChild(
      Write(EncodeHeader(true, cmBZip2, "20261201") +
            CompressRepeated(true, IPv6EntryHead(kMaxIPv6Count),
                             std::string(kIPv6RecordSize * 4096, '\0'), kMaxIPv6Count / 4096)));
  EXPECT_EQ(zeros.Message, Invalid());
  EXPECT_LT(zeros.PeakMB, 16 * kPeakLimitScale);
  // One over the bound, a length that does not fit the count, a cut entry.
  const std::string one = record;
  std::string badLength = IPv6EntryHead(1) + one;
  badLength[22] = 3;  // the entry's length: 3 bytes, shorter than its count
  // Two entries, each in order, whose blocks overlap.
  const std::string twice =
      Le32(0) + Le32(0) + Le32(0) +
      EncodeTrailer(
          {{ttSortedDisjoint, {}}, {ttIPv6Blocks, Le32(1) + one}, {ttIPv6Blocks, Le32(1) + one}});
  for (const std::string& body :
       {IPv6EntryHead(kMaxIPv6Count + 1) + one, badLength, IPv6EntryHead(2) + one, twice}) {
    const std::string file = EncodeHeader(true, cmNone, "20261201") + body;
    EXPECT_EQ(LoadInChild(Write(file)).Message, Invalid());
    EXPECT_FALSE(TInPlaceDatabase::FromMemory(file.data(), file.size()));  // nor searched in place
  }
  EXPECT_EQ(
      LoadInChild(Write(EncodeHeader(true, cmNone, "20261201") + IPv6EntryHead(1) + one)).Message,
      "");
}

TEST_F(HostileTest, GigabyteOfTextLines) {
  // One gigabyte of lines that are no records, from about a megabyte.
  const std::string line = std::string(4095, 'x') + "\n";
  const std::string body = CompressRepeated(false, "", line, (1u << 30) / line.size());
  EXPECT_LT(body.size(), 8u << 20);
  const TOutcome o = LoadInChild(Write(EncodeHeader(false, cmZLib, "20261201") + body));
  EXPECT_EQ(o.Message, "");
  EXPECT_EQ(o.Blocks, 0);
  EXPECT_LT(o.PeakMB, 64 * kPeakLimitScale);
}

TEST_F(HostileTest, OneHundredMegabyteLine) {
  {
    std::ofstream f(FDir.Path("country.ip4"), std::ios::binary);
    f << EncodeHeader(false, cmNone, "20261201");
    const std::string chunk(1 << 20, 'a');
    for (int i = 0; i < 100; ++i) f << chunk;
    f << "\narin|US|ipv4|1.0.0.0|256|20040101|allocated\n";
  }
  const TOutcome o = LoadInChild(FDir.Path("country.ip4"));
  EXPECT_EQ(o.Message, "");
  EXPECT_EQ(o.Blocks, 1);  // the line after it still counts
  EXPECT_LT(o.PeakMB, 32 * kPeakLimitScale);
}

TEST_F(HostileTest, FileThatShrinksOrGrowsWhileRead) {
  std::string body;
  for (int i = 0; i < 20000; ++i) {
    body += "arin|US|ipv4|10." + std::to_string(i / 256) + "." + std::to_string(i % 256) +
            ".0|256|20040101|allocated\n";
  }
  const std::string path = Write(EncodeHeader(false, cmNone, "20261201") + body);
  {
    TIPv4Database db;
    bool cut = false;
    db.OnProgress = [&](TIPv4Database&, int Value) {
      if (Value > 100 && !cut) {
        cut = true;
        ASSERT_EQ(truncate(path.c_str(), 16 + static_cast<off_t>(body.size() / 2)), 0);
      }
    };
    db.LoadFromFile(path);
    EXPECT_TRUE(cut);
    EXPECT_GT(db.BlockCount(), 0);
    EXPECT_LT(db.BlockCount(), 20000);
  }
  Write(EncodeHeader(false, cmNone, "20261201") + body);
  {
    TIPv4Database db;
    db.OnProgress = [&](TIPv4Database&, int) {
      std::ofstream(path, std::ios::app) << "arin|US|ipv4|11.0.0.0|256|20040101|allocated\n";
    };
    db.LoadFromFile(path);
    EXPECT_EQ(db.BlockCount(), 20000);  // what was appended is not read
  }
}
