#include "cli/lookup.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <tuple>

#include "cli/mkdb.h"
#include "cuttingio.h"
#include "dbbuild/compiler.h"
#include "ipdb/blocklists.h"
#include "ipdb/encoder.h"
#include "ipdb/inplace.h"
#include "testutil.h"
#include "tools/text.h"

namespace {

class LookupTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string body = EncodeBinBody(
        {}, {},
        {MakeBlock(0x08080800, 768, "US", kArinID, 20140101),
         MakeBlock(0x7F000000, 16777216, "GB", kRipeID), MakeBlock(0xC0A80000, 256, "RE", kRipeID),
         MakeBlock(0x08080B00, 256, "US", kIanaID)});
    FDb = FDir.Write("country.ip4", EncodeDatabaseFile(true, cmZLib, "20261201", body));
  }
  int Run(std::vector<std::string> Args, const std::string& Input = "") {
    Args.insert(Args.begin(), {"--db", FDb});
    std::istringstream in(Input);
    FOut.str("");
    FErr.str("");
    return LookupMain(Args, in, FOut, FErr);
  }
  TTempDir FDir;
  TFakeResolver FResolver;
  std::string FDb;
  std::ostringstream FOut, FErr;
};

}  // namespace

TEST_F(LookupTest, QueriesInEachNotation) {
  EXPECT_EQ(Run({"8.8.8.8", "127.1"}), 0);
  EXPECT_EQ(FOut.str(),
            "8.8.8.8\t8.8.8.8\t8.8.8.0 - 8.8.10.255\tUS\tUnited States\tARIN\t20140101\n"
            "127.1\t127.0.0.1\t127.0.0.0 - 127.255.255.255\tGB\tUnited Kingdom\tRIPE\t0\n");
  EXPECT_EQ(Run({"--notation", "cidr", "8.8.8.8"}), 0);
  EXPECT_EQ(FOut.str(),
            "8.8.8.8\t8.8.8.8\t8.8.8.0/23, 8.8.10.0/24\tUS\tUnited States\tARIN\t20140101\n");
  EXPECT_EQ(Run({"--notation", "mask", "192.168.0.1"}), 0);
  // Names reach the terminal as UTF-8.
  EXPECT_EQ(FOut.str(),
            "192.168.0.1\t192.168.0.1\t192.168.0.0 / 255.255.255.0\tRE\tR\xC3\xA9union\tRIPE\t0\n");
}

TEST_F(LookupTest, MissesAndResolverErrors) {
  EXPECT_EQ(Run({"10.0.0.1", "8.8.8.8"}), 1);
  EXPECT_EQ(FOut.str().substr(0, 20), "10.0.0.1\t10.0.0.1\t-\n");
  FResolver.Addresses["localhost"] = StrToIP("127.0.0.1");
  EXPECT_EQ(Run({"localhost"}), 0);
  EXPECT_EQ(FOut.str().substr(0, 20), "localhost\t127.0.0.1\t");
  EXPECT_EQ(Run({"no-such-host.example"}), 1);
  EXPECT_EQ(FOut.str(), "no-such-host.example\terror\tName or service not known\n");
  FResolver.Failures["down.example"] = {EAI_AGAIN, "Temporary failure in name resolution"};
  EXPECT_EQ(Run({"down.example", "8.8.8.8"}), 1);
  EXPECT_EQ(FOut.str().substr(0, 56),
            "down.example\terror\tTemporary failure in name resolution\n");
  // Digits and dots that are no address never reach the resolver.
  FResolver.Asked.clear();
  EXPECT_EQ(Run({"1.2.3.999"}), 1);
  EXPECT_EQ(FOut.str(), "1.2.3.999\terror\tNot a valid IPv4 address\n");
  EXPECT_TRUE(FResolver.Asked.empty());
}

TEST_F(LookupTest, HostileQueries) {
  const std::string longText(100000, 'a');
  EXPECT_EQ(Run({longText, "exa\x01mple", std::string(300, 'h')}), 1);
  std::istringstream lines(FOut.str());
  std::string line;
  int n = 0;
  while (std::getline(lines, line)) {
    EXPECT_NE(line.find("\terror\t"), std::string::npos) << line.substr(0, 40);
    ++n;
  }
  EXPECT_EQ(n, 3);
  // Binary junk on standard input: one answer per line, nothing else.
  std::string junk;
  for (int i = 0; i < 2000; ++i) junk += static_cast<char>(i * 7 % 256);
  EXPECT_EQ(Run({"--stdin"}, junk + "\n8.8.8.8\n"), 1);
  EXPECT_NE(FOut.str().find("8.8.8.8\t8.8.8.8\t8.8.8.0 - 8.8.10.255"), std::string::npos);
}

TEST_F(LookupTest, StdinKeepsInputOrder) {
  EXPECT_EQ(Run({"--stdin"}, "8.8.8.8\r\n\n  192.168.0.9 \n10.1.1.1\n"), 1);
  std::istringstream lines(FOut.str());
  std::string l1, l2, l3, extra;
  std::getline(lines, l1);
  std::getline(lines, l2);
  std::getline(lines, l3);
  EXPECT_EQ(l1.substr(0, 16), "8.8.8.8\t8.8.8.8\t");
  EXPECT_EQ(l2.substr(0, 24), "192.168.0.9\t192.168.0.9\t");
  EXPECT_EQ(l3, "10.1.1.1\t10.1.1.1\t-");
  EXPECT_FALSE(std::getline(lines, extra));
}

TEST_F(LookupTest, CountryListing) {
  EXPECT_EQ(Run({"--country", "us"}), 0);
  EXPECT_EQ(FOut.str(), "8.8.8.0 - 8.8.10.255\n8.8.11.0 - 8.8.11.255\n");
  EXPECT_EQ(Run({"--notation", "cidr", "--country", "US"}), 0);
  EXPECT_EQ(FOut.str(), "8.8.8.0/23\n8.8.10.0/24\n8.8.11.0/24\n");
  EXPECT_EQ(Run({"--country", "uk"}), 0);
  EXPECT_EQ(FOut.str(), "127.0.0.0 - 127.255.255.255\n");
  EXPECT_EQ(Run({"--country", "QQ"}), 2);
  EXPECT_EQ(FErr.str(), "kesl-lookup: Unknown country code: QQ\n");
}

TEST_F(LookupTest, GnuOptionFormsAndStandardInputAsDash) {
  EXPECT_EQ(Run({"--notation=cidr", "--", "8.8.8.8"}), 0);
  EXPECT_EQ(FOut.str(),
            "8.8.8.8\t8.8.8.8\t8.8.8.0/23, 8.8.10.0/24\tUS\tUnited States\tARIN\t20140101\n");
  // After "--" a word that looks like an option is a query (and no name).
  EXPECT_EQ(Run({"--", "--info"}), 1);
  EXPECT_EQ(FOut.str(), "--info\terror\tName or service not known\n");
  EXPECT_EQ(Run({"-"}, "127.0.0.1\n"), 0);
  EXPECT_EQ(FOut.str().substr(0, 20), "127.0.0.1\t127.0.0.1\t");
  EXPECT_EQ(Run({"--stdin=yes"}), 2);
  EXPECT_THAT(FErr.str(), testing::StartsWith("kesl-lookup: option '--stdin' takes no value\n"));
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_THAT(FOut.str(), testing::MatchesRegex("kesl-lookup [0-9]+\\.[0-9]+\\.[0-9]+\n"));
}

TEST_F(LookupTest, JsonIsValidUtf8WhateverTheQuery) {
  // Latin-1, a cut sequence, an overlong form and a surrogate, beside good
  // UTF-8, a control character (shown as \x01, its backslash escaped) and a
  // quote.
  EXPECT_EQ(Run({"--format", "json", "--fields", "query",
                 "caf\xE9 \xC3 \xC0\xAF \xED\xA0\x80 \xC3\xA9\x01\"\\"}),
            1);
  EXPECT_EQ(FOut.str(),
            "{\"query\":\"caf\xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD "
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD \xC3\xA9\\\\x01\\\"\\\\\"}\n");
}

TEST_F(LookupTest, IPv6QueriesAreAnsweredInRfc5952FormWithoutTheResolver) {
  FResolver.Asked.clear();
  EXPECT_EQ(Run({"2001:DB8:0:0:1::1", "::ffff:8.8.8.8"}), 1);
  // The test database has no IPv6 blocks; a mapped address is an IPv4 one.
  EXPECT_EQ(FOut.str(),
            "2001:DB8:0:0:1::1\t2001:db8::1:0:0:1\t-\n"
            "::ffff:8.8.8.8\t8.8.8.8\t8.8.8.0 - 8.8.10.255\tUS\tUnited States\tARIN\t20140101\n");
  EXPECT_TRUE(FResolver.Asked.empty());
  // Not an address of either family, and no host name: the resolver is
  // not asked.
  EXPECT_EQ(Run({"1::2::3"}), 1);
  EXPECT_EQ(FOut.str(), "1::2::3\terror\tnot an address or host name\n");
  EXPECT_TRUE(FResolver.Asked.empty());
}

// A database with both families, plain (searched in place) and compressed
// (loaded): every answer must be the same from both.
class LookupIPv6Test : public testing::TestWithParam<TCompression> {
 protected:
  void SetUp() override {
    std::vector<TIPv6Block> blocks6;
    for (const auto& [first, last, country, date] :
         std::vector<std::tuple<const char*, const char*, const char*, uint32_t>>{
             {"2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", "NL", 20200101},
             {"2001:db9::1:0", "2001:db9::2:ffff", "US", 0},  // no prefix
             {"ffff::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "NL", 0}}) {
      TIPv6Block b;
      StrToIPv6(first, b.Start);
      StrToIPv6(last, b.Last);
      b.CountryCode = Code(country);
      b.CenterID = std::string(country) == "NL" ? kRipeID : kArinID;
      b.Date = date;
      blocks6.push_back(b);
    }
    const std::string body =
        EncodeBinBody({}, {}, {MakeBlock(0x0A000000, 256, "NL", kRipeID)}) +
        EncodeTrailer({{ttSortedDisjoint, {}}, {ttIPv6Blocks, EncodeIPv6Blocks(blocks6)}});
    FDb = FDir.Write("country.ip4", EncodeDatabaseFile(true, GetParam(), "20261201", body));
    FResolver.Addresses["both.example"] = 0x0A000001;
    StrToIPv6("2001:db9::1:0", FResolver.Addresses6["both.example"]);
    StrToIPv6("ffff::1", FResolver.Addresses6["six.example"]);
  }
  std::string Run(std::vector<std::string> Args, int Status = 0, const std::string& Input = "") {
    Args.insert(Args.begin(), {"--db", FDb});
    std::istringstream in(Input);
    std::ostringstream out, err;
    EXPECT_EQ(LookupMain(Args, in, out, err), Status) << err.str();
    return out.str() + err.str();
  }
  TTempDir FDir;
  TFakeResolver FResolver;
  std::string FDb;
};

INSTANTIATE_TEST_SUITE_P(InPlaceAndLoaded, LookupIPv6Test, testing::Values(cmNone, cmZLib));

TEST_P(LookupIPv6Test, AStreamShowsEachAddressAsWrittenWhateverItsQuerysForm) {
  // A query already in the written form is shown as it came; any other
  // form (upper case, leading zeros, no "::", a "::" for one zero group)
  // is written again, as an argument is.
  const std::vector<std::string> queries = {
      "2001:db8::1",   "2001:DB8::1",     "2001:0db8::1",    "2001:db8:0:0:0:0:0:1",
      "2001:db9::1:1", "2001:db9:0::1:1", "2001:db9::0:1:1", "2001:db8:1::1:1:1:1"};
  std::string input, wanted;
  for (const std::string& q : queries) {
    input += q + "\n";
    wanted += Run({q});
  }
  EXPECT_EQ(Run({"--stdin"}, 0, input), wanted);
  EXPECT_THAT(wanted, testing::HasSubstr("2001:0db8::1\t2001:db8::1\t"));
  EXPECT_THAT(wanted, testing::HasSubstr("2001:db9::0:1:1\t2001:db9::1:1\t"));
  EXPECT_THAT(wanted, testing::HasSubstr("2001:db8:1::1:1:1:1\t2001:db8:1:0:1:1:1:1\t"));
}

TEST_P(LookupIPv6Test, AnswersInEveryFormAndNotation) {
  EXPECT_EQ(Run({"2001:DB8::1", "2001:db9::3:0", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"}, 1),
            "2001:DB8::1\t2001:db8::1\t2001:db8:: - 2001:db8:ffff:ffff:ffff:ffff:ffff:ffff\tNL\t"
            "Netherlands\tRIPE\t20200101\n"
            "2001:db9::3:0\t2001:db9::3:0\t-\n"
            "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\tffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\t"
            "ffff:: - ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\tNL\tNetherlands\tRIPE\t0\n");
  // Mask notation writes prefixes, as cidr does.
  for (const char* notation : {"cidr", "mask"}) {
    EXPECT_EQ(Run({"--notation", notation, "--fields", "block", "2001:db9::2:1"}),
              "2001:db9::1:0/112, 2001:db9::2:0/112\n");
  }
  EXPECT_EQ(
      Run({"--format", "json", "2001:db9::1:1"}),
      "{\"query\":\"2001:db9::1:1\",\"status\":\"ok\",\"address\":\"2001:db9::1:1\",\"block\":"
      "\"2001:db9::1:0 - 2001:db9::2:ffff\",\"country\":\"US\",\"country_name\":\"United "
      "States\",\"registry\":\"ARIN\",\"date\":null,\"message\":null,\"country_kind\":"
      "\"unknown\",\"allocation\":null,\"holder\":null,\"asns\":null,\"special\":null}\n");
  EXPECT_EQ(Run({"--format", "csv", "--fields", "status,address", "2001:db8:1::"}),
            "ok,2001:db8:1::\r\n");
}

TEST_P(LookupIPv6Test, HostNamesGiveIPv4FirstUnlessAskedForIPv6) {
  EXPECT_EQ(Run({"--fields", "query,address,country", "both.example", "six.example"}),
            "both.example\t10.0.0.1\tNL\nsix.example\tffff::1\tNL\n");
  EXPECT_EQ(Run({"-6", "--fields", "address,country", "both.example", "10.0.0.1"}),
            "2001:db9::1:0\tUS\n10.0.0.1\tNL\n");
}

TEST_P(LookupIPv6Test, ListsOfAFamily) {
  EXPECT_EQ(Run({"--country", "NL"}), "10.0.0.0 - 10.0.0.255\n");
  EXPECT_EQ(Run({"--country", "NL", "--family", "6", "--notation", "cidr"}),
            "2001:db8::/32\nffff::/16\n");
  EXPECT_EQ(Run({"--registry", "ARIN,RIPE", "--family", "all", "--aggregate"}),
            "10.0.0.0 - 10.0.0.255\n2001:db8:: - 2001:db8:ffff:ffff:ffff:ffff:ffff:ffff\n"
            "2001:db9::1:0 - 2001:db9::2:ffff\n"
            "ffff:: - ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff\n");
  const std::string t6 = IpsetTempName("us6", " hash:net family inet6 maxelem 65536");
  EXPECT_EQ(Run({"--country", "US", "--family", "6", "--format", "ipset", "--set-name", "us6"}),
            "create " + t6 + " hash:net family inet6 maxelem 65536 -exist\nflush " + t6 + "\nadd " +
                t6 + " 2001:db9::1:0/112\nadd " + t6 +
                " 2001:db9::2:0/112\ncreate us6 hash:net family inet6 maxelem 65536 -exist\nswap " +
                t6 + " us6\ndestroy " + t6 + "\n");
  const std::string nft =
      Run({"--country", "US", "--family", "6", "--format", "nft", "--set-name", "us6"});
  EXPECT_THAT(nft, testing::HasSubstr("type ipv6_addr"));
  EXPECT_THAT(nft, testing::HasSubstr("{ 2001:db9::1:0-2001:db9::2:ffff }"));
  // CSV: a row per line of the lines form, with its block's facts; both
  // families, the IPv4 blocks first; a date only where one is known.
  EXPECT_EQ(Run({"--country", "NL,US", "--family", "all", "--notation", "cidr", "--format", "csv"}),
            "block,country_code,country_name,registry,date\r\n"
            "10.0.0.0/24,NL,Netherlands,RIPE,\r\n"
            "2001:db8::/32,NL,Netherlands,RIPE,2020-01-01\r\n"
            "2001:db9::1:0/112,US,United States,ARIN,\r\n"
            "2001:db9::2:0/112,US,United States,ARIN,\r\n"
            "ffff::/16,NL,Netherlands,RIPE,\r\n");
  EXPECT_THAT(Run({"--holder", "10.0.0.1", "--format", "csv"}, 2),
              testing::HasSubstr("--holder lists are written as lines"));
  // A set holds one family; the options that need a list or lookups.
  EXPECT_THAT(Run({"--country", "US", "--family", "all", "--format", "nft", "--set-name", "s"}, 2),
              testing::HasSubstr("a set holds one family"));
  EXPECT_THAT(Run({"--family", "6", "2001:db8::1"}, 2), testing::HasSubstr("--family goes with"));
  EXPECT_THAT(Run({"-6", "--country", "US"}, 2), testing::HasSubstr("-6 goes with lookups"));
  EXPECT_THAT(Run({"--info"}), testing::HasSubstr("IPv6 blocks: 3\n"));
}

TEST(BlockListTest, AggregationAtTheEdgesOfTheSpace) {
  const TIPv4Block low = MakeBlock(0, 0x80000000), high = MakeBlock(0x80000000, 0x7FFFFF00),
                   top = MakeBlock(0xFFFFFF00, 512), lone = MakeBlock(0x01000000, 1);
  auto ranges = [](const std::vector<TIPv4Block>& Blocks) {
    std::vector<std::pair<uint32_t, uint32_t>> r;
    for (const TIPv4Block& b : Blocks) r.emplace_back(b.StartIP, b.Count);
    return r;
  };
  // All of the space: two halves, never a count that wraps.
  EXPECT_EQ(
      ranges(AggregateBlocks({&low, &high, &top})),
      (std::vector<std::pair<uint32_t, uint32_t>>{{0, 0x80000000}, {0x80000000, 0x80000000}}));
  // A block past the top ends at 255.255.255.255; a lone address stays.
  EXPECT_EQ(ranges(AggregateBlocks({&lone, &top})),
            (std::vector<std::pair<uint32_t, uint32_t>>{{0x01000000, 1}, {0xFFFFFF00, 256}}));
  EXPECT_TRUE(AggregateBlocks({}).empty());
}

TEST_F(LookupTest, ListsOfCountriesAndRegistries) {
  // 8.8.8.0/23 + 8.8.10.0/24 of ARIN touch 8.8.11.0/24 of IANA: merged.
  EXPECT_EQ(Run({"--country", "us", "--registry", "iana,ARIN", "--aggregate"}), 0);
  EXPECT_EQ(FOut.str(), "8.8.8.0 - 8.8.11.255\n");
  EXPECT_EQ(Run({"--country=GB,RE", "--notation", "cidr"}), 0);
  EXPECT_EQ(FOut.str(), "127.0.0.0/8\n192.168.0.0/24\n");
  EXPECT_EQ(Run({"--registry", "LACNIC"}), 0);  // known, without blocks
  EXPECT_EQ(FOut.str(), "");
  EXPECT_EQ(Run({"--registry", "NOPE"}), 2);
  EXPECT_EQ(FErr.str(), "kesl-lookup: Unknown registry: NOPE\n");
  EXPECT_EQ(Run({"--country", "US", "--format", "ipset"}), 2);  // no set name
  EXPECT_EQ(Run({"--country", "US", "--format", "nft", "--set-name", "1x"}), 2);
  EXPECT_EQ(Run({"--country", "US", "--format", "json"}), 2);
  EXPECT_EQ(Run({"--aggregate", "8.8.8.8"}), 2);
  EXPECT_EQ(Run({"--country", "US", "--format", "ipset", "--set-name", "us"}), 0);
  const std::string t = IpsetTempName("us", " hash:net family inet maxelem 65536");
  EXPECT_EQ(FOut.str(), "create " + t + " hash:net family inet maxelem 65536 -exist\nflush " + t +
                            "\nadd " + t + " 8.8.8.0/23\nadd " + t + " 8.8.10.0/24\nadd " + t +
                            " 8.8.11.0/24\ncreate us hash:net family inet maxelem 65536 -exist\n"
                            "swap " +
                            t + " us\ndestroy " + t + "\n");
  // The temporary set is no name --set-name takes, so never the target or
  // a set of the user's made for it; each set and size has its own.
  EXPECT_EQ(t.substr(0, 10), "kesl-swap-");
  EXPECT_FALSE(ValidSetName(t));
  EXPECT_NE(IpsetTempName(std::string(27, 'a') + "_one", " x"),
            IpsetTempName(std::string(27, 'a') + "_two", " x"));
  EXPECT_NE(IpsetTempName("us", " hash:net family inet maxelem 65536"),
            IpsetTempName("us", " hash:net family inet maxelem 131072"));
}

TEST_F(LookupTest, InfoUsageAndLoadFailures) {
  EXPECT_EQ(Run({"--info"}), 0);
  EXPECT_THAT(FOut.str(), testing::StartsWith("Database: " + FDb +
                                              "\nCreated: 2026-12-01\n"
                                              "Source: not recorded in the file\n"
                                              "Country kind: unknown (not known: the file does "
                                              "not record where its data came from)\n"
                                              "Blocks: 4\n"));
  EXPECT_NE(FOut.str().find("Registry 3 RIPE: 2 blocks, 16777472 addresses"), std::string::npos);
  EXPECT_EQ(Run({}), 2);
  EXPECT_EQ(Run({"--notation", "hex", "1.2.3.4"}), 2);
  EXPECT_EQ(FErr.str(),
            "kesl-lookup: unknown --notation value 'hex': use range, cidr or mask\n"
            "Try 'kesl-lookup --help'.\n");
  EXPECT_EQ(Run({"1.2.3.4", "--notation"}), 2);
  EXPECT_EQ(FErr.str().substr(0, 50), "kesl-lookup: --notation needs range, cidr or mask\n");
  EXPECT_EQ(Run({"--bogus"}), 2);
  EXPECT_EQ(Run({"--info", "1.2.3.4"}), 2);
  FDb = FDir.Write("bad.ip4", EncodeDatabaseFile(false, cmNone, "20261201",
                                                 "arin|RS|ipv4|1.0.0.0|256|20040101|allocated\n"));
  EXPECT_EQ(Run({"1.0.0.1"}), 3);
  EXPECT_EQ(FErr.str(), "Unknown country code: RS\n");
  FDb = FDir.Path("missing.ip4");
  EXPECT_EQ(Run({"1.0.0.1"}), 3);
  EXPECT_EQ(FErr.str(), "Cannot open file \"" + FDb + "\". No such file or directory\n");
}

TEST_F(LookupTest, OverlongQueriesAreAnsweredWithoutBeingHeld) {
  // Within the bound a query is read as usual; past it, the answer is an
  // error whose query is cut, and the next line is answered as usual.
  // 253 characters, in labels of at most 63 as host names have them.
  const std::string label(63, 'a');
  const std::string name = label + "." + label + "." + label + "." + std::string(57, 'a') + ".com";
  ASSERT_EQ(name.size(), 253u);
  FResolver.Addresses[name] = StrToIP("8.8.8.8");
  EXPECT_EQ(Run({"--stdin"}, "  " + name + "  \n" + std::string(10 << 20, 'b') + "\n8.8.8.8\n"), 1);
  std::istringstream lines(FOut.str());
  std::string line;
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line.substr(0, 262), name + "\t8.8.8.8\t");
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line, std::string(253, 'b') + "...\terror\tLonger than any address or host name");
  ASSERT_TRUE(std::getline(lines, line));
  EXPECT_EQ(line.substr(0, 16), "8.8.8.8\t8.8.8.8\t");
  EXPECT_EQ(FResolver.Asked, std::vector<std::string>{name});
  // Blanks do not save a line that is too long: it is not trimmed to fit.
  EXPECT_EQ(Run({"--stdin"}, "8.8.8.8" + std::string(5000, ' ') + "x\n"), 1);
  EXPECT_EQ(FOut.str().find("...\terror\tLonger than any address or host name\n"), 253u);
  EXPECT_EQ(Run({std::string(254, 'c')}), 1);
  EXPECT_EQ(FOut.str(),
            std::string(253, 'c') + "...\terror\tLonger than any address or host name\n");
}

// Input made as it is read: Piece over and over, Size bytes in all.
class TRepeated : public std::streambuf {
 public:
  TRepeated(const std::string& Piece, uint64_t Size) : FLeft(Size) {
    for (size_t i = 0; i < sizeof FBuf; ++i) FBuf[i] = Piece[i % Piece.size()];
    FStep = sizeof FBuf - sizeof FBuf % Piece.size();
  }

 protected:
  int_type underflow() override {
    if (FLeft == 0) return traits_type::eof();
    const size_t n = static_cast<size_t>(std::min<uint64_t>(FLeft, FStep));
    FLeft -= n;
    setg(FBuf, FBuf, FBuf + n);
    return traits_type::to_int_type(FBuf[0]);
  }

 private:
  char FBuf[1 << 16];
  size_t FStep;
  uint64_t FLeft;
};

// Output counted and let go: its lines.
class TLineCounter : public std::streambuf {
 public:
  uint64_t Lines = 0;

 protected:
  int_type overflow(int_type C) override {
    Lines += C == '\n';
    return traits_type::not_eof(C);
  }
  std::streamsize xsputn(const char* S, std::streamsize N) override {
    Lines += static_cast<uint64_t>(std::count(S, S + N, '\n'));
    return N;
  }
};

TEST_F(LookupTest, GigabyteLineWithoutAnEndInBoundedMemory) {
  // A stream that yields a gigabyte of one line and no line end, made as it
  // is read; the program's own memory must not follow it.
  const TChildRun run = RunInChild([&] {
    TRepeated endless("x", uint64_t{1} << 30);
    std::istream in(&endless);
    std::ostringstream out, err;
    const int rc = LookupMain({"--db", FDb, "--stdin"}, in, out, err);
    return std::to_string(rc) + " " + std::to_string(out.str().size());
  });
  ASSERT_FALSE(run.Crashed);
  std::printf("  one 1 GB line: peak %.1f MB added\n", run.PeakMB);
  // Exit 1 and one error line of the cut query.
  EXPECT_EQ(
      run.Result,
      "1 " + std::to_string(
                 253 + std::string("...\terror\tLonger than any address or host name\n").size()));
  EXPECT_LT(run.PeakMB, 32 * kPeakLimitScale);
}

TEST_F(LookupTest, ABatchOfLongLinesIsHeldInBoundedMemory) {
  // Lines are held until their batch is answered. 1,500 lines as long as
  // the reader keeps (4,000 bytes, an error each), among as many addresses,
  // would be one batch by their count, 6 MB held at once.
  const TChildRun run = RunInChild([&] {
    TRepeated lines(std::string(4000, 'b') + "\n8.8.8.8\n", 1500 * 4009);
    std::istream in(&lines);
    TLineCounter counted;
    std::ostream out(&counted);
    std::ostringstream err;
    const int rc = LookupMain({"--db", FDb, "--stdin"}, in, out, err);
    return std::to_string(rc) + " " + std::to_string(counted.Lines);
  });
  ASSERT_FALSE(run.Crashed);
  std::printf("  1,500 lines of 4,000 bytes among 1,500 addresses: peak %.1f MB added\n",
              run.PeakMB);
  EXPECT_EQ(run.Result, "1 3000");
  // Held whole, they take 10 MB here (24 MB under AddressSanitizer).
  EXPECT_LT(run.PeakMB, 6 * kPeakLimitScale);
}

TEST_F(LookupTest, InPlaceAndLoadedAnswersAreTheSame) {
  // The same blocks as a plain marked file, which is searched where it
  // lies, and as the zlib file of the fixture, which is loaded.
  TDatabaseCompiler c;
  c.AddData("d",
            "arin|US|ipv4|8.8.8.0|768|20140101|allocated\n"
            "ripencc|GB|ipv4|127.0.0.0|16777216||allocated\n"
            "ripencc|RE|ipv4|192.168.0.0|256||allocated\n"
            "iana|US|ipv4|8.8.11.0|256||allocated\n"
            "afrinic|RS|ipv4|41.0.0.0|256|20200101|allocated\n");
  c.Finish();
  const std::string plain =
      FDir.Write("plain.ip4", EncodeDatabaseFile(true, cmNone, "20261201", c.BinaryBody()));
  const std::string zlib = FDb;
  ASSERT_TRUE(TInPlaceDatabase::Open(plain));
  ASSERT_FALSE(TInPlaceDatabase::Open(FDb));
  const std::vector<std::string> queries = {"8.8.8.8",  "8.8.11.1", "127.1",     "192.168.0.255",
                                            "10.0.0.1", "0.0.0.0",  "8.8.10.255"};
  for (const char* notation : {"range", "cidr", "mask"}) {
    std::vector<std::string> args = {"--notation", notation};
    args.insert(args.end(), queries.begin(), queries.end());
    FDb = zlib;
    EXPECT_EQ(Run(args), 1);
    const std::string loaded = FOut.str();
    FDb = plain;
    EXPECT_EQ(Run(args), 1);
    EXPECT_EQ(FOut.str(), loaded) << notation;
  }
  FDb = plain;
  EXPECT_EQ(Run({"41.0.0.1"}), 0);
  EXPECT_EQ(FOut.str(), "41.0.0.1\t41.0.0.1\t41.0.0.0 - 41.0.0.255\tRS\tRS\tAFRINIC\t20200101\n");
}

TEST_F(LookupTest, LongStdinGoesOnUnnoticedOnceTheMappingIsIndexed) {
  // Past the index the answers go on as before, in order.
  TDatabaseCompiler c;
  c.AddData("d", "arin|US|ipv4|8.8.8.0|256|20140101|allocated\n");
  c.Finish();
  FDb = FDir.Write("plain.ip4", EncodeDatabaseFile(true, cmNone, "20261201", c.BinaryBody()));
  std::string input, want;
  for (int i = 0; i < 10000; ++i) {
    const std::string q = i % 2 ? "8.8.8." + std::to_string(i % 256) : "9.9.9.9";
    input += q + "\n";
    want += i % 2 ? q + "\t" + q + "\t8.8.8.0 - 8.8.8.255\tUS\tUnited States\tARIN\t20140101\n"
                  : q + "\t" + q + "\t-\n";
  }
  EXPECT_EQ(Run({"--stdin"}, input), 1);
  EXPECT_TRUE(FOut.str() == want) << "the answers differ";
}

namespace {

// The records of a run's output: lines, and the fields of each as the
// format separates them (none of the test's texts holds a comma or quote).
std::vector<std::vector<std::string>> Records(const std::string& Out, char Separator) {
  std::vector<std::vector<std::string>> records;
  std::istringstream lines(Out);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    for (std::string_view f : SplitText(line, Separator)) fields.emplace_back(f);
    records.push_back(fields);
  }
  return records;
}

}  // namespace

TEST_F(LookupTest, ControlCharactersNeverSplitOrAddARecord) {
  const std::vector<std::pair<std::string, std::string>> queries = {{"1.1.1.1\tX", "1.1.1.1\\x09X"},
                                                                    {"8.8.8.8\rY", "8.8.8.8\\x0dY"},
                                                                    {"a\nb", "a\\x0ab"},
                                                                    {"\x1b[31mred", "\\x1b[31mred"},
                                                                    {"del\x7f", "del\\x7f"}};
  std::vector<std::string> args;
  std::string input;
  for (const auto& [query, shown] : queries) {
    args.push_back(query);
    // Standard input ends a line at its LF: that one stays for arguments.
    if (query.find('\n') == std::string::npos) input += query + "\n";
  }
  struct TForm {
    std::vector<std::string> Options;
    char Separator;
    size_t Fields;
  };
  const std::vector<TForm> forms = {{{}, '\t', 3},
                                    {{"--fields", "query,status,message"}, '\t', 3},
                                    {{"--format", "csv"}, ',', 14},
                                    {{"--format", "json"}, ',', 14}};
  for (const TForm& form : forms) {
    for (const bool fromStdin : {false, true}) {
      SCOPED_TRACE(testing::PrintToString(form.Options) + (fromStdin ? " stdin" : " args"));
      std::vector<std::string> run = form.Options;
      if (fromStdin) {
        run.push_back("--stdin");
      } else {
        run.insert(run.end(), args.begin(), args.end());
      }
      EXPECT_EQ(Run(run, input), 1);
      const auto records = Records(FOut.str(), form.Separator);
      ASSERT_EQ(records.size(), fromStdin ? queries.size() - 1 : queries.size()) << FOut.str();
      for (size_t i = 0, q = 0; i < records.size(); ++i, ++q) {
        if (fromStdin && queries[q].first.find('\n') != std::string::npos) ++q;
        EXPECT_EQ(records[i].size(), form.Fields) << FOut.str();
        EXPECT_THAT(FOut.str(),
                    testing::Not(testing::ContainsRegex("[\x01-\x08\x0b-\x0c\x0e-\x1f]")));
        const std::string& shown = queries[q].second;
        // JSON writes the backslash of \xHH escaped.
        std::string echoed = shown;
        if (form.Options == std::vector<std::string>{"--format", "json"}) {
          echoed = "{\"query\":\"" + std::string(shown).replace(shown.find('\\'), 1, "\\\\") + "\"";
        }
        EXPECT_EQ(records[i][0], echoed);
      }
      EXPECT_THAT(FOut.str(), testing::HasSubstr("control characters in the query"));
    }
  }
  EXPECT_TRUE(FResolver.Asked.empty());
}

TEST_F(LookupTest, NamesFromTheDatabaseAreWrittenWithoutControlCharacters) {
  TNewCountry land;
  land.Code = Code("XQ");
  land.Name = "Tab\tLand\x1b[0m";
  const std::string body =
      EncodeBinBody({{7, "EV\nIL"}}, {land}, {MakeBlock(0x0A000000, 256, "XQ", 7)});
  FDb = FDir.Write("names.ip4", EncodeDatabaseFile(true, cmNone, "20261201", body));
  EXPECT_EQ(Run({"10.0.0.1"}), 0);
  EXPECT_EQ(FOut.str(),
            "10.0.0.1\t10.0.0.1\t10.0.0.0 - 10.0.0.255\tXQ\tTab\\x09Land\\x1b[0m\tEV\\x0aIL\t0\n");
  EXPECT_EQ(Run({"--format", "csv", "--fields", "country_name,registry", "10.0.0.1"}), 0);
  EXPECT_EQ(FOut.str(), "Tab\\x09Land\\x1b[0m,EV\\x0aIL\r\n");
  EXPECT_EQ(Run({"--format", "json", "--fields", "registry", "10.0.0.1"}), 0);
  EXPECT_EQ(FOut.str(), "{\"registry\":\"EV\\\\x0aIL\"}\n");
}

TEST_F(LookupTest, OnlyWhatCanBeAHostNameGoesToTheResolver) {
  FResolver.Addresses["example.org."] = StrToIP("8.8.8.8");
  FResolver.Addresses["a-b.example"] = StrToIP("8.8.8.8");
  EXPECT_EQ(Run({"--no-resolve", "example.org.", "8.8.8.8", "2001:db8::1"}), 1);
  EXPECT_EQ(FOut.str(),
            "example.org.\terror\tnot an address\n"
            "8.8.8.8\t8.8.8.8\t8.8.8.0 - 8.8.10.255\tUS\tUnited States\tARIN\t20140101\n"
            "2001:db8::1\t2001:db8::1\t-\n");
  EXPECT_TRUE(FResolver.Asked.empty());
  // Junk from a log, empty labels, a label past 63 characters.
  const std::vector<std::string> junk = {"GET /index.html",
                                         "user@example.org",
                                         "under_score.org",
                                         "a..b",
                                         ".a",
                                         std::string(64, 'a') + ".org"};
  for (const std::string& q : junk) {
    SCOPED_TRACE(q);
    EXPECT_EQ(Run({q}), 1);
    EXPECT_EQ(FOut.str().substr(0, std::min<size_t>(q.size(), 253)), q.substr(0, 253));
    EXPECT_THAT(FOut.str(), testing::EndsWith("\terror\tnot an address or host name\n"));
  }
  EXPECT_TRUE(FResolver.Asked.empty());
  EXPECT_EQ(Run({"example.org.", "a-b.example"}), 0);
  EXPECT_EQ(FResolver.Asked, (std::vector<std::string>{"example.org.", "a-b.example"}));
  EXPECT_EQ(Run({"--no-resolve", "--country", "US"}), 2);
}

TEST_F(LookupTest, FirewallSetsAreNeverEmptyByAccidentAndHoldTheFamilyAsked) {
  // LACNIC is known but has no blocks here, nor has the database IPv6 ones.
  for (const char* form : {"ipset", "nft"}) {
    SCOPED_TRACE(form);
    EXPECT_EQ(Run({"--registry", "LACNIC", "--format", form, "--set-name", "s"}), 1);
    EXPECT_EQ(FOut.str(), "");
    EXPECT_EQ(FErr.str(),
              "kesl-lookup: the list has no blocks, so no set was written "
              "(--allow-empty writes an empty set)\n");
    EXPECT_EQ(Run({"--country", "US", "--family", "6", "--format", form, "--set-name", "s"}), 1);
    EXPECT_EQ(FOut.str(), "");
  }
  EXPECT_EQ(Run({"--country", "US", "--family", "6", "--format", "nft", "--set-name", "s",
                 "--allow-empty"}),
            0);
  EXPECT_THAT(FOut.str(), testing::HasSubstr("type ipv6_addr"));
  EXPECT_THAT(FOut.str(), testing::Not(testing::HasSubstr("add element")));
  EXPECT_EQ(Run({"--registry", "LACNIC", "--format", "ipset", "--set-name", "s", "--allow-empty"}),
            0);
  const std::string ts = IpsetTempName("s", " hash:net family inet maxelem 65536");
  EXPECT_EQ(FOut.str(), "create " + ts + " hash:net family inet maxelem 65536 -exist\nflush " + ts +
                            "\ncreate s hash:net family inet maxelem 65536 -exist\nswap " + ts +
                            " s\ndestroy " + ts + "\n");
  EXPECT_EQ(Run({"--registry", "LACNIC", "--allow-empty"}), 2);
  // The temporary set's name stays within ipset's 31 characters.
  EXPECT_EQ(IpsetTempName(std::string(31, 'x'), " hash:net family inet6 maxelem 1048576").size(),
            18u);
}

TEST_F(LookupTest, ADatabaseCutShortUnderALongRunEndsItWithAMessageNotASignal) {
  const std::string file = TTruncatingIO::Database();
  // Cut before and after the in-place index is built (after 4,096 queries).
  for (const size_t before : {size_t{10}, size_t{5000}}) {
    SCOPED_TRACE(before);
    const std::string db = FDir.Write("cut.ip4", file);
    TTruncatingIO io(db, before, 3000);
    EXPECT_EQ(LookupMain({"--db", db, "--stdin"}, io), 3);
    // The cut is seen as a change of the file, which is waited for to load
    // whole again; it does not.
    EXPECT_EQ(io.FErr.str(), "kesl-lookup: The file " + db +
                                 " was written over while it was read, and did not load whole "
                                 "again within 5 seconds\n");
    // What was answered before the cut is out, whole lines only.
    const std::string out = io.FOut.str();
    EXPECT_TRUE(out.empty() || out.back() == '\n');
  }
}

TEST(LookupCountryKindTest, TheSourcesTellWhatACountryIs) {
  // A registry's file gives registered countries, a range file located
  // ones, both together a mixed database; the answer says so whether the
  // file is searched in place (plain) or loaded (compressed).
  TTempDir dir;
  const std::string delegated = dir.Write(
      "delegated-apnic-extended-latest",
      "2|apnic|20261207|1|19830101|20261207|+1000\napnic|AU|ipv4|1.0.0.0|256|20110811|allocated\n");
  const std::string ranges = dir.Write("ranges", "134744064,134744319,US\n");
  const struct {
    std::vector<std::string> Inputs;
    const char* Kind;
  } cases[] = {{{delegated}, "registered"}, {{ranges}, "located"}, {{delegated, ranges}, "mixed"}};
  for (const auto& c : cases) {
    for (const char* compression : {"none", "bzip2"}) {
      SCOPED_TRACE(std::string(c.Kind) + " " + compression);
      const std::string db = dir.Path("kind.ip4");
      std::vector<std::string> args = {"-o", db, "--compress", compression};
      args.insert(args.end(), c.Inputs.begin(), c.Inputs.end());
      std::ostringstream mo, me;
      ASSERT_EQ(MkdbMain(args, mo, me), 0) << me.str();
      std::istringstream in;
      std::ostringstream out, err;
      const std::string query =
          c.Inputs.size() == 1 && c.Inputs[0] == ranges ? "8.8.8.8" : "1.0.0.1";
      EXPECT_EQ(LookupMain({"--db", db, "--format", "json", "--fields", "country,country_kind",
                            query, "10.0.0.1"},
                           in, out, err),
                1);
      EXPECT_EQ(out.str(), std::string("{\"country\":\"") + (query == "8.8.8.8" ? "US" : "AU") +
                               "\",\"country_kind\":\"" + c.Kind +
                               "\"}\n{\"country\":null,\"country_kind\":null}\n");
      std::ostringstream info;
      EXPECT_EQ(LookupMain({"--db", db, "--info"}, in, info, err), 0);
      EXPECT_THAT(info.str(), testing::HasSubstr(std::string("\nCountry kind: ") + c.Kind + " ("));
    }
  }
}

// The top of the space is an address like any other, though the numeric
// reader's failure value is the same: as an argument, on --stdin, in its
// other numeric forms; a database without it answers "not found".
TEST_F(LookupTest, TheLastAddressIsAnswered) {
  const std::string body = EncodeBinBody({}, {}, {MakeBlock(0xFFFFFF00, 256, "DE", kRipeID)}) +
                           EncodeTrailer({{ttSortedDisjoint, ""}});
  const std::string top = FDir.Write("top.ip4", EncodeDatabaseFile(true, cmNone, "20261201", body));
  std::vector<std::string> args = {"--db", top, "--fields", "query,status,country"};
  for (const char* form : {"255.255.255.255", "0xffffffff", "4294967295"}) {
    std::istringstream none;
    FOut.str("");
    auto withQuery = args;
    withQuery.push_back(form);
    EXPECT_EQ(LookupMain(withQuery, none, FOut, FErr), 0) << form;
    EXPECT_EQ(FOut.str(), std::string(form) + "\tok\tDE\n");
  }
  std::istringstream lines("255.255.255.255\n255.255.255.254\n255.255.255.256\n");
  FOut.str("");
  args.push_back("--stdin");
  EXPECT_EQ(LookupMain(args, lines, FOut, FErr), 1);
  EXPECT_EQ(FOut.str(),
            "255.255.255.255\tok\tDE\n255.255.255.254\tok\tDE\n255.255.255.256\terror\t\n");
  // Without a block there, the usual "not found".
  EXPECT_EQ(Run({"--fields", "status,address", "255.255.255.255"}), 1);
  EXPECT_EQ(FOut.str(), "not_found\t255.255.255.255\n");
}
