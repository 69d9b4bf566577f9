// The in-place reader against the full load: the same answers everywhere,
// and no answer at all from a file it must not trust.
#include "ipdb/inplace.h"

#include <algorithm>
#include <filesystem>
#include <random>

#include "corrupt.h"

namespace {

// Both readers at IP: the same block, date, country and registry, or none.
void ExpectSameAnswer(const TInPlaceDatabase& Mapped, const TIPv4Database& Full, uint32_t IP) {
  TIPv4Block found;
  const bool inPlace = Mapped.Find(IP, found);
  const int i = Full.FindBlock(IP);
  ASSERT_EQ(inPlace, i >= 0) << IPToStr(IP);
  if (i < 0) return;
  const TIPv4Block& want = Full.Blocks[static_cast<size_t>(i)];
  ASSERT_EQ(found.StartIP, want.StartIP) << IPToStr(IP);
  ASSERT_EQ(found.Count, want.Count);
  ASSERT_EQ(found.Date, want.Date);
  ASSERT_EQ(found.CountryCode, want.CountryCode);
  ASSERT_EQ(found.Country->Name, want.Country->Name);
  ASSERT_EQ(found.Center->Name, want.Center->Name);
}

// Every block's first and last address, and the addresses around it.
void ExpectSameAtEveryEdge(const TInPlaceDatabase& Mapped, const TIPv4Database& Full) {
  for (const TIPv4Block& b : Full.Blocks) {
    for (uint32_t ip : {b.StartIP, b.LastIP(), b.StartIP - 1, b.LastIP() + 1}) {
      ExpectSameAnswer(Mapped, Full, ip);
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

class MappedTest : public CorruptFileTest {
 protected:
  // A plain file of Blocks with the mark, and the two readers over it.
  void Open(const std::vector<TIPv4Block>& Blocks, bool Mark = true) {
    std::string body =
        EncodeBinBody({{kAfrinicID, "AFRINIC"}}, {{Code("RS"), "Serbia", "", "", "", 0}}, Blocks);
    if (Mark) body += EncodeTrailer({{ttSortedDisjoint, {}}});
    MakeBin(body);
    FMapped = TInPlaceDatabase::Open(WriteFile());
    FFull = std::make_unique<TIPv4Database>();
    ASSERT_EQ(Load(*FFull), "");
  }
  std::unique_ptr<TInPlaceDatabase> FMapped;
  std::unique_ptr<TIPv4Database> FFull;
};

}  // namespace

TEST_F(MappedTest, SmallDatabaseWithGapsAndEdges) {
  // Blocks at both ends of the space, gaps between, a file country and
  // registry, and a lone address.
  Open({MakeBlock(0, 256, "AU", kApnicID, 20010101), MakeBlock(0x01000000, 0x00FFFFFF, "US"),
        MakeBlock(0x0A000000, 1, "RS", kAfrinicID, 20200202),
        MakeBlock(0x7F000000, 0x01000000, "JP"), MakeBlock(0xC0000000, 0x10000, "DE", kRipeID),
        MakeBlock(0xFFFFFFFF, 1, "GB", kRipeID)});
  ASSERT_TRUE(FMapped);
  EXPECT_EQ(FMapped->BlockCount(), 6);
  EXPECT_EQ(FMapped->Created(), FFull->Created);
  // Halving over all records, then with the index.
  for (int pass = 0; pass < 2 && !HasFatalFailure(); ++pass) {
    if (pass) FMapped->BuildIndex();
    ExpectSameAtEveryEdge(*FMapped, *FFull);
    std::mt19937 rng(7);
    for (int i = 0; i < 100000 && !HasFatalFailure(); ++i)
      ExpectSameAnswer(*FMapped, *FFull, rng());
  }
  TIPv4Block b;
  ASSERT_TRUE(FMapped->Find(0x0A000000, b));
  EXPECT_EQ(b.Country->Name, "Serbia");
  EXPECT_EQ(b.Center->Name, "AFRINIC");
  EXPECT_EQ(b.Date, 20200202u);
}

TEST_F(MappedTest, BlockRunningPastTheTop) {
  Open({MakeBlock(0x01000000, 256, "AU", kApnicID), MakeBlock(0xFFFFFF00, 512, "US")});
  ASSERT_TRUE(FMapped);
  for (int pass = 0; pass < 2; ++pass) {
    if (pass) FMapped->BuildIndex();
    ExpectSameAtEveryEdge(*FMapped, *FFull);
    for (uint32_t ip : {0u, 5u, 0xFFFFFEFFu, 0xFFFFFF00u, 0xFFFFFFFFu})
      ExpectSameAnswer(*FMapped, *FFull, ip);
  }
}

TEST_F(MappedTest, OnlyMarkedPlainBinaryFilesQualify) {
  const std::vector<TIPv4Block> blocks = {MakeBlock(0x01000000, 256, "AU", kApnicID)};
  Open(blocks, false);
  EXPECT_FALSE(FMapped);  // no mark
  const std::string body = EncodeBinBody({}, {}, blocks) + EncodeTrailer({{ttSortedDisjoint, {}}});
  for (TCompression c : {cmZLib, cmBZip2}) {
    MakeBin(body, c);
    EXPECT_FALSE(TInPlaceDatabase::Open(WriteFile())) << static_cast<char>(c);
  }
  MakeText("apnic|AU|ipv4|1.0.0.0|256|20110811|allocated\n");
  EXPECT_FALSE(TInPlaceDatabase::Open(WriteFile()));
  EXPECT_FALSE(TInPlaceDatabase::Open(FDir.Path("missing.ip4")));
  EXPECT_FALSE(TInPlaceDatabase::Open(FDir.Dir()));
  // Cut anywhere, or with a count out of bounds: never mapped.
  MakeBin(body);
  const std::string whole = Bytes();
  for (size_t n = 0; n < whole.size(); ++n) {
    MakeBin(body);
    Truncate(n);
    ASSERT_FALSE(TInPlaceDatabase::Open(WriteFile())) << n;
  }
  MakeBin(body);
  SetByte(16 + 8 + 3, '\x7F');  // the block count far past the records
  EXPECT_FALSE(TInPlaceDatabase::Open(WriteFile()));
  // Other trailer entries are passed over; the mark may come after them.
  MakeBin(EncodeBinBody({}, {}, blocks) + EncodeTrailer({{99, "later"}, {ttSortedDisjoint, {}}}));
  EXPECT_TRUE(TInPlaceDatabase::Open(WriteFile()));
}

TEST_F(MappedTest, LyingMarkGivesOnlyBlocksThatHoldTheAddress) {
  // Unsorted and overlapping, yet marked: any answer still holds the address.
  std::vector<TIPv4Block> blocks;
  std::mt19937 rng(3);
  for (int i = 0; i < 500; ++i) blocks.push_back(MakeBlock(rng(), 1 + rng() % 100000000, "US"));
  MakeBin(EncodeBinBody({}, {}, blocks) + EncodeTrailer({{ttSortedDisjoint, {}}}));
  FMapped = TInPlaceDatabase::Open(WriteFile());
  ASSERT_TRUE(FMapped);
  for (int i = 0; i < 200000; ++i) {
    if (i == 100000) FMapped->BuildIndex();
    const uint32_t ip = rng();
    TIPv4Block b;
    if (FMapped->Find(ip, b)) {
      ASSERT_TRUE(b.StartIP <= ip && ip - b.StartIP < b.Count) << IPToStr(ip);
    }
  }
}

TEST(MappedDefaultTest, SameAnswersAsTheFullLoadOnTheDefaultDatabase) {
  const std::string path = KESL_DEFAULT_DATABASE;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no default database at " << path;
  const auto mapped = TInPlaceDatabase::Open(path);
  ASSERT_TRUE(mapped) << "the default database cannot be searched in place";
  TIPv4Database full;
  full.LoadFromFile(path);
  ASSERT_EQ(mapped->BlockCount(), full.BlockCount());
  // Halving over all records, then with the index; one at a time and many
  // at once.
  for (int pass = 0; pass < 2 && !testing::Test::HasFatalFailure(); ++pass) {
    if (pass) mapped->BuildIndex();
    ExpectSameAtEveryEdge(*mapped, full);
    std::mt19937 rng(11);
    std::vector<uint32_t> many(1000000);
    for (uint32_t& ip : many) {
      ip = rng();
      ExpectSameAnswer(*mapped, full, ip);
      if (testing::Test::HasFatalFailure()) return;
    }
    std::vector<TIPv4Block> blocks(many.size());
    std::unique_ptr<bool[]> held(new bool[many.size()]);
    mapped->FindMany(many.data(), many.size(), blocks.data(), held.get());
    for (size_t i = 0; i < many.size(); ++i) {
      const int want = full.FindBlock(many[i]);
      ASSERT_EQ(held[i], want >= 0) << IPToStr(many[i]);
      if (held[i]) {
        ASSERT_EQ(blocks[i].StartIP, full.Blocks[static_cast<size_t>(want)].StartIP);
      }
    }
  }
}

// The same for IPv6: the block found in place and loaded, or none.
void ExpectSameAnswer6(const TInPlaceDatabase& Mapped, const TIPv4Database& Full, TIPv6Address IP) {
  TIPv6Block found;
  const bool inPlace = Mapped.Find(IP, found);
  const int i = Full.IPv6.Find(IP);
  ASSERT_EQ(inPlace, i >= 0) << IPv6ToStr(IP);
  if (i < 0) return;
  const TIPv6Block& want = Full.IPv6.Blocks[static_cast<size_t>(i)];
  ASSERT_EQ(found.Start, want.Start) << IPv6ToStr(IP);
  ASSERT_EQ(found.Last, want.Last) << IPv6ToStr(IP);
  ASSERT_EQ(found.CountryCode, want.CountryCode);
}

// Random IPv6 addresses near the blocks and anywhere, and every block's
// edges: searched in place before and after the index, against the load.
void ExpectSameIPv6Answers(const TInPlaceDatabase& Mapped, const TIPv4Database& Full, int Random) {
  for (int pass = 0; pass < 2 && !testing::Test::HasFatalFailure(); ++pass) {
    if (pass) Mapped.BuildIndex();
    for (const TIPv6Block& b : Full.IPv6.Blocks) {
      for (TIPv6Address ip : {b.Start, b.Last, b.Start - 1, b.Last + 1}) {
        ExpectSameAnswer6(Mapped, Full, ip);
        if (testing::Test::HasFatalFailure()) return;
      }
    }
    std::mt19937_64 rng(5);
    // Every block's edges many at once too, then random addresses.
    std::vector<TIPv6Address> many;
    for (const TIPv6Block& b : Full.IPv6.Blocks) {
      for (TIPv6Address ip : {b.Start, b.Last, b.Start - 1, b.Last + 1}) many.push_back(ip);
    }
    for (int i = 0; i < Random && !testing::Test::HasFatalFailure(); ++i) {
      const TIPv6Address any = TIPv6Address{rng()} << 64 | rng();
      const TIPv6Block& near = Full.IPv6.Blocks[rng() % Full.IPv6.Blocks.size()];
      // Anywhere, inside a block, and just past a block's first /64.
      for (TIPv6Address ip : {any, near.Start + (any % (near.Last - near.Start + 1)),
                              near.Start + (TIPv6Address{1} << 64) + (rng() & 0xFF)}) {
        ExpectSameAnswer6(Mapped, Full, ip);
        many.push_back(ip);
      }
    }
    // Many at once: the same blocks as one at a time.
    std::vector<TIPv6Block> blocks(many.size());
    std::unique_ptr<bool[]> held(new bool[many.size()]);
    Mapped.FindMany(many.data(), many.size(), blocks.data(), held.get());
    for (size_t i = 0; i < many.size(); ++i) {
      TIPv6Block one;
      ASSERT_EQ(held[i], Mapped.Find(many[i], one)) << IPv6ToStr(many[i]);
      if (held[i]) {
        ASSERT_EQ(blocks[i].Start, one.Start) << IPv6ToStr(many[i]);
      }
    }
  }
}

TEST_F(MappedTest, IPv6AnswersWithAndWithoutTheIndex) {
  // Blocks across /16 boundaries, at both ends of the space, many in one
  // /16, and runs of small blocks that share their upper 64 bits (a /64
  // cut into /96s and single addresses, with gaps).
  std::vector<TIPv6Block> blocks6;
  auto add = [&](TIPv6Address First, TIPv6Address Last) {
    TIPv6Block b;
    b.Start = First;
    b.Last = Last;
    b.CountryCode = Code(blocks6.size() % 2 ? "DE" : "US");
    b.CenterID = kRipeID;
    blocks6.push_back(b);
  };
  const TIPv6Address one = 1;
  add(0, 0xFF);
  add(one << 112 | 0xFFFF, (one << 113) - 1);  // 1::ffff to 1:ffff:...
  for (uint64_t i = 0; i < 3000; ++i) {
    const TIPv6Address start = TIPv6Address{0x2A00} << 112 | TIPv6Address{i * 7} << 80;
    add(start, start + (one << 80) - 1);
  }
  const TIPv6Address base = TIPv6Address{0x20010DB8} << 96;
  for (uint64_t i = 0; i < 500; ++i)
    add(base + (TIPv6Address{i * 2} << 32), base + (i * 2 << 32 | 0xFFFFFFFF));
  for (uint64_t i = 0; i < 500; ++i) add(base + (one << 64) + i * 3, base + (one << 64) + i * 3);
  // A block that ends inside a /64 and the next that begins there, alone
  // with that upper half: the addresses below its start are the first's.
  const TIPv6Address half = (one << 64) / 2;
  add(base + (one << 70), base + (TIPv6Address{65} << 64) + half - 1);
  add(base + (TIPv6Address{65} << 64) + half, base + (TIPv6Address{66} << 64) - 1);
  add(~TIPv6Address{0} - 10, ~TIPv6Address{0});
  std::sort(blocks6.begin(), blocks6.end(),
            [](const TIPv6Block& a, const TIPv6Block& b) { return a.Start < b.Start; });
  MakeBin(EncodeBinBody({}, {}, {MakeBlock(0x01000000, 256, "AU", kApnicID)}) +
          EncodeTrailer({{ttSortedDisjoint, {}}, {ttIPv6Blocks, EncodeIPv6Blocks(blocks6)}}));
  FMapped = TInPlaceDatabase::Open(WriteFile());
  ASSERT_TRUE(FMapped);
  FFull = std::make_unique<TIPv4Database>();
  ASSERT_EQ(Load(*FFull), "");
  ASSERT_EQ(FFull->IPv6.Count(), static_cast<int>(blocks6.size()));
  ExpectSameIPv6Answers(*FMapped, *FFull, 100000);
}

TEST(MappedDefaultTest, SameIPv6AnswersAsTheFullLoadOnTheDefaultDatabase) {
  const std::string path = KESL_DEFAULT_DATABASE;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no default database at " << path;
  const auto mapped = TInPlaceDatabase::Open(path);
  ASSERT_TRUE(mapped);
  TIPv4Database full;
  full.LoadFromFile(path);
  ASSERT_GT(full.IPv6.Count(), 0);
  ExpectSameIPv6Answers(*mapped, full, 200000);
}

TEST(InPlaceCutTest, AFileCutShortUnderTheMappingGivesAnErrorAndTheProcessGoesOn) {
  TTempDir dir;
  // Pages of records of both families, and a country the built-in table
  // lacks, whose record is read from the file when first asked for.
  std::vector<TIPv4Block> blocks;
  for (uint32_t i = 0; i < 20000; ++i) blocks.push_back(MakeBlock(0x0A000000 + i * 256, 256, "XQ"));
  std::vector<TIPv6Block> blocks6;
  for (uint32_t i = 0; i < 2000; ++i) {
    TIPv6Block b;
    b.Start = TIPv6Address{0x20010DB8} << 96 | TIPv6Address{i} << 64;
    b.Last = b.Start | ~uint64_t{0};
    b.CountryCode = Code("US");
    b.CenterID = kArinID;
    blocks6.push_back(b);
  }
  TNewCountry xq;
  xq.Code = Code("XQ");
  xq.Name = "Atlantis";
  const std::string body =
      EncodeBinBody({}, {xq}, blocks) +
      EncodeTrailer({{ttIPv6Blocks, EncodeIPv6Blocks(blocks6)}, {ttSortedDisjoint, {}}});
  const std::string path = dir.Write("cut.ip4", EncodeDatabaseFile(true, cmNone, "20261201", body));
  const auto mapped = TInPlaceDatabase::Open(path);
  ASSERT_TRUE(mapped);
  TIPv4Block found;
  ASSERT_TRUE(mapped->Find(0x0A000001, found));
  EXPECT_EQ(found.Country->Name, "Atlantis");

  // Another program truncates the file in place, as a copy over it does.
  ASSERT_EQ(::truncate(path.c_str(), 4096), 0);
  const std::string message =
      "The file " + path + " changed while it was read: it is shorter than when it was opened";
  EXPECT_THROW_MSG(mapped->Find(0x0A000000 + 19999 * 256, found), EDatabaseError, message);
  TIPv6Block found6;
  EXPECT_THROW_MSG(mapped->Find(blocks6.back().Start, found6), EDatabaseError, message);
  EXPECT_THROW_MSG(mapped->BuildIndex(), EDatabaseError, message);
  // Every search fails alike, not once; the process lives on to open the
  // file anew, which it leaves to the full load and its error.
  EXPECT_THROW_MSG(mapped->Find(0x0A000001, found), EDatabaseError, message);
  EXPECT_FALSE(TInPlaceDatabase::Open(path));
}
