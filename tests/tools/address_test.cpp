#include "tools/address.h"

#include <arpa/inet.h>
#include <random>

#include "testutil.h"
#include "tools/text.h"

namespace {

constexpr uint32_t kFail = 0xFFFFFFFF;

TIPv6Address A(const char* Text) {
  TIPv6Address a = 0;
  EXPECT_TRUE(StrToIPv6(Text, a)) << Text;
  return a;
}

}  // namespace

TEST(ReadIntegerTest, AcceptedAndRefusedForms) {
  struct {
    const char* text;
    bool ok;
    int64_t value;
  } const cases[] = {
      {"10", true, 10},
      {"   10", true, 10},
      {"+10", true, 10},
      {"0x0A", true, 10},
      {"0X0a", true, 10},
      {"$0A", true, 10},
      {"-0", true, 0},
      {"-12", true, -12},
      {"$FFFFFFFF", true, 4294967295},
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"$8000000000000000", false, 0},
      {"", false, 0},
      {" ", false, 0},
      {"10 ", false, 0},
      {"1e1", false, 0},
      {"+", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"+-1", false, 0},
      {"\t1", false, 0},
      {"12a", false, 0},
      {"- 1", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int64_t v = 12345;
    EXPECT_EQ(ReadInteger(c.text, v), c.ok);
    if (c.ok) {
      EXPECT_EQ(v, c.value);
    }
  }
}

TEST(StrToIPTest, Table) {
  struct {
    const char* text;
    uint32_t ip;
  } const cases[] = {
      {"127.0.0.1", 0x7F000001},
      {"0.0.0.0", 0},
      {"255.255.255.254", 0xFFFFFFFE},
      {"255.255.255.255", kFail},
      {"1.2.3", kFail},
      {"1..2.3", kFail},
      {"1.2.3.", kFail},
      {"", kFail},
      {"a.b.c.d", kFail},
      {"1.2.3.4 ", kFail},
      {" 1.2.3.4", 0x01020304},
      {"256.1.1.1", kFail},
      {"4294967297.1.1.1", kFail},
      {"1.2.3.4.5", 0x01020304},
      {"10.1.2.3.x", 0x0A010203},
      {"0x0A.$10.+1.-0", 0x0A100100},
      {"-1.2.3.4", kFail},
      {"1.2.3.4\n", kFail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(StrToIP(c.text), c.ip);
  }
}

TEST(StrToIPTest, RoundTripsRandomAddressesThroughIPToStr) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const uint32_t ip = rng();
    const std::string text = IPToStr(ip);
    ASSERT_EQ(StrToIP(text), ip == kFail ? kFail : ip) << text;
    // No octet carries a leading zero.
    for (size_t dot = 0; dot != std::string::npos; dot = text.find('.', dot + 1)) {
      const size_t at = dot == 0 ? 0 : dot + 1;
      ASSERT_FALSE(text[at] == '0' && at + 1 < text.size() && text[at + 1] != '.') << text;
    }
  }
  EXPECT_EQ(IPToStr(0x0A000001), "10.0.0.1");
  EXPECT_EQ(IPToStr(0xFFFFFF00), "255.255.255.0");
}

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
    // The one canonical text, as the C library writes it too (lower case,
    // no leading zeros), but for ::/96, which it writes dotted as RFC 5952
    // no longer does.
    if (v >> 32 != 0) {
      char ntop[INET6_ADDRSTRLEN];
      ASSERT_NE(inet_ntop(AF_INET6, bytes, ntop, sizeof ntop), nullptr);
      ASSERT_EQ(text, ntop);
    }
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

TEST(IPv6TextTest, TheFullFormIsReadAsTheSystemReadsIt) {
  // Eight groups of four digits, 39 characters, have a reader of their
  // own: every character in turn, and two at random, changed to another
  // digit, a separator or a byte that is neither, against the C library.
  const char others[] = {'0', '9', 'a', 'f', 'A', 'F',  'g',    'G',   ':',
                         '.', ' ', '/', '@', '`', '\0', '\x80', '\xff'};
  std::mt19937 rng(4);
  int valid = 0;
  for (int i = 0; i < 60000; ++i) {
    std::string text;
    for (int g = 0; g < 8; ++g) {
      if (g) text += ':';
      for (int d = 0; d < 4; ++d) text += "0123456789abcdefABCDEF"[rng() % (i % 3 ? 16 : 22)];
    }
    if (i % 4) text[static_cast<size_t>(i / 4) % 39] = others[rng() % std::size(others)];
    if (i % 5 == 0) text[rng() % 39] = others[rng() % std::size(others)];
    unsigned char bytes[16];
    const bool system =
        text.find('\0') == std::string::npos && inet_pton(AF_INET6, text.c_str(), bytes) == 1;
    TIPv6Address a = 0;
    bool canonical = false;
    ASSERT_EQ(StrToIPv6(text, a, &canonical), system) << text;
    if (!system) continue;
    ++valid;
    ASSERT_EQ(a, IPv6FromBytes(bytes)) << text;
    ASSERT_EQ(canonical, IPv6ToStr(a) == text) << text;
  }
  EXPECT_GT(valid, 20000);
}

TEST(IPv6TextTest, KnowsATextWrittenAsItWouldWriteIt) {
  // Each differs from the written form in one way: case, a leading zero,
  // a "::" for one zero group, for a shorter run than another, or for the
  // later of two equal runs, no "::" where one belongs, a dotted quad
  // outside the mapped range, a mapped address in hex.
  const std::pair<const char*, bool> texts[] = {{"2001:db8::1", true},
                                                {"2001:DB8::1", false},
                                                {"2001:0db8::1", false},
                                                {"::", true},
                                                {"0:0:0:0:0:0:0:0", false},
                                                {"1:0:1:1:1:1:1:1", true},
                                                {"1::1:1:1:1:1:1", false},
                                                {"1::1:0:0:0:1", false},
                                                {"1:0:0:1::1", true},
                                                {"1:0:0:1:1::1", false},
                                                {"1::1:1:0:0:1", true},
                                                {"1:1:1:1:1::", true},
                                                {"2001:db8::1.2.3.4", false},
                                                {"::ffff:1.2.3.4", true},
                                                {"::FFFF:1.2.3.4", false},
                                                {"::ffff:102:304", false},
                                                {"::0:ffff:1.2.3.4", false},
                                                {"0::ffff:1.2.3.4", false},
                                                {"a:b:c:d:e:f:aaaa:ffff", true},
                                                {"a:b:c:d:e:f:aaaa:fFff", false}};
  for (const auto& [text, written] : texts) {
    TIPv6Address a = 0;
    bool canonical = !written;
    ASSERT_TRUE(StrToIPv6(text, a, &canonical)) << text;
    EXPECT_EQ(canonical, written) << text;
    EXPECT_EQ(IPv6ToStr(a) == text, written) << text;
  }
}

TEST(IPv6TextTest, ReadAsTheSystemReadsIt) {
  // The hand-made reader against the C library's, on texts built from the
  // pieces of the forms: groups of 0 to 5 hex digits, single and double
  // colons, dotted tails, and stray characters.
  const auto system = [](const std::string& Text, TIPv6Address& A) {
    unsigned char bytes[16];
    if (Text.size() > 45 || Text.find(':') == std::string::npos ||
        Text.find('\0') != std::string::npos || inet_pton(AF_INET6, Text.c_str(), bytes) != 1) {
      return false;
    }
    A = IPv6FromBytes(bytes);
    return true;
  };
  const char* pieces[] = {"0",        "1",     "ff",        "FFFF", "abcd",    "12345",
                          ":",        "::",    ":",         ":",    "1.2.3.4", "255.255.255.255",
                          "01.2.3.4", "1.2.3", "256.1.1.1", ".",    "g",       " ",
                          "0000",     "fffff"};
  std::mt19937 rng(9);
  int valid = 0, canonicals = 0;
  for (int i = 0; i < 300000; ++i) {
    std::string text;
    const int n = 1 + static_cast<int>(rng() % 17);
    for (int j = 0; j < n; ++j) text += pieces[rng() % std::size(pieces)];
    TIPv6Address mine = 0, theirs = 0;
    bool canonical = false;
    const bool a = StrToIPv6(text, mine, &canonical), b = system(text, theirs);
    ASSERT_EQ(a, b) << text;
    if (a) {
      ASSERT_EQ(mine, theirs) << text;
      ++valid;
      // And written back, as the system writes it, read the same; the text
      // is said to be as written exactly when it is.
      char out[kMaxIPv6Text];
      const std::string_view written(out, FormatIPv6(mine, out) - out);
      ASSERT_EQ(canonical, written == text) << text;
      canonicals += canonical;
      TIPv6Address again = 0;
      ASSERT_TRUE(StrToIPv6(written, again, &canonical));
      ASSERT_EQ(again, mine);
      ASSERT_TRUE(canonical) << written;
    }
  }
  EXPECT_GT(valid, 1000);  // the texts reach the valid forms too
  EXPECT_GT(canonicals, 100);
  for (const char* text : {"::", "::1", "1::", "1:2:3:4:5:6:7:8", "::ffff:1.2.3.4",
                           "1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:7::", "::2:3:4:5:6:7:8"}) {
    TIPv6Address a = 0, b = 0;
    EXPECT_EQ(StrToIPv6(text, a), system(text, b)) << text;
    EXPECT_EQ(a, b) << text;
  }
}
