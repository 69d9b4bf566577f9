// IPv6 text forms, prefixes and the search, and the default database's
// IPv6 part read both ways.
#include <algorithm>
#include <filesystem>
#include <random>

#include "ipv4base/ipv4base.h"
#include "ipv4base/ipv4mapped.h"
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

TEST(IPv6TextTest, Rfc5952Forms) {
  const std::pair<const char*, const char*> cases[] = {
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},     // the first of equal runs
      {"2001:0:0:1:0:0:0:1", "2001:0:0:1::1"},           // the longest run
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
      {"0:0:0:0:0:0:0:0", "::"},
      {"0:0:0:0:0:0:0:1", "::1"},
      {"1:0:0:0:0:0:0:0", "1::"},
      {"0:0:0:0:0:ffff:c000:0201", "::ffff:192.0.2.1"},
      {"::ffff:0:0", "::ffff:0.0.0.0"},
      {"::1.2.3.4", "::102:304"},  // only the mapped range keeps the dotted form
      {"FE80::ABCD:0:0:0", "fe80::abcd:0:0:0"},
      {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},
      {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}};
  for (const auto& [in, want] : cases) EXPECT_EQ(IPv6ToStr(A(in)), want) << in;
  TIPv6Address a;
  for (const char* bad : {"", "1", "1.2.3.4", ":::", "1::2::3", "12345::", "fe80::1%eth0",
                          "::ffff:1.2.3", "1:2:3:4:5:6:7:8:9", "g::", " ::1"}) {
    EXPECT_FALSE(StrToIPv6(bad, a)) << bad;
  }
  // Every written form reads back as the same address.
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) {
    TIPv6Address v = TIPv6Address{rng()} << 64 | rng();
    // Runs of zero groups in random places.
    for (int g = 0; g < 8; ++g) {
      if (rng() % 3 == 0) v &= ~(TIPv6Address{0xFFFF} << (16 * g));
    }
    TIPv6Address back = 0;
    const std::string text = IPv6ToStr(v);
    ASSERT_TRUE(StrToIPv6(text, back) && back == v) << text;
    unsigned char bytes[16];
    IPv6ToBytes(v, bytes);
    ASSERT_TRUE(IPv6FromBytes(bytes) == v);
    EXPECT_EQ(bytes[0], static_cast<unsigned char>(v >> 120));
  }
}

TEST(IPv6TextTest, PrefixesCoverExactlyAndAreFewest) {
  EXPECT_EQ(IPv6Prefixes(0, ~TIPv6Address{0}), (std::vector<TIPv6Prefix>{{0, 0}}));
  EXPECT_EQ(IPv6Prefixes(A("::1"), A("::1")), (std::vector<TIPv6Prefix>{{A("::1"), 128}}));
  EXPECT_EQ(IPv6PrefixText(
                IPv6Prefixes(A("2001:db8::"), A("2001:db8:ffff:ffff:ffff:ffff:ffff:ffff")).front()),
            "2001:db8::/32");
  EXPECT_TRUE(IPv6Prefixes(A("::2"), A("::1")).empty());
  std::mt19937_64 rng(9);
  for (int i = 0; i < 2000; ++i) {
    // Ends near aligned edges, where the mistakes are.
    const int shift = static_cast<int>(rng() % 128);
    TIPv6Address first = (TIPv6Address{rng()} << 64 | rng()) >> (rng() % 128);
    TIPv6Address last = first + ((TIPv6Address{1} << shift) - 1) + (rng() % 3) - 1;
    if (last < first) std::swap(first, last);
    const auto p = IPv6Prefixes(first, last);
    ASSERT_FALSE(p.empty());
    TIPv6Address next = first;
    for (size_t k = 0; k < p.size(); ++k) {
      const TIPv6Address host =
          p[k].Bits == 0 ? ~TIPv6Address{0} : (TIPv6Address{1} << (128 - p[k].Bits)) - 1;
      ASSERT_TRUE(p[k].Start == next && (p[k].Start & host) == 0);
      // Two neighbours of one size that make an aligned pair would be one.
      if (k > 0 && p[k].Bits == p[k - 1].Bits && p[k].Bits > 1) {
        const TIPv6Address pair = (TIPv6Address{1} << (129 - p[k].Bits)) - 1;
        ASSERT_NE(p[k - 1].Start & pair, TIPv6Address{0}) << "mergeable prefixes";
      }
      next = p[k].Start | host;
      if (k + 1 < p.size()) ++next;
    }
    ASSERT_TRUE(next == last);
  }
}

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

TEST(IPv6SearchTest, DefaultDatabaseAnswersTheSameLoadedAndInPlace) {
  const std::string path = KESL_DEFAULT_DATABASE;
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "no default database at " << path;
  const auto mapped = TMappedDatabase::Open(path);
  ASSERT_TRUE(mapped);
  TIPv4Database full;
  full.LoadFromFile(path);
  ASSERT_GT(full.IPv6.Count(), 100000);
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
