// IPv6 text forms, prefixes and the search, and the default database's
// IPv6 part read both ways.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "ipdb/database.h"
#include "ipdb/inplace.h"
#include "testutil.h"

namespace {

TIPv6Address A(const char* Text) {
  TIPv6Address a = 0;
  EXPECT_TRUE(StrToIPv6(Text, a)) << Text;
  return a;
}

TIPv6Block Block6(const char* First, const char* Last, const char* Country = "US") {
  TIPv6Block b;
  b.Start = A(First);
  b.Last = A(Last);
  b.CountryCode = Code(Country);
  b.CenterID = kArinID;
  return b;
}

}  // namespace

TEST(IPv6SearchTest, AgreesWithAScanWhereStartsShareTheirUpperHalf) {
  // Blocks smaller than a /64 share the upper half of their starts; others
  // span many of them.
  TIPv4Database db;
  db.IPv6.Blocks = {Block6("2001:db8::", "2001:db8::ff"),
                    Block6("2001:db8::100", "2001:db8::100"),
                    Block6("2001:db8::1000", "2001:db8:0:1::ffff"),
                    Block6("2001:db8:0:1::1:0", "2001:db8:0:1::ffff:ffff"),
                    Block6("2001:db8:0:2::", "2001:db8:0:ffff:ffff:ffff:ffff:ffff"),
                    Block6("::", "::", "NL"),
                    Block6("ffff::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff")};
  db.SortAndLink();  // sorts them too
  std::vector<TIPv6Address> probes;
  for (const TIPv6Block& b : db.IPv6.Blocks) {
    for (const TIPv6Address a : {b.Start - 1, b.Start, b.Start + 1, b.Last - 1, b.Last, b.Last + 1})
      probes.push_back(a);
  }
  std::mt19937_64 rng(3);
  for (int i = 0; i < 5000; ++i)
    probes.push_back(A("2001:db8::") + (rng() % (TIPv6Address{1} << 66)));
  for (const TIPv6Address a : probes) {
    int want = -1;
    for (size_t i = 0; i < db.IPv6.Blocks.size(); ++i) {
      if (db.IPv6.Blocks[i].Start <= a && a <= db.IPv6.Blocks[i].Last) want = static_cast<int>(i);
    }
    ASSERT_EQ(db.IPv6.Find(a), want) << IPv6ToStr(a);
  }
  EXPECT_EQ(db.IPv6.Blocks[0].Country->Name, "Netherlands");
  EXPECT_EQ(db.IPv6.CountryBlocks(Code("NL")).size(), 1u);
  // A block naming no known country fails the link, as an IPv4 one does.
  db.IPv6.Blocks.push_back(Block6("3000::", "3000::", "Q1"));
  EXPECT_THROW(db.SortAndLink(), EDatabaseError);
}

TEST(IPv6SearchTest, ManyBlocksAreSearchedByTheirFirstBitsAsByAPlainSearch) {
  // Enough blocks for the index by the first 16 bits: crowded in a few
  // /16s, some smaller than a /64, one spanning many /16s, and most /16s
  // with none.
  TIPv4Database db;
  std::mt19937_64 rng(16);
  TIPv6Address at = A("2001:db8::");
  for (int i = 0; i < 3000; ++i) {
    const TIPv6Address size =
        (i % 3 == 0) ? 1 + rng() % 4096 : TIPv6Address{1} << (64 + rng() % 16);
    TIPv6Block b = Block6("::", "::");
    b.Start = at;
    b.Last = at + size - 1;
    db.IPv6.Blocks.push_back(b);
    at += size + (rng() % 2 ? 0 : size);
  }
  db.IPv6.Blocks.push_back(Block6("2400::", "240f:ffff:ffff:ffff:ffff:ffff:ffff:ffff"));
  at = A("2a00::");
  for (int i = 0; i < 3000; ++i) {
    const TIPv6Address size = TIPv6Address{1} << (80 + rng() % 24);
    TIPv6Block b = Block6("::", "::");
    b.Start = at;
    b.Last = at + size - 1;
    db.IPv6.Blocks.push_back(b);
    at += size * (1 + rng() % 3);
  }
  db.SortAndLink();
  const std::vector<TIPv6Block>& blocks = db.IPv6.Blocks;
  std::vector<TIPv6Address> probes;
  for (const TIPv6Block& b : blocks) {
    for (const TIPv6Address a : {b.Start - 1, b.Start, b.Start + 1, b.Last - 1, b.Last, b.Last + 1})
      probes.push_back(a);
  }
  for (int i = 0; i < 20000; ++i) {
    probes.push_back(TIPv6Address{rng() % (uint64_t{1} << 61) | uint64_t{1} << 61} << 64 | rng());
  }
  for (const TIPv6Address a : probes) {
    const auto after =
        std::upper_bound(blocks.begin(), blocks.end(), a,
                         [](TIPv6Address v, const TIPv6Block& b) { return v < b.Start; });
    const int want = after != blocks.begin() && a <= (after - 1)->Last
                         ? static_cast<int>(after - blocks.begin()) - 1
                         : -1;
    ASSERT_EQ(db.IPv6.Find(a), want) << IPv6ToStr(a);
  }
}

TEST(IPv6SearchTest, DefaultDatabaseAnswersTheSameLoadedAndInPlace) {
  const std::string path = KESL_DEFAULT_DATABASE;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no default database at " << path;
  const auto mapped = TInPlaceDatabase::Open(path);
  ASSERT_TRUE(mapped);
  TIPv4Database full;
  full.LoadFromFile(path);
  // Every range of the source with a country is one block or more (split
  // where IANA's assignments change), so the comparison below covers all
  // of the real IPv6 data, not a part of it.
  std::ifstream source(KESL_GEOIP6_SOURCE);
  if (!source) GTEST_SKIP() << "no IPv6 source at " << KESL_GEOIP6_SOURCE;
  int ranges = 0;
  for (std::string line; std::getline(source, line);) {
    ranges += !line.empty() && line[0] != '#' && line.find(",??") == std::string::npos;
  }
  ASSERT_GT(ranges, 0);
  ASSERT_GE(full.IPv6.Count(), ranges);
  ASSERT_EQ(mapped->IPv6BlockCount(), full.IPv6.Count());
  std::mt19937_64 rng(17);
  auto same = [&](TIPv6Address a) {
    TIPv6Block b;
    const int i = full.IPv6.Find(a);
    ASSERT_EQ(mapped->Find(a, b), i >= 0) << IPv6ToStr(a);
    if (i < 0) return;
    const TIPv6Block& f = full.IPv6.Blocks[static_cast<size_t>(i)];
    ASSERT_TRUE(b.Start == f.Start && b.Last == f.Last && b.CountryCode == f.CountryCode &&
                b.Center->ID == f.Center->ID)
        << IPv6ToStr(a);
  };
  for (const TIPv6Block& b : full.IPv6.Blocks) {
    for (const TIPv6Address a : {b.Start - 1, b.Start, b.Last, b.Last + 1}) same(a);
  }
  for (int i = 0; i < 200000 && !testing::Test::HasFatalFailure(); ++i) {
    same(TIPv6Address{0x2000 + rng() % 0x1000} << 112 | (TIPv6Address{rng()} << 64 | rng()) >> 16);
  }
}
