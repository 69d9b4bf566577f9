// What the registries' extended files say beside the country, kept by
// kesl-mkdb --update (from file:// addresses) and answered by kesl-lookup,
// in place and loaded: holders, AS numbers, free space, bogons.
#include <algorithm>
#include <random>
#include <sstream>

#include "cli/lookup.h"
#include "cli/mkdb.h"
#include "ipdb/database.h"
#include "ipdb/special.h"
#include "registryfiles.h"
#include "tools/md5.h"
#include "tools/text.h"

namespace {

struct TOut {
  int Status = 0;
  std::string Out, Err;
};

TOut Lookup(std::vector<std::string> Args, const std::string& In = "") {
  std::istringstream in(In);
  std::ostringstream out, err;
  const int rc = LookupMain(Args, in, out, err);
  return {rc, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> out;
  for (std::string_view l : SplitText(Text, '\n')) {
    if (!l.empty()) out.emplace_back(l);
  }
  return out;
}

// RIPE's file: two holders with records of every type, runs of AS numbers,
// available and reserved ranges of each family, and summaries that count
// them all.
const char kRipe[] =
    "2.3|ripencc|20261207|16|19830705|20261207|+0100\n"
    "ripencc|*|asn|*|5|summary\n"
    "ripencc|*|ipv4|*|6|summary\n"
    "ripencc|*|ipv6|*|4|summary\n"
    "ripencc|NL|ipv4|5.0.0.0|256|20200101|allocated|org-a\n"
    "ripencc|NL|ipv4|5.1.0.0|65536|20100101|allocated|org-a\n"
    "ripencc|DE|ipv4|5.2.0.0|512|20200102|assigned|org-b\n"
    "ripencc|DE|ipv4|5.3.0.0|256|20200103|assigned|\n"
    "ripencc||ipv4|5.2.4.0|1024||available|\n"
    "ripencc|ZZ|ipv4|5.2.8.0|256|20100101|reserved|\n"
    "ripencc|NL|ipv6|2a00:1::|32|20200101|allocated|org-a\n"
    "ripencc|DE|ipv6|2a00:2::|32|20200101|assigned|org-b\n"
    "ripencc||ipv6|2a01::|16||available|\n"
    "ripencc|ZZ|ipv6|2a02::|16|20100101|reserved|\n"
    "ripencc|NL|asn|64500|4|20200101|allocated|org-a\n"
    "ripencc|NL|asn|64510|1|20200102|allocated|org-a\n"
    "ripencc|DE|asn|64520|2|20200103|assigned|org-b\n"
    "ripencc||asn|64600|100||available|\n"
    "ripencc|ZZ|asn|64700|10|20100101|reserved|\n";

class HoldersTest : public testing::TestWithParam<bool> {
 protected:
  static void SetUpTestSuite() {
    Files = new TTempDir;
    Out = new TTempDir;
    WriteStatsFiles(*Files);
    Files->Write(StatsName(kRipeID), kRipe);
    Files->Write(StatsName(kRipeID) + ".md5", Md5Hex(kRipe));
    Db = Out->Path("country.ip4");
    std::ostringstream out, err;
    UpdateStatus = MkdbMain(
        {"--update", "--from", "file://" + Files->Dir(), "--retry-wait", "0", "-o", Db}, out, err);
    UpdateReport = out.str() + err.str();
    // The same database written compressed, so that it loads whole.
    std::ostringstream o2, e2;
    MkdbMain({"--update", "--from", "file://" + Files->Dir(), "--retry-wait", "0", "-o",
              Out->Path("zlib.ip4"), "--compress", "zlib"},
             o2, e2);
  }
  static void TearDownTestSuite() {
    delete Files;
    delete Out;
  }
  // The database in place, or the compressed one loaded whole.
  std::string DbPath() const { return GetParam() ? Db : Out->Path("zlib.ip4"); }
  TOut Run(std::vector<std::string> Args) {
    Args.insert(Args.begin(), {"--db", DbPath()});
    return Lookup(Args);
  }
  std::string Json(const std::string& Query, const std::string& Fields) {
    return Run({"--format", "json", "--fields", Fields, Query}).Out;
  }

  static TTempDir* Files;
  static TTempDir* Out;
  static std::string Db, UpdateReport;
  static int UpdateStatus;
};
TTempDir* HoldersTest::Files = nullptr;
TTempDir* HoldersTest::Out = nullptr;
std::string HoldersTest::Db, HoldersTest::UpdateReport;
int HoldersTest::UpdateStatus = -1;

TEST_P(HoldersTest, TheUpdateKeepsHoldersASNsAndFreeSpace) {
  ASSERT_EQ(UpdateStatus, 0) << UpdateReport;
  ASSERT_TRUE(std::filesystem::exists(Out->Path("zlib.ip4")));
  const std::string all = "allocation,holder,asns,registry";
  // A holder is named by its registry and a number of this database.
  const std::string holderA = Json("5.0.0.1", "holder"), holderB = Json("5.2.1.1", "holder");
  EXPECT_THAT(holderA, testing::MatchesRegex("\\{\"holder\":\"RIPE:[0-9]+\"\\}\n"));
  EXPECT_NE(holderA, holderB);
  const std::string a = holderA.substr(11, holderA.size() - 14),
                    b = holderB.substr(11, holderB.size() - 14);
  // One holder's records of every type share its holder and its AS numbers.
  const std::string orgA =
      "\"holder\":\"" + a + "\",\"asns\":[64500,64501,64502,64503,64510],\"registry\":\"RIPE\"}\n";
  EXPECT_EQ(Json("5.0.0.1", all), "{\"allocation\":\"allocated\"," + orgA);
  EXPECT_EQ(Json("5.1.255.255", all), "{\"allocation\":\"allocated\"," + orgA);
  EXPECT_EQ(Json("2a00:1::1", all), "{\"allocation\":\"allocated\"," + orgA);
  EXPECT_EQ(Json("AS64510", all), "{\"allocation\":\"allocated\"," + orgA);
  EXPECT_EQ(Json("as64501", all), "{\"allocation\":\"allocated\"," + orgA);
  EXPECT_EQ(Json("5.2.1.1", all), "{\"allocation\":\"assigned\",\"holder\":\"" + b +
                                      "\",\"asns\":[64520,64521],\"registry\":\"RIPE\"}\n");
  // A record without an id has no holder; nor do other registries' ids
  // mean the same holder as RIPE's, though they read alike.
  EXPECT_EQ(Json("5.3.0.1", all),
            "{\"allocation\":\"assigned\",\"holder\":null,\"asns\":null,\"registry\":\"RIPE\"}\n");
  const std::string arin = Json("3.1.2.3", "holder"), apnic = Json("1.0.0.1", "holder");
  EXPECT_THAT(arin, testing::StartsWith("{\"holder\":\"ARIN:"));
  EXPECT_THAT(apnic, testing::StartsWith("{\"holder\":\"APNIC:"));
  EXPECT_NE(arin.substr(arin.find(':', 10)), apnic.substr(apnic.find(':', 10)));
  // Two ids of one registry: two holders.
  EXPECT_NE(Json("1.0.1.1", "holder"), apnic);
  // Free space: not found, with its allocation and registry.
  EXPECT_EQ(Json("5.2.4.9", "status,allocation,registry,country"),
            "{\"status\":\"not_found\",\"allocation\":\"available\",\"registry\":\"RIPE\","
            "\"country\":null}\n");
  EXPECT_EQ(Json("5.2.8.255", "status,allocation"),
            "{\"status\":\"not_found\",\"allocation\":\"reserved\"}\n");
  EXPECT_EQ(Json("2a02:ffff::1", "status,allocation,registry"),
            "{\"status\":\"not_found\",\"allocation\":\"reserved\",\"registry\":\"RIPE\"}\n");
  EXPECT_EQ(Json("AS64650", "status,address,allocation,registry"),
            "{\"status\":\"not_found\",\"address\":\"AS64650\",\"allocation\":\"available\","
            "\"registry\":\"RIPE\"}\n");
  // An address in no record of any kind.
  EXPECT_EQ(Json("9.9.9.9", "status,allocation,registry,special"),
            "{\"status\":\"not_found\",\"allocation\":null,\"registry\":null,\"special\":null}\n");
  // An AS number answers like an address, its run as the block.
  EXPECT_EQ(Run({"AS64502", "AS64521", "AS1"}).Out,
            "AS64502\tAS64502\tAS64500 - AS64503\tNL\tNetherlands\tRIPE\t20200101\n"
            "AS64521\tAS64521\tAS64520 - AS64521\tDE\tGermany\tRIPE\t20200103\n"
            "AS1\tAS1\t-\n");
  // csv: the AS numbers joined in one field, the new columns last.
  EXPECT_EQ(Run({"--format", "csv", "--fields", "block,asns,special", "AS64510", "192.0.2.1"}).Out,
            "AS64510,\"64500,64501,64502,64503,64510\",\r\n,,Documentation (TEST-NET-1)\r\n");
  // An annotation: the AS numbers space-joined; an address in no block is
  // "[-]" unless a chosen field knows of it.
  const std::vector<std::string> annotate = {"--db", DbPath(), "--annotate", "--fields",
                                             "country,allocation,asns,special"};
  EXPECT_EQ(Lookup(annotate, "a 5.2.0.1 b 10.0.0.1 c 9.9.9.9 d 5.2.4.1\n").Out,
            "a 5.2.0.1[DE,assigned,64520 64521,] b 10.0.0.1[,,,Private-Use] c 9.9.9.9[-] d "
            "5.2.4.1[,available,,]\n");
  // Numbers that are no AS query stay host names or errors.
  EXPECT_EQ(Json("AS", "status"), "{\"status\":\"error\"}\n");
  EXPECT_EQ(Json("AS99999999999", "status,address"), "{\"status\":\"error\",\"address\":null}\n");
}

TEST_P(HoldersTest, HolderListsEveryRecordOfTheHolder) {
  const std::string orgA =
      "5.0.0.0 - 5.0.0.127\n5.1.0.0 - 5.1.255.255\n2a00:1:: - "
      "2a00:1:ffff:ffff:ffff:ffff:ffff:ffff\nAS64500 - AS64503\nAS64510\n";
  // ARIN's later block took 5.0.0.128/25 from org-a's /24.
  for (const char* query : {"5.0.0.1", "2a00:1::9", "AS64503", "as64510"}) {
    SCOPED_TRACE(query);
    const TOut r = Run({"--holder", query});
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, orgA);
  }
  // --family limits the blocks; the AS numbers stay.
  EXPECT_EQ(Run({"--holder", "5.2.0.1", "--notation", "cidr", "--family", "4"}).Out,
            "5.2.0.0/23\nAS64520 - AS64521\n");
  EXPECT_EQ(Run({"--holder", "AS64520", "--family", "6", "--notation", "cidr"}).Out,
            "2a00:2::/32\nAS64520 - AS64521\n");
  EXPECT_EQ(Run({"--holder", "5.0.0.1", "--aggregate", "--notation", "cidr", "--family", "4"}).Out,
            "5.0.0.0/25\n5.1.0.0/16\nAS64500 - AS64503\nAS64510\n");
  // The firewall forms take the blocks, of one family.
  const TOut nft = Run({"--holder", "5.0.0.1", "--format", "nft", "--set-name", "orga"});
  EXPECT_EQ(nft.Status, 0) << nft.Err;
  EXPECT_THAT(nft.Out, testing::HasSubstr("{ 5.0.0.0-5.0.0.127, 5.1.0.0-5.1.255.255 }"));
  EXPECT_THAT(nft.Out, testing::Not(testing::HasSubstr("AS64")));
  EXPECT_THAT(nft.Out, testing::Not(testing::HasSubstr("2a00")));
  // No holder: exit 1 and why.
  const TOut none = Run({"--holder", "5.3.0.1"});
  EXPECT_EQ(none.Status, 1);
  EXPECT_EQ(none.Out, "");
  EXPECT_THAT(none.Err, testing::HasSubstr("no holder is known"));
  EXPECT_EQ(Run({"--holder", "AS1"}).Status, 1);
}

TEST_P(HoldersTest, BogonsAreExactlyTheUndelegatedAndTheNonGlobalSpace) {
  TIPv4Database db;
  db.LoadFromFile(DbPath());
  // The model: an address is a bogon when no block holds it, or when a
  // special-purpose range that is not globally reachable does.
  auto bogon4 = [&](uint32_t ip) {
    bool nonGlobal = false;
    for (const TSpecialRange& r : SpecialRanges()) {
      nonGlobal |=
          r.Family == 4 && r.Reachable == reNo && MapIPv4(ip) >= r.First && MapIPv4(ip) <= r.Last;
    }
    return db.FindBlock(ip) < 0 || nonGlobal;
  };
  for (const bool aggregate : {false, true}) {
    std::vector<std::string> args = {"--bogons", "--family", "4"};
    if (aggregate) args.push_back("--aggregate");
    const TOut r = Run(args);
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::vector<std::pair<uint32_t, uint32_t>> listed;
    for (const std::string& line : Lines(r.Out)) {
      const size_t dash = line.find(" - ");
      ASSERT_NE(dash, std::string::npos) << line;
      listed.emplace_back(StrToIP(line.substr(0, dash)), StrToIP(line.substr(dash + 3)));
    }
    auto inList = [&](uint32_t ip) {
      return std::any_of(listed.begin(), listed.end(),
                         [ip](const auto& l) { return l.first <= ip && ip <= l.second; });
    };
    // Every edge of every block and special range, and addresses at random.
    std::vector<uint32_t> probes = {0, 0xFFFFFFFFu};
    for (const TIPv4Block& b : db.Blocks) {
      for (int64_t p : {int64_t{b.StartIP} - 1, int64_t{b.StartIP}, int64_t{b.LastIP()},
                        int64_t{b.LastIP()} + 1}) {
        if (p >= 0 && p <= 0xFFFFFFFF) probes.push_back(static_cast<uint32_t>(p));
      }
    }
    for (const TSpecialRange& s : SpecialRanges()) {
      if (s.Family != 4) continue;
      for (int64_t p : {int64_t(s.First & 0xFFFFFFFFu) - 1, int64_t(s.First & 0xFFFFFFFFu),
                        int64_t(s.Last & 0xFFFFFFFFu), int64_t(s.Last & 0xFFFFFFFFu) + 1}) {
        if (p >= 0 && p <= 0xFFFFFFFF) probes.push_back(static_cast<uint32_t>(p));
      }
    }
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) probes.push_back(static_cast<uint32_t>(rng()));
    for (const uint32_t ip : probes) {
      ASSERT_EQ(inList(ip), bogon4(ip)) << IPToStr(ip) << (aggregate ? " aggregated" : "");
    }
    if (aggregate) {
      // Merged: no two ranges touch.
      for (size_t i = 1; i < listed.size(); ++i) {
        EXPECT_GT(uint64_t{listed[i].first}, uint64_t{listed[i - 1].second} + 1);
      }
    }
  }
  // IPv6: every block's edges and the special ranges.
  const TOut r6 = Run({"--bogons", "--family", "6", "--aggregate"});
  ASSERT_EQ(r6.Status, 0) << r6.Err;
  std::vector<std::pair<TIPv6Address, TIPv6Address>> listed6;
  for (const std::string& line : Lines(r6.Out)) {
    const size_t dash = line.find(" - ");
    TIPv6Address a = 0, b = 0;
    ASSERT_TRUE(StrToIPv6(line.substr(0, dash), a) && StrToIPv6(line.substr(dash + 3), b)) << line;
    listed6.emplace_back(a, b);
  }
  auto in6 = [&](TIPv6Address ip) {
    return std::any_of(listed6.begin(), listed6.end(),
                       [ip](const auto& l) { return l.first <= ip && ip <= l.second; });
  };
  for (const TIPv6Block& b : db.IPv6.Blocks) {
    const TSpecialRange* s = FindSpecial(b.Start);
    const bool nonGlobal = s && s->Reachable == reNo;
    EXPECT_EQ(in6(b.Start), nonGlobal) << IPv6ToStr(b.Start);
    EXPECT_EQ(in6(b.Last + 1), db.IPv6.Find(b.Last + 1) < 0) << IPv6ToStr(b.Last + 1);
  }
  for (const TSpecialRange& s : SpecialRanges()) {
    if (s.Family == 6 && s.Reachable == reNo) {
      EXPECT_TRUE(in6(s.First) && in6(s.Last)) << s.Prefix;
    }
  }
  // The firewall form: a set of one family.
  const TOut set = Run({"--bogons", "--format", "ipset", "--set-name", "bogons", "--aggregate"});
  EXPECT_EQ(set.Status, 0) << set.Err;
  EXPECT_THAT(set.Out, testing::HasSubstr("add kesl-swap-"));
  // Multicast and 240.0.0.0/4 meet the undelegated space above 208.0.0.0/4.
  EXPECT_THAT(set.Out, testing::HasSubstr(" 224.0.0.0/3\n"));
  EXPECT_THAT(set.Out, testing::HasSubstr("swap kesl-swap-"));
}

INSTANTIATE_TEST_SUITE_P(InPlaceAndLoaded, HoldersTest, testing::Bool());

TEST(HoldersWithoutDataTest, StandardFilesSayNothingOfHolders) {
  // A registry's standard file: its records end at the status.
  TTempDir dir;
  dir.Write("delegated-ripencc-latest",
            "2|ripencc|20261207|2|19830705|20261207|+0100\n"
            "ripencc|NL|ipv4|5.0.0.0|256|20200101|allocated\n"
            "ripencc|NL|asn|64500|1|20200101|allocated\n");
  const std::string db = dir.Path("standard.ip4");
  std::ostringstream out, err;
  ASSERT_EQ(MkdbMain({"-o", db, dir.Path("delegated-ripencc-latest")}, out, err), 0) << err.str();
  EXPECT_EQ(Lookup({"--db", db, "--holder", "5.0.0.1"}).Status, 1);
  EXPECT_EQ(
      Lookup({"--db", db, "--format", "json", "--fields", "status,allocation", "AS64500"}).Out,
      "{\"status\":\"not_found\",\"allocation\":null}\n");
  // Its gaps still tell what is not delegated.
  EXPECT_EQ(Lookup({"--db", db, "--bogons", "--notation", "cidr", "--aggregate"}).Status, 0);
}

TEST(HoldersWithoutDataTest, RangeFilesSayNothingOfHolders) {
  TTempDir dir;
  dir.Write("geoip", "16777216,16777471,AU\n");
  const std::string db = dir.Path("ranges.ip4");
  std::ostringstream out, err;
  ASSERT_EQ(MkdbMain({"-o", db, dir.Path("geoip")}, out, err), 0) << err.str();
  const TOut holder = Lookup({"--db", db, "--holder", "1.0.0.1"});
  EXPECT_EQ(holder.Status, 1);
  EXPECT_THAT(holder.Err, testing::HasSubstr("run kesl-mkdb --update"));
  const TOut bogons = Lookup({"--db", db, "--bogons"});
  EXPECT_EQ(bogons.Status, 1);
  EXPECT_THAT(bogons.Err, testing::HasSubstr("registries' own files"));
  // The fields are there, unknown; the special-purpose name is answered all
  // the same.
  EXPECT_EQ(Lookup({"--db", db, "--format", "json", "--fields", "allocation,holder,asns,special",
                    "1.0.0.1", "127.0.0.1"})
                .Out,
            "{\"allocation\":null,\"holder\":null,\"asns\":null,\"special\":null}\n"
            "{\"allocation\":null,\"holder\":null,\"asns\":null,\"special\":\"Loopback\"}\n");
}

}  // namespace
