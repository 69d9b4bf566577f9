#include <random>

#include "corrupt.h"
#include "tools/tools.h"

namespace {

class LoaderTest : public CorruptFileTest {
 protected:
  using CorruptFileTest::Load;
  std::string Write(const std::string& Data) { return FDir.Write("country.ip4", Data); }
  void Load(const std::string& Data) { FDb.LoadFromFile(Write(Data)); }
  std::string BinFile(const std::string& Body, TCompression C = cmNone,
                      const char* Date = "20030501") {
    return EncodeDatabaseFile(true, C, Date, Body);
  }
};

const std::vector<TIPv4Block> kBlocks = {
    MakeBlock(0xC8000000, 256, "BR", 5, 20040101), MakeBlock(0x0A000000, 65536, "US", 2),
    MakeBlock(0x0A010000, 256, "GB", 3), MakeBlock(0x01000000, 256, "AU", 4),
    MakeBlock(0x0B000000, 16777216, "US", 1)};

}  // namespace

TEST_F(LoaderTest, BinaryBodyInEveryCompression) {
  for (TCompression c : {cmNone, cmZLib, cmBZip2}) {
    SCOPED_TRACE(static_cast<char>(c));
    TIPv4Database db;
    db.LoadFromFile(Write(BinFile(EncodeBinBody({}, {}, kBlocks), c)));
    ASSERT_EQ(db.BlockCount(), 5);
    EXPECT_EQ(db.Created, 37742);
    EXPECT_EQ(db.BlockAt(0)->StartIP, 0x01000000u);
    EXPECT_EQ(db.BlockAt(4)->StartIP, 0xC8000000u);  // sorted unsigned
    EXPECT_EQ(db.BlockAt(4)->Date, 20040101u);
    EXPECT_EQ(db.BlockAt(4)->Center->Name, "LACNIC");
    EXPECT_EQ(db.BlockAt(db.FindBlock(0x0A0100FF))->Country->Name, "United Kingdom");
    const auto* us = db.CountryBlocks(Code("US"));
    ASSERT_EQ(us->size(), 2u);
    EXPECT_EQ((*us)[0]->StartIP, 0x0A000000u);
    EXPECT_EQ((*us)[1]->StartIP, 0x0B000000u);
  }
}

TEST_F(LoaderTest, TextBodyInEveryCompression) {
  std::string body;
  for (const auto& b : kBlocks) body += EncodeTextLine(b, TextRegistryToken(b.CenterID)) + "\n";
  for (TCompression c : {cmNone, cmZLib, cmBZip2}) {
    SCOPED_TRACE(static_cast<char>(c));
    TIPv4Database db;
    db.LoadFromFile(Write(EncodeDatabaseFile(false, c, "20261207", body)));
    ASSERT_EQ(db.BlockCount(), 5);
    EXPECT_EQ(db.Created, EncodeDayNumber(2026, 12, 7));
    EXPECT_EQ(db.BlockAt(4)->Date, 20040101u);
    EXPECT_EQ(db.BlockAt(db.FindBlock(0x01000001))->Center->Name, "APNIC");
  }
}

TEST_F(LoaderTest, ExtraRegistriesAndCountriesStandBesideBuiltInOnes) {
  TNewCountry rs{Code("RS"), "Serbia", "Belgrade", "Europe", "Serbian Dinar", 6.6e6};
  const std::string body = EncodeBinBody(
      {{kAfrinicID, "AFRINIC"}}, {rs},
      {MakeBlock(0x29000000, 256, "RS", kAfrinicID), MakeBlock(0x29000100, 256, "ZA", kAfrinicID)});
  Load(BinFile(body, cmZLib));
  EXPECT_EQ(FDb.CenterCount(), 6);
  EXPECT_EQ(FDb.CountryCount(), 251);
  const TIPv4Country* c = FDb.CountryAt(FDb.FindCountry(Code("RS")));
  EXPECT_EQ(c->Name, "Serbia");
  EXPECT_EQ(c->Capital, "Belgrade");
  EXPECT_EQ(c->Region, "Europe");
  EXPECT_EQ(c->Currency, "Serbian Dinar");
  EXPECT_EQ(c->Population, 6.6e6);
  EXPECT_EQ(c->Domain, "");
  EXPECT_EQ(FDb.BlockAt(1)->Center->Name, "AFRINIC");
}

TEST_F(LoaderTest, ZeroCountsLoadNothing) {
  Load(BinFile(Le32(0) + Le32(0) + Le32(0)));
  EXPECT_EQ(FDb.BlockCount(), 0);
  EXPECT_EQ(FDb.CountryCount(), 250);
  EXPECT_EQ(FDb.CenterCount(), 5);
}

TEST_F(LoaderTest, HeaderChecks) {
  const std::string empty = Le32(0) + Le32(0) + Le32(0);
  // A file that ends inside the magic, the version or the date is refused.
  for (size_t n : {3, 4, 8, 15}) {
    MakeBin(empty);
    Truncate(n);
    EXPECT_EQ(Load(), Invalid()) << n;
  }
  const struct {
    size_t offset;
    char value;
  } bad[] = {{0, 'i'}, {3, 'b'}, {4, '2'}, {5, '1'}, {6, '3'}, {6, '/'}};
  for (const auto& b : bad) {
    MakeBin(empty);
    SetByte(b.offset, b.value);
    TIPv4Database db;
    EXPECT_EQ(Load(db), Invalid()) << b.offset << " " << b.value;
  }
  MakeBin(empty);
  SetByte(7, '\xFF');  // reserved byte: anything goes
  EXPECT_EQ(Load(), "");
}

TEST_F(LoaderTest, HeaderDates) {
  const std::string body = Le32(0) + Le32(0) + Le32(0);
  const struct {
    const char* date;
    double created;
  } cases[] = {{"20030501", 37742},
               {"20030229", -1},
               {"00000101", -1},
               {"20000229", 36585},
               {"2003x501", -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    TIPv4Database db;
    db.LoadFromFile(Write(BinFile(body, cmNone, c.date)));
    EXPECT_EQ(db.Created, c.created);
  }
}

TEST_F(LoaderTest, LinkErrorsReachTheCaller) {
  EXPECT_THROW_MSG(Load(BinFile(EncodeBinBody({}, {}, {MakeBlock(1, 1, "ZZ", 2)}))), EDatabaseError,
                   "Unknown country code: ZZ");
  TIPv4Database db;
  EXPECT_THROW_MSG(
      db.LoadFromFile(Write(BinFile(EncodeBinBody({}, {}, {MakeBlock(1, 1, "US", 9)})))),
      EDatabaseError, "Unknown NIC code: 9");
}

TEST_F(LoaderTest, OpenErrorIsPassedOn) {
  EXPECT_THROW_MSG(
      FDb.LoadFromFile(FDir.Path("missing.ip4")), EFOpenError,
      "Cannot open file \"" + FDir.Path("missing.ip4") + "\". No such file or directory");
}

TEST_F(LoaderTest, TruncatedBinaryBodiesAreInvalid) {
  TNewCountry rs{Code("RS"), "Serbia", "", "", "", 0};
  const std::string body = EncodeBinBody({{kAfrinicID, "AFRINIC"}}, {rs}, kBlocks);
  // Every cut inside the body ends in a count or a record.
  for (size_t cut = 0; cut < body.size(); ++cut) {
    SCOPED_TRACE(cut);
    TIPv4Database db;
    MakeBin(body.substr(0, cut), cmZLib);
    EXPECT_EQ(Load(db), Invalid());
    // No block is made from missing bytes: what was read is the real data.
    ASSERT_LT(db.BlockCount(), 5);
    for (int i = 0; i < db.BlockCount(); ++i) ASSERT_EQ(db.Blocks[i].StartIP, kBlocks[i].StartIP);
  }
}

TEST_F(LoaderTest, ReadErrorsAtAnyPointReachTheCaller) {
  // The disk fails somewhere in the body: the stream's own error comes out,
  // whatever reads it, and no block is made from the bytes that never came.
  TNewCountry rs{Code("RS"), "Serbia", "", "", "", 0};
  const std::string bin = EncodeBinBody({{kAfrinicID, "AFRINIC"}}, {rs}, kBlocks);
  std::string text;
  for (const auto& b : kBlocks) text += EncodeTextLine(b, TextRegistryToken(b.CenterID)) + "\n";
  for (TCompression c : {cmNone, cmZLib, cmBZip2}) {
    for (bool binary : {true, false}) {
      Make(binary, binary ? bin : text, c);
      const int32_t stored = static_cast<int32_t>(Bytes().size()) - kHeaderSize;
      for (int32_t n = 0; n < stored; n += 7) {
        SCOPED_TRACE(std::string(1, static_cast<char>(c)) + (binary ? " bin " : " text ") +
                     std::to_string(n));
        FailReadAfter(n);
        TIPv4Database db;
        EXPECT_EQ(Load(db), kDiskError);
        ASSERT_LT(db.BlockCount(), 5);
      }
    }
  }
}

TEST_F(LoaderTest, HostileSectionCounts) {
  // A negative count is as broken as one past its section's bound, whatever
  // records follow it.
  const std::string records = EncodeBinBody({}, {}, kBlocks).substr(12);
  for (int section = 0; section < 3; ++section) {
    const int32_t bound = section < 2 ? kMaxKeyedCount : kMaxSectionCount;
    for (int64_t count :
         {int64_t{-1}, int64_t{INT32_MIN}, int64_t{bound} + 1, int64_t{INT32_MAX}}) {
      SCOPED_TRACE(std::to_string(section) + " " + std::to_string(count));
      std::string body;
      for (int s = 0; s < 3; ++s) body += Le32(s == section ? count : 0);
      TIPv4Database db;
      MakeBin(body + records);
      EXPECT_EQ(Load(db), Invalid());
      EXPECT_EQ(db.BlockCount(), 0);
    }
  }
  // A count within the bound but with no records behind it fails quickly.
  MakeBin(Le32(0) + Le32(0) + Le32(kMaxSectionCount));
  EXPECT_EQ(Load(), Invalid());
  // Read straight from a stream, with no file being loaded, the message
  // names none.
  TMemoryStream stream(Le32(-1));
  EXPECT_THROW_MSG(FDb.LoadFromBinStream(stream), EDatabaseError,
                   "The data is not a valid IPv4 database body");
}

TEST_F(LoaderTest, CompressionErrorsArePassedOn) {
  EXPECT_THROW_MSG(Load(EncodeHeader(true, cmZLib, "20030501") + "not zlib data at all"),
                   EZLibError, "data error");
  TIPv4Database db;
  EXPECT_THROW_MSG(db.LoadFromFile(Write(EncodeHeader(false, cmBZip2, "20030501") + "nope")),
                   EBZ2Error, "data error magic");
}

TEST_F(LoaderTest, BodyWithTrailingBytesStillLoads) {
  for (TCompression c : {cmNone, cmZLib, cmBZip2}) {
    TIPv4Database db;
    MakeBin(EncodeBinBody({}, {}, kBlocks), c);
    AppendJunk("trailing junk");
    EXPECT_EQ(Load(db), "");
    EXPECT_EQ(db.BlockCount(), 5);
  }
}

TEST_F(LoaderTest, ProgressFiresOnChangeOnly) {
  std::string body;
  for (int i = 0; i < 3000; ++i) {
    body += EncodeTextLine(MakeBlock(0x0A000000 + 256 * i, 256, "US", 2), "arin") + "\n";
  }
  std::vector<int> seen;
  FDb.OnProgress = [&](TIPv4Database& Sender, int Value) {
    EXPECT_EQ(&Sender, &FDb);
    seen.push_back(Value);
  };
  Load(EncodeDatabaseFile(false, cmNone, "20030501", body));
  ASSERT_FALSE(seen.empty());
  for (size_t i = 1; i < seen.size(); ++i) ASSERT_NE(seen[i], seen[i - 1]);
  EXPECT_EQ(seen.back(), 1000);
  EXPECT_LE(seen.size(), 1001u);
  EXPECT_EQ(FDb.LastProgress, 1000);
}

TEST_F(LoaderTest, FirstProgressAlwaysFires) {
  TIPv4Database db;
  std::vector<int> seen;
  db.OnProgress = [&](TIPv4Database&, int Value) { seen.push_back(Value); };
  TTempDir dir;
  TFileStream f(dir.Write("x", std::string(2000, 'x')));
  db.FileHandle = f.Handle();
  db.FileSize = 2000;
  db.LastProgress = -1;
  db.DoProgress();
  db.DoProgress();
  EXPECT_EQ(seen, std::vector<int>{0});
}

TEST_F(LoaderTest, RecordReadersReadTheLayout) {
  TMemoryStream s(EncodeBinBody({{7, "XNIC"}}, {}, {}).substr(4));  // a registry of its own
  TIPv4Center c;
  c.LoadFromStream(s);
  EXPECT_EQ(c.ID, 7);
  EXPECT_EQ(c.Name, "XNIC");
  // "US" is stored with its second letter first; 10.1.2.3 as 3, 2, 1, 10.
  TMemoryStream b(std::string("\x03\x02\x01\x0A\x00\x01\x00\x00\x01\x00\x00\x00SU\x02\x00", 16));
  TIPv4Block block;
  block.LoadFromStream(b);
  EXPECT_EQ(block.StartIP, 0x0A010203u);
  EXPECT_EQ(block.Count, 256u);
  EXPECT_EQ(block.Date, 1u);
  EXPECT_EQ(block.CountryStr(), "US");
  EXPECT_EQ(block.CenterID, 2);
  EXPECT_THROW(block.LoadFromStream(b), EDatabaseError);
}

TEST_F(LoaderTest, ThousandsOfRandomBlocksRoundTrip) {
  std::mt19937 rng(5);
  std::vector<TIPv4Block> blocks;
  uint64_t at = 0;
  const char* codes[] = {"US", "DE", "JP", "BR", "GB"};
  for (int i = 0; i < 4000; ++i) {
    at += rng() % 3 ? 0 : rng() % 4096;
    const uint32_t count = 1 + rng() % 100000;
    blocks.push_back(MakeBlock(static_cast<uint32_t>(at), count, codes[i % 5],
                               static_cast<uint16_t>(1 + i % 5), 20000101 + i));
    at += count;
  }
  std::vector<TIPv4Block> shuffled = blocks;
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  Load(BinFile(EncodeBinBody({}, {}, shuffled), cmBZip2));
  ASSERT_EQ(FDb.BlockCount(), 4000);
  for (int i = 0; i < 4000; ++i) {
    const TIPv4Block& want = blocks[i];
    ASSERT_EQ(FDb.FindBlock(want.StartIP), i);
    ASSERT_EQ(FDb.FindBlock(want.StartIP + want.Count - 1), i);
    ASSERT_EQ(FDb.BlockAt(i)->Date, want.Date);
    if (i + 1 < 4000 && blocks[i + 1].StartIP > want.StartIP + want.Count) {
      ASSERT_EQ(FDb.FindBlock(want.StartIP + want.Count), -1);
    }
  }
}
