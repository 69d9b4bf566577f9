#include "ipdb/blocktext.h"

#include <random>

#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "testutil.h"

namespace {

TIPv4Block Block(const char* Start, uint32_t Count) {
  TIPv4Block b;
  b.StartIP = StrToIP(Start);
  b.Count = Count;
  return b;
}

}  // namespace

TEST(AsTextTest, AlignedBlocksInEveryMode) {
  struct {
    const char* start;
    uint32_t count;
    const char* range;
    const char* cidr;
    const char* mask;
  } const cases[] = {
      {"192.168.0.0", 256, "192.168.0.0 - 192.168.0.255", "192.168.0.0/24",
       "192.168.0.0 / 255.255.255.0"},
      {"192.168.0.16", 16, "192.168.0.16 - 192.168.0.31", "192.168.0.16/28",
       "192.168.0.16 / 255.255.255.240"},
      {"192.168.0.0", 1, "192.168.0.0 - 192.168.0.0", "192.168.0.0/32",
       "192.168.0.0 / 255.255.255.255"},
      {"255.0.0.0", 16777216, "255.0.0.0 - 255.255.255.255", "255.0.0.0/8",
       "255.0.0.0 / 255.0.0.0"},
      {"0.0.0.0", 0x80000000, "0.0.0.0 - 127.255.255.255", "0.0.0.0/1", "0.0.0.0 / 128.0.0.0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    const TIPv4Block b = Block(c.start, c.count);
    EXPECT_EQ(b.AsText(nmRange), c.range);
    EXPECT_EQ(b.AsText(nmCIDR), c.cidr);
    EXPECT_EQ(b.AsText(nmMask), c.mask);
    EXPECT_EQ(b.AsText(static_cast<TNotation>(7)), c.range);
    EXPECT_EQ(b.AsText(static_cast<TNotation>(-1)), c.range);
    EXPECT_EQ(b.AsLines(nmCIDR), std::vector<std::string>{c.cidr});
  }
}

TEST(AsTextTest, UnalignedBlocksAreExactPrefixLists) {
  const TIPv4Block b768 = Block("192.168.0.0", 768);
  EXPECT_EQ(b768.AsText(nmRange), "192.168.0.0 - 192.168.2.255");
  EXPECT_EQ(b768.AsText(nmCIDR), "192.168.0.0/23, 192.168.2.0/24");
  EXPECT_EQ(b768.AsText(nmMask), "192.168.0.0 / 255.255.254.0, 192.168.2.0 / 255.255.255.0");
  EXPECT_EQ(b768.AsLines(nmCIDR), (std::vector<std::string>{"192.168.0.0/23", "192.168.2.0/24"}));
  EXPECT_EQ(b768.AsLines(nmRange), std::vector<std::string>{"192.168.0.0 - 192.168.2.255"});
  EXPECT_EQ(Block("10.0.0.0", 3).AsText(nmCIDR), "10.0.0.0/31, 10.0.0.2/32");
  EXPECT_EQ(Block("10.0.0.1", 2).AsText(nmCIDR), "10.0.0.1/32, 10.0.0.2/32");
  // Past the top of the address space only what exists is covered.
  EXPECT_EQ(Block("255.255.255.254", 4).AsText(nmCIDR), "255.255.255.254/31");
  EXPECT_EQ(Block("255.255.255.254", 4).AsText(nmRange), "255.255.255.254 - 0.0.0.1");
  // The longest range text fills its room exactly.
  EXPECT_EQ(Block("200.200.200.200", 0xFFFFFFFFu - 0xC8C8C8C8u + 1).AsText(nmRange),
            "200.200.200.200 - 255.255.255.255");
  EXPECT_EQ(std::string("200.200.200.200 - 255.255.255.255").size(), TIPv4Block::kMaxRangeText);
}

TEST(AsTextTest, ZeroCountKeepsItsPlainForms) {
  const TIPv4Block b = Block("10.0.0.0", 0);
  EXPECT_EQ(b.AsText(nmRange), "10.0.0.0 - 9.255.255.255");
  EXPECT_EQ(b.AsText(nmCIDR), "10.0.0.0/0");
  EXPECT_EQ(b.AsText(nmMask), "10.0.0.0 / 0.0.0.0");
  EXPECT_TRUE(b.Prefixes().empty());
  EXPECT_EQ(b.AsLines(nmCIDR), std::vector<std::string>{"10.0.0.0/0"});
}

// Checks that the prefixes cover exactly [lo, hi], ascending and aligned,
// and that no two neighbours could merge into one (which makes the list
// the shortest possible).
void CheckCover(const TIPv4Block& B) {
  const std::vector<TPrefix> ps = B.Prefixes();
  uint64_t next = B.StartIP;
  const uint64_t hi = B.LastIP();
  ASSERT_FALSE(ps.empty());
  for (size_t i = 0; i < ps.size(); ++i) {
    const TPrefix& p = ps[i];
    const uint64_t size = uint64_t{1} << (32 - p.Bits);
    ASSERT_EQ(p.Start, next);
    ASSERT_EQ(p.Start % size, 0u) << IPToStr(p.Start) << "/" << p.Bits;
    next += size;
    if (i > 0) {
      const TPrefix& q = ps[i - 1];
      const bool mergeable = q.Bits == p.Bits && q.Start % (size * 2) == 0;
      ASSERT_FALSE(mergeable) << IPToStr(q.Start) << "/" << q.Bits;
    }
  }
  ASSERT_EQ(next - 1, hi);
}

TEST(PrefixesTest, ExhaustiveOverSmallBlocks) {
  for (uint32_t start = 0; start < 260; ++start) {
    for (uint32_t count = 1; count <= 300; ++count) {
      TIPv4Block b;
      b.StartIP = 0x0A000000 + start;
      b.Count = count;
      ASSERT_NO_FATAL_FAILURE(CheckCover(b)) << start << "+" << count;
    }
  }
}

TEST(PrefixesTest, RandomBlocksAnywhere) {
  std::mt19937 rng(99);
  for (int i = 0; i < 20000; ++i) {
    TIPv4Block b;
    b.StartIP = rng();
    b.Count = rng() >> (rng() % 32);
    if (b.Count == 0) b.Count = 1;
    ASSERT_NO_FATAL_FAILURE(CheckCover(b)) << IPToStr(b.StartIP) << "+" << b.Count;
    const auto lines = b.AsLines(nmMask);
    ASSERT_EQ(lines.size(), b.Prefixes().size());
    ASSERT_EQ(lines[0], PrefixText(b.Prefixes()[0], nmMask));
  }
}

TEST(CodeTest, CodeToStrSwapBytes) {
  EXPECT_EQ(CodeToStr(18242), "GB");
  EXPECT_EQ(CodeToStr(StrToCode('-', '-')), "--");
  EXPECT_EQ(CodeToStr(StrToCode('u', 's')), "us");
  TIPv4Block b;
  b.CountryCode = 0x5553;
  EXPECT_EQ(b.CountryStr(), "US");
  const unsigned char net[4] = {127, 0, 0, 1};
  const uint32_t little = net[0] | (net[1] << 8) | (net[2] << 16) | (uint32_t{net[3]} << 24);
  EXPECT_EQ(SwapBytes(little), 0x7F000001u);
  EXPECT_EQ(SwapBytes(0x11223344), 0x44332211u);
}

TEST(BlocksTextTest, OneLinePerPrefixAndAStopWhenAsked) {
  const TIPv4Block a = Block("192.168.0.0", 768), b = Block("10.0.0.0", 256);
  const std::vector<const TIPv4Block*> blocks = {&a, &b};
  EXPECT_EQ(BlocksText(blocks, nmCIDR, "\r\n"),
            "192.168.0.0/23\r\n192.168.2.0/24\r\n10.0.0.0/24\r\n");
  EXPECT_EQ(BlocksText(blocks, nmRange, "\n"),
            "192.168.0.0 - 192.168.2.255\n10.0.0.0 - 10.0.0.255\n");
  EXPECT_EQ(BlocksText(blocks, nmMask, "\n", [](size_t I) { return I == 1; }),
            "192.168.0.0 / 255.255.254.0\n192.168.2.0 / 255.255.255.0\n");
  EXPECT_EQ(BlocksText({}, nmCIDR, "\n"), "");
}
