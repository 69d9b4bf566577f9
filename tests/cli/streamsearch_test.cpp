// The searches of a stream: the file in place and the loaded database give
// the same blocks, handed back in the order each family's addresses came,
// before and after each family's index of the file is built partway
// through.
#include "cli/streamsearch.h"

#include <random>

#include "cli/lookupdb.h"
#include "ipdb/encoder.h"
#include "testutil.h"

namespace {

TIPv6Block Block6(TIPv6Address Start, int Bits, const char* Country) {
  TIPv6Block b;
  b.Start = Start;
  b.Last = Start | IPv6HostMask(Bits);
  b.CountryCode = Code(Country);
  b.CenterID = kRipeID;
  b.Date = 20200101;
  return b;
}

}  // namespace

TEST(StreamSearchTest, InPlaceAndLoadedAgreeInOrderAcrossTheIndex) {
  std::vector<TIPv4Block> blocks;
  for (uint32_t i = 0; i < 2000; ++i) blocks.push_back(MakeBlock(i << 20, 1u << 19, "DE"));
  const TIPv6Address doc = TIPv6Address{0x20010db8} << 96;
  std::vector<TIPv6Block> blocks6;
  for (uint32_t i = 0; i < 500; ++i) {
    blocks6.push_back(Block6(doc + (TIPv6Address{i} << 72), 57, "FR"));
  }
  const std::string body =
      EncodeBinBody({}, {}, blocks) +
      EncodeTrailer({{ttSortedDisjoint, {}}, {ttIPv6Blocks, EncodeIPv6Blocks(blocks6)}});
  TTempDir dir;
  const std::string path =
      dir.Write("country.ip4", EncodeDatabaseFile(true, cmNone, "20261201", body));
  TLookupDatabase mapped, loaded;
  std::ostringstream err;
  ASSERT_TRUE(mapped.Open(path, true, err));
  ASSERT_TRUE(mapped.Mapped());
  ASSERT_TRUE(loaded.Open(path, false, err));
  ASSERT_TRUE(loaded.Loaded());

  TStreamSearch inPlace(mapped, err), whole(loaded, err);
  std::mt19937_64 rng(11);
  size_t held4 = 0, held6 = 0;
  // Batches of 1 to 300 addresses, 14,000 in all, a third of them IPv6:
  // each family's index comes after 4,096 of its addresses, the IPv4 one
  // first, each in the middle of a batch's worth.
  for (size_t total = 0; total < 14000;) {
    const size_t n = 1 + rng() % 300;
    std::vector<int> families;
    for (size_t i = 0; i < n; ++i, ++total) {
      const bool six = rng() % 3 == 0;
      families.push_back(six ? 6 : 4);
      if (six) {
        const TIPv6Address a = doc + (TIPv6Address{rng() % 1000} << 72) + rng();
        inPlace.Add(a);
        whole.Add(a);
      } else {
        const auto a = static_cast<uint32_t>(rng() % (2100u << 20));
        inPlace.Add(a);
        whole.Add(a);
      }
    }
    inPlace.Search();
    whole.Search();
    for (const int family : families) {
      if (family == 4) {
        uint32_t a = 0, b = 1;
        const TIPv4Block* x = inPlace.Next(a);
        const TIPv4Block* y = whole.Next(b);
        ASSERT_EQ(a, b);
        ASSERT_EQ(x != nullptr, y != nullptr) << IPToStr(a);
        if (!x) continue;
        ++held4;
        ASSERT_EQ(x->StartIP, y->StartIP);
        ASSERT_TRUE(a - x->StartIP < x->Count) << IPToStr(a);
        ASSERT_EQ(x->Country->Code, Code("DE"));
      } else {
        TIPv6Address a = 0, b = 1;
        const TIPv6Block* x = inPlace.Next(a);
        const TIPv6Block* y = whole.Next(b);
        ASSERT_TRUE(a == b);
        ASSERT_EQ(x != nullptr, y != nullptr) << IPv6ToStr(a);
        if (!x) continue;
        ++held6;
        ASSERT_TRUE(x->Start == y->Start && x->Start <= a && a <= x->Last) << IPv6ToStr(a);
        ASSERT_EQ(x->Center->ID, kRipeID);
      }
    }
  }
  // Both kinds of answer were tried, in both families.
  EXPECT_GT(held4, 2500u);
  EXPECT_GT(held6, 800u);
  EXPECT_LT(held4 + held6, 10000u);
  EXPECT_EQ(err.str(), "");  // nothing changed under the searches
}
