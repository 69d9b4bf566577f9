#include "tools/addrscan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

// Writes the text back with each address found marked {like this}, and
// checks that what is marked is what the finder says it is.
struct TMarker : TAddressSink {
  std::string Out;
  void Text(const char* Data, size_t Size) override { Out.append(Data, Size); }
  void Address(std::string_view Text, const TFoundAddress& Found) override {
    if (Found.IsIPv6) {
      TIPv6Address a = 0;
      EXPECT_TRUE(StrToIPv6(Text, a) && a == Found.IPv6) << Text;
    } else {
      EXPECT_EQ(IPToStr(Found.IPv4), Text);
    }
    (Out += '{').append(Text) += '}';
  }
};

// The text marked, fed whole and then in pieces of every size up to 9: a
// piece boundary anywhere must not change what is found.
std::string Marked(const std::string& Text) {
  TMarker whole;
  TAddressScanner scanner(whole);
  scanner.Feed(Text.data(), Text.size());
  scanner.Finish();
  for (size_t step = 1; step <= 9; ++step) {
    TMarker cut;
    TAddressScanner pieces(cut);
    for (size_t at = 0; at < Text.size(); at += step) {
      pieces.Feed(Text.data() + at, std::min(step, Text.size() - at));
    }
    pieces.Finish();
    EXPECT_EQ(cut.Out, whole.Out) << "in pieces of " << step;
  }
  return whole.Out;
}

TEST(AddressScannerTest, IPv4AddressesAndWhatLooksLikeOne) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""},
      {"no address here", "no address here"},
      {"1.2.3.4", "{1.2.3.4}"},
      {"1.2.3.4 at the start, at the end 5.6.7.8", "{1.2.3.4} at the start, at the end {5.6.7.8}"},
      {"a=0.0.0.0,b=255.255.255.255;", "a={0.0.0.0},b={255.255.255.255};"},
      {"(10.0.0.1) \"10.0.0.2\" <10.0.0.3>", "({10.0.0.1}) \"{10.0.0.2}\" <{10.0.0.3}>"},
      {"port 1.2.3.4:80 and [1.2.3.4]:443", "port {1.2.3.4}:80 and [{1.2.3.4}]:443"},
      {"from 1.2.3.4. Then", "from {1.2.3.4}. Then"},
      {"ip:1.2.3.4 src=1.2.3.4/24", "ip:{1.2.3.4} src={1.2.3.4}/24"},
      // Versions, leading zeros, parts past 255, letters, digits and dots
      // around: not addresses.
      {"v1.2.3.4 1.2.3.4.5 01.2.3.4 1.02.3.4 256.1.1.1 1.2.3.256",
       "v1.2.3.4 1.2.3.4.5 01.2.3.4 1.02.3.4 256.1.1.1 1.2.3.256"},
      {"1.2.3 1.2.3.4x x1.2.3.4 _1.2.3.4 1.2.3.4_ .1.2.3.4 1.2.3.4.5.",
       "1.2.3 1.2.3.4x x1.2.3.4 _1.2.3.4 1.2.3.4_ .1.2.3.4 1.2.3.4.5."},
      // Full stops after an address end a sentence, however many.
      {"Trying 93.184.216.34... and 1.2.3.4.. then",
       "Trying {93.184.216.34}... and {1.2.3.4}.. then"},
      {"11.2.3.4 1.2.3.45 1.2.3.4a", "{11.2.3.4} {1.2.3.45} 1.2.3.4a"},
      {"1.2.3.4.example.com 12:34:56 2026-12-08T12:34:56Z",
       "1.2.3.4.example.com 12:34:56 2026-12-08T12:34:56Z"},
      // Bytes that are no ASCII are no letters, and are kept as they are.
      {"\xff"
       "1.2.3.4\xc3\xa9",
       "\xff{1.2.3.4}\xc3\xa9"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Marked(in), out) << in;
}

TEST(AddressScannerTest, EveryIPv6TextForm) {
  const std::pair<const char*, const char*> cases[] = {
      // After a label whose last letters or digits are hex ("src", "ip6",
      // "ipv6", "v6"), and before full stops.
      {"src:2001:4860::1 ip6:2001:db8::2 ipv6:2001:db8::3 v6:::1 dst:2001:db8::4",
       "src:{2001:4860::1} ip6:{2001:db8::2} ipv6:{2001:db8::3} v6:{::1} dst:{2001:db8::4}"},
      {"Trying 2001:db8::1... ok", "Trying {2001:db8::1}... ok"},
      {"2001:db8:0:0:1:0:0:1", "{2001:db8:0:0:1:0:0:1}"},
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "{2001:0DB8:0000:0000:0000:0000:0000:0001}"},
      {"2001:db8::1 ::1 fe80:: 1::", "{2001:db8::1} {::1} {fe80::} {1::}"},
      {"::ffff:192.0.2.1 ::192.0.2.1 64:ff9b::192.0.2.33 1:2:3:4:5:6:1.2.3.4",
       "{::ffff:192.0.2.1} {::192.0.2.1} {64:ff9b::192.0.2.33} {1:2:3:4:5:6:1.2.3.4}"},
      // In brackets with a port, with a zone, after a label, before a stop.
      {"[2001:db8::1]:443 fe80::1%eth0 ip:2001:db8::2 at 2001:db8::3. at 2001:db8::4:",
       "[{2001:db8::1}]:443 {fe80::1}%eth0 ip:{2001:db8::2} at {2001:db8::3}. at {2001:db8::4}:"},
      // "::" alone, times, MAC addresses, too many groups, two "::", letters.
      {":: 12:34:56 00:1a:2b:3c:4d:5e 1:2:3:4:5:6:7:8:9 1::2::3 x2001:db8::1 2001:db8::1g",
       ":: 12:34:56 00:1a:2b:3c:4d:5e 1:2:3:4:5:6:7:8:9 1::2::3 x2001:db8::1 2001:db8::1g"},
      // An embedded IPv4 part must be a dotted quad itself.
      {"::ffff:01.2.3.4 ::ffff:1.2.3", "::ffff:01.2.3.4 ::ffff:1.2.3"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Marked(in), out) << in;
}

TEST(AddressScannerTest, AddressesAtEveryPlaceAroundTheBlocksOfTheSearch) {
  // The text is looked at 64 bytes at a time: what is found must not
  // depend on where an address or a run that is none falls against those
  // blocks, nor on a run of hex letters before it that crosses them.
  const std::pair<std::string, std::string> cases[] = {
      {"1.2.3.4", "{1.2.3.4}"},
      {"1.2.3.4:80 and 10.0.0.1.", "{1.2.3.4}:80 and {10.0.0.1}."},
      {"2001:db8::1 2001:db8:0:0:1:0:0:1", "{2001:db8::1} {2001:db8:0:0:1:0:0:1}"},
      {"::ffff:192.0.2.1", "{::ffff:192.0.2.1}"},
      {"src:2001:4860::1", "src:{2001:4860::1}"},
      {"Trying 93.184.216.34... ok", "Trying {93.184.216.34}... ok"},
      {"1.2.3.4.5 12:34:56 v1.2.3.4 1.2.3", "1.2.3.4.5 12:34:56 v1.2.3.4 1.2.3"},
  };
  for (size_t pad = 0; pad <= 140; ++pad) {
    for (const auto& [in, out] : cases) {
      const std::string spaces(pad, ' ');
      EXPECT_EQ(Marked(spaces + in + spaces), spaces + out + spaces) << pad << ": " << in;
    }
    // The run begins a block or more before its first colon or dot.
    const std::string hex(pad, 'a');
    EXPECT_EQ(Marked(hex + ":1.2.3.4 x"), hex + ":{1.2.3.4} x") << pad;
    EXPECT_EQ(Marked(". a" + hex + "1.2.3.4 x"), ". a" + hex + "1.2.3.4 x") << pad;
  }
}

TEST(AddressScannerTest, LongRunsAreReadInBoundedPieces) {
  // A run of address characters longer than any address holds no IPv6
  // address, but its IPv4 parts between colons count.
  const std::string digits(5000, '7');
  EXPECT_EQ(Marked("1.2.3.4:" + digits + ":5.6.7.8"), "{1.2.3.4}:" + digits + ":{5.6.7.8}");
  EXPECT_EQ(Marked(digits + "1.2.3.4 " + digits), digits + "1.2.3.4 " + digits);
  const std::string hex(100, 'a');
  EXPECT_EQ(Marked(hex + ":1.2.3.4:" + hex + ":2001:db8::1"),
            hex + ":{1.2.3.4}:" + hex + ":2001:db8::1");
  // Lines of any length, many addresses on one.
  std::string many, marked;
  for (int i = 0; i < 2000; ++i) {
    many += "10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + " ";
    marked += "{10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256) + "} ";
  }
  EXPECT_EQ(Marked(many), marked);
}

}  // namespace
