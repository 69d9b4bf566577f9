// The registries' data beside the blocks: its entries written and read
// back, their damage, and IANA's special-purpose table.
#include "ipdb/registrydata.h"

#include <gtest/gtest.h>

#include "ipdb/database.h"
#include "ipdb/encoder.h"
#include "ipdb/format.h"
#include "ipdb/inplace.h"
#include "ipdb/registries.h"
#include "ipdb/special.h"
#include "testutil.h"
#include "tools/files.h"
#include "tools/text.h"

namespace {

TRegistryTables SampleTables() {
  TRegistryTables t;
  t.Holders = {kRipeID, kRipeID, kArinID};
  t.Holdings4 = {{alAllocated, 0}, {alAssigned, 1}, {alAllocated, kNoHolder}};
  t.Holdings6 = {{alAssigned, 2}};
  // Holder 0's runs are written apart, the index brings them together.
  t.ASNs = {{64500, 4, 20200101, 0x4E4C, 3, {alAllocated, 0}},
            {64510, 1, 20200102, 0x4445, 3, {alAssigned, 1}},
            {64520, 2, 20200103, 0x4E4C, 3, {alAllocated, 0}},
            {64600, 100, 0, 0, 3, {alAvailable, kNoHolder}}};
  t.Free4 = {{0x05020400, 0x050207FF, 0, 3, alAvailable},
             {0x05020800, 0x050208FF, 20100101, 3, alReserved}};
  t.Free6 = {{TIPv6Address{0x2a01} << 112, (TIPv6Address{0x2a02} << 112) - 1, 0, 3, alAvailable}};
  return t;
}

TEST(RegistryDataTest, WrittenTablesReadBackWhereTheyLie) {
  std::string storage;
  const TRegistryEntries e = EncodeRegistryTables(SampleTables(), storage);
  TRegistryData d;
  ASSERT_TRUE(d.Attach(e, 3, 1));
  EXPECT_EQ(d.HolderCount(), 3u);
  // A holder is its registry and its number, from 1.
  EXPECT_EQ(d.HolderText(0), "RIPE:1");
  EXPECT_EQ(d.HolderText(2), "ARIN:3");
  EXPECT_EQ(d.HolderRegistry(1), kRipeID);
  EXPECT_EQ(d.HolderText(kNoHolder), "");
  EXPECT_EQ(d.Holding4(1).Status, alAssigned);
  EXPECT_EQ(d.Holding4(1).Holder, 1u);
  EXPECT_EQ(d.Holding4(2).Holder, kNoHolder);
  EXPECT_EQ(d.Holding4(3).Status, alUnknown);  // past the blocks
  EXPECT_EQ(d.Holding6(0).Holder, 2u);
  TASNRecord r;
  ASSERT_TRUE(d.FindASN(64503, r));
  EXPECT_EQ(ASNText(r), "AS64500 - AS64503");
  EXPECT_FALSE(d.FindASN(64504, r));
  EXPECT_FALSE(d.FindASN(1, r));
  ASSERT_TRUE(d.FindASN(64699, r));
  EXPECT_EQ(r.Holding.Status, alAvailable);
  EXPECT_FALSE(d.FindASN(64700, r));
  const auto runs = d.HolderASNs(0);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].First, 64500u);
  EXPECT_EQ(runs[1].First, 64520u);
  EXPECT_EQ(d.HolderASNs(1).size(), 1u);
  EXPECT_TRUE(d.HolderASNs(2).empty());
  TFreeRange4 f;
  ASSERT_TRUE(d.FindFree(0x050208FFu, f));
  EXPECT_EQ(f.Status, alReserved);
  EXPECT_FALSE(d.FindFree(0x05020900u, f));
  EXPECT_FALSE(d.FindFree(0x050203FFu, f));
  TFreeRange6 f6;
  EXPECT_TRUE(d.FindFree((TIPv6Address{0x2a01} << 112) + 5, f6));
  EXPECT_FALSE(d.FindFree(TIPv6Address{0x2a02} << 112, f6));
}

TEST(RegistryDataTest, DamagedEntriesCostOnlyThemselves) {
  std::string storage;
  const TRegistryEntries e = EncodeRegistryTables(SampleTables(), storage);
  TRegistryData d;
  // Holdings that count other blocks than the file's.
  EXPECT_FALSE(d.Attach(e, 4, 1));
  EXPECT_TRUE(d.Empty());
  EXPECT_FALSE(d.Attach(e, 3, 0));
  // Every entry cut short by a byte, or a byte too long.
  for (int which = 0; which < 4; ++which) {
    for (const int change : {-1, 1}) {
      std::string copies[4] = {std::string(e.Holders), std::string(e.Holdings), std::string(e.ASNs),
                               std::string(e.Free)};
      std::string& c = copies[which];
      if (change < 0) c.pop_back();
      if (change > 0) c += '\0';
      SCOPED_TRACE(which * 10 + change);
      EXPECT_FALSE(d.Attach({copies[0], copies[1], copies[2], copies[3]}, 3, 1));
      EXPECT_TRUE(d.Empty());
      EXPECT_EQ(d.Holding4(0).Status, alUnknown);
    }
  }
  // Counts that lie high cannot reach past the entry.
  std::string holders(e.Holders);
  holders[3] = '\x7f';
  EXPECT_FALSE(d.Attach({holders, e.Holdings, e.ASNs, e.Free}, 3, 1));
  // An index that names records that are not there gives nothing.
  std::string asns(e.ASNs);
  asns[asns.size() - 4] = '\x7f';
  ASSERT_TRUE(d.Attach({e.Holders, e.Holdings, asns, e.Free}, 3, 1));
  EXPECT_LE(d.HolderASNs(0).size(), 2u);
  // Without holders the holdings name none.
  ASSERT_TRUE(d.Attach({{}, e.Holdings, {}, {}}, 3, 1));
  EXPECT_EQ(d.Holding4(0).Status, alAllocated);
  EXPECT_EQ(d.Holding4(0).Holder, kNoHolder);
}

// A plain file of three IPv4 blocks and one IPv6 block with the sample
// tables; Change alters the trailer's entries before they are written.
std::string SampleFile(const std::function<void(std::vector<TTrailerEntry>&)>& Change = {}) {
  std::string storage;
  const TRegistryEntries e = EncodeRegistryTables(SampleTables(), storage);
  TIPv6Block six;
  six.Start = TIPv6Address{0x2a00} << 112;
  six.Last = six.Start + 0xFFFF;
  six.CountryCode = Code("NL");
  six.CenterID = kRipeID;
  std::vector<TTrailerEntry> trailer = {
      {ttIPv6Blocks, EncodeIPv6Blocks({six})}, {ttSortedDisjoint, {}},
      {ttHolders, std::string(e.Holders)},     {ttHoldings, std::string(e.Holdings)},
      {ttASNs, std::string(e.ASNs)},           {ttFreeSpace, std::string(e.Free)}};
  if (Change) Change(trailer);
  return EncodeDatabaseFile(true, cmNone, "20261201",
                            EncodeBinBody({}, {},
                                          {MakeBlock(0x05000000, 256, "NL", kRipeID),
                                           MakeBlock(0x05000200, 512, "DE", kRipeID),
                                           MakeBlock(0x05000400, 256, "DE", kRipeID)}) +
                                EncodeTrailer(trailer));
}

TEST(RegistryDataTest, LoadedAndInPlaceReadTheSameAndDamageCostsOnlyThem) {
  TTempDir dir;
  for (const bool damaged : {false, true}) {
    SCOPED_TRACE(damaged ? "damaged" : "whole");
    // Damage: holdings that count one block too many.
    const std::string path = dir.Write("db.ip4", SampleFile([damaged](auto& Trailer) {
                                         if (damaged) Trailer[3].Data[0] = 4;
                                       }));
    TIPv4Database db;
    ASSERT_NO_THROW(db.LoadFromFile(path));
    EXPECT_EQ(db.BlockCount(), 3);
    EXPECT_EQ(db.IPv6.Count(), 1);
    const auto mapped = TInPlaceDatabase::Open(path);
    ASSERT_TRUE(mapped);
    for (const TRegistryData* d : {&std::as_const(db.Registry), &mapped->Registry()}) {
      EXPECT_EQ(d->Empty(), damaged);
      EXPECT_EQ(d->Holding4(1).Holder, damaged ? kNoHolder : 1u);
      EXPECT_EQ(d->Holding6(0).Holder, damaged ? kNoHolder : 2u);
      TASNRecord r;
      EXPECT_EQ(d->FindASN(64520, r), !damaged);
    }
  }
  // An entry whose length claims far more than the file holds: the load
  // reads what is there, in pieces, and keeps the blocks.
  const std::string path = dir.Write("long.ip4", SampleFile([](auto& Trailer) {
                                       Trailer.resize(3);
                                       Trailer.push_back({ttASNs, std::string(8, '\0')});
                                     }));
  std::string bytes = ReadWholeFile(path, 1 << 20);
  const size_t at = bytes.size() - 8 - 4;  // the last entry's length
  bytes[at + 3] = '\x0f';                  // some 250 MB
  dir.Write("long.ip4", bytes);
  TIPv4Database db;
  ASSERT_NO_THROW(db.LoadFromFile(path));
  EXPECT_EQ(db.BlockCount(), 3);
  EXPECT_TRUE(db.Registry.Empty());
}

TEST(RegistryDataTest, ASQueries) {
  uint32_t as = 0;
  EXPECT_TRUE(ReadASNQuery("AS15169", as));
  EXPECT_EQ(as, 15169u);
  EXPECT_TRUE(ReadASNQuery("as4294967295", as));
  EXPECT_EQ(as, 4294967295u);
  for (const char* no :
       {"AS", "AS-1", "AS4294967296", "ASN15169", "AS15169x", "A15169", "AS 1", "15169", "as+1"}) {
    EXPECT_FALSE(ReadASNQuery(no, as)) << no;
  }
  EXPECT_EQ(AllocationOf("ALLOCATED"), alAllocated);
  EXPECT_EQ(AllocationOf("Reserved"), alReserved);
  EXPECT_EQ(AllocationOf("assigned "), alUnknown);
}

// IANA's registries as they publish them (CSV, with their footnote marks),
// transcribed apart from the program's table: prefix, name, and the
// "Globally Reachable" column.
const char kIanaIPv4[] =
    "Address Block,Name,RFC,Allocation Date,Termination Date,Source,Destination,Forwardable,"
    "Globally Reachable,Reserved-by-Protocol\n"
    "0.0.0.0/8,\"\"\"This network\"\"\",\"[RFC791], Section 3.2\",1981-09,N/A,True,False,False,"
    "False,True\n"
    "0.0.0.0/32,\"\"\"This host on this network\"\"\",\"[RFC1122], Section 3.2.1.3\",1981-09,N/A,"
    "True,False,False,False,True\n"
    "10.0.0.0/8,Private-Use,[RFC1918],1996-02,N/A,True,True,True,False,False\n"
    "100.64.0.0/10,Shared Address Space,[RFC6598],2012-04,N/A,True,True,True,False,False\n"
    "127.0.0.0/8,Loopback,\"[RFC1122], Section 3.2.1.3\",1981-09,N/A,False [6],False "
    "[6],False [6],False [6],True\n"
    "169.254.0.0/16,Link Local,[RFC3927],2005-05,N/A,True,True,False,False,True\n"
    "172.16.0.0/12,Private-Use,[RFC1918],1996-02,N/A,True,True,True,False,False\n"
    "192.0.0.0/24 [2],IETF Protocol Assignments,\"[RFC6890], Section 2.1\",2010-01,N/A,False,"
    "False,False,False,False\n"
    "192.0.0.0/29,IPv4 Service Continuity Prefix,[RFC7335],2011-06,N/A,True,True,True,False,False\n"
    "192.0.0.8/32,IPv4 dummy address,[RFC7600],2015-03,N/A,True,False,False,False,False\n"
    "192.0.0.9/32,Port Control Protocol Anycast,[RFC7723],2015-10,N/A,True,True,True,True,False\n"
    "192.0.0.10/32,Traversal Using Relays around NAT Anycast,[RFC8155],2017-02,N/A,True,True,True,"
    "True,False\n"
    "\"192.0.0.170/32, 192.0.0.171/32\",NAT64/DNS64 Discovery,\"[RFC8880][RFC7050], Section "
    "2.2\",2013-02,N/A,False,False,False,False,True\n"
    "192.0.2.0/24,Documentation (TEST-NET-1),[RFC5737],2010-01,N/A,False,False,False,False,False\n"
    "192.31.196.0/24,AS112-v4,[RFC7535],2014-12,N/A,True,True,True,True,False\n"
    "192.52.193.0/24,AMT,[RFC7450],2014-12,N/A,True,True,True,True,False\n"
    "192.88.99.0/24,Deprecated (6to4 Relay Anycast),[RFC7526],2001-06,2015-03,,,,,\n"
    "192.168.0.0/16,Private-Use,[RFC1918],1996-02,N/A,True,True,True,False,False\n"
    "192.175.48.0/24,Direct Delegation AS112 Service,[RFC7534],1996-01,N/A,True,True,True,True,"
    "False\n"
    "198.18.0.0/15,Benchmarking,[RFC2544],1999-03,N/A,True,True,True,False,False\n"
    "198.51.100.0/24,Documentation (TEST-NET-2),[RFC5737],2010-01,N/A,False,False,False,False,"
    "False\n"
    "203.0.113.0/24,Documentation "
    "(TEST-NET-3),[RFC5737],2010-01,N/A,False,False,False,False,False\n"
    "240.0.0.0/4,Reserved,\"[RFC1112], Section 4\",1989-08,N/A,False,False,False,False,True\n"
    "255.255.255.255/32,Limited Broadcast,\"[RFC8190]\n[RFC919], Section 7\",1984-10,N/A,False,"
    "True,False,False,True\n";

const char kIanaIPv6[] =
    "Address Block,Name,RFC,Allocation Date,Termination Date,Source,Destination,Forwardable,"
    "Globally Reachable,Reserved-by-Protocol\n"
    "::1/128,Loopback Address,[RFC4291],2006-02,N/A,False,False,False,False,True\n"
    "::/128,Unspecified Address,[RFC4291],2006-02,N/A,True,False,False,False,True\n"
    "::ffff:0:0/96,IPv4-mapped Address,[RFC4291],2006-02,N/A,False,False,False,False,True\n"
    "64:ff9b::/96,IPv4-IPv6 Translat.,[RFC6052],2010-10,N/A,True,True,True,True,False\n"
    "64:ff9b:1::/48,IPv4-IPv6 Translat.,[RFC8215],2017-06,N/A,True,True,True,False,False\n"
    "100::/64,Discard-Only Address Block,[RFC6666],2012-06,N/A,True,True,True,False,False\n"
    "100:0:0:1::/64,Dummy IPv6 Prefix,[RFC9780],2025-04,N/A,True,False,False,False,False\n"
    "2001::/23,IETF Protocol Assignments,[RFC2928],2000-09,N/A,False [1],False [1],False [1],False "
    "[1],False\n"
    "2001::/32,TEREDO,\"[RFC4380]\n[RFC8190]\",2006-01,N/A,True,True,True,N/A [2],False\n"
    "2001:1::1/128,Port Control Protocol Anycast,[RFC7723],2015-10,N/A,True,True,True,True,False\n"
    "2001:1::2/128,Traversal Using Relays around NAT Anycast,[RFC8155],2017-02,N/A,True,True,True,"
    "True,False\n"
    "2001:1::3/128,DNS-SD Service Registration Protocol Anycast,[RFC9665],2024-04,N/A,True,True,"
    "True,True,False\n"
    "2001:2::/48,Benchmarking,[RFC5180][RFC Errata 1752],2008-04,N/A,True,True,True,False,False\n"
    "2001:3::/32,AMT,[RFC7450],2014-12,N/A,True,True,True,True,False\n"
    "2001:4:112::/48,AS112-v6,[RFC7535],2014-12,N/A,True,True,True,True,False\n"
    "2001:10::/28,Deprecated (previously ORCHID),[RFC4843],2007-03,2014-03,,,,,\n"
    "2001:20::/28,ORCHIDv2,[RFC7343],2014-07,N/A,True,True,True,True,False\n"
    "2001:30::/28,Drone Remote ID Protocol Entity Tags (DETs) Prefix,[RFC9374],2022-12,N/A,True,"
    "True,True,True,False\n"
    "2001:db8::/32,Documentation,[RFC3849],2004-07,N/A,False,False,False,False,False\n"
    "2002::/16 [3],6to4,[RFC3056],2001-02,N/A,True,True,True,N/A [3],False\n"
    "2620:4f:8000::/48,Direct Delegation AS112 Service,[RFC7534],2011-05,N/A,True,True,True,True,"
    "False\n"
    "3fff::/20,Documentation,[RFC9637],2024-07,N/A,False,False,False,False,False\n"
    "5f00::/16,Segment Routing (SRv6) SIDs,[RFC9602],2024-04,N/A,True,True,True,False,False\n"
    "fc00::/7,Unique-Local,\"[RFC4193]\n[RFC8190]\",2005-10,N/A,True,True,True,False [4],False\n"
    "fe80::/10,Link-Local Unicast,[RFC4291],2006-02,N/A,True,True,False,False,True\n";

// The CSV's records: fields, quotes doubled, line ends inside quotes kept.
std::vector<std::vector<std::string>> CsvRecords(std::string_view Text) {
  std::vector<std::vector<std::string>> out(1, std::vector<std::string>(1));
  bool quoted = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    std::string& field = out.back().back();
    if (quoted && c == '"' && i + 1 < Text.size() && Text[i + 1] == '"') {
      field += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      out.back().emplace_back();
    } else if (!quoted && c == '\n') {
      out.emplace_back(1);
    } else {
      field += c;
    }
  }
  if (out.back().size() == 1 && out.back()[0].empty()) out.pop_back();
  return out;
}

// A field without its footnote mark (" [2]").
std::string Plain(std::string Field) {
  const size_t mark = Field.find(" [");
  return mark == std::string::npos ? Field : Field.substr(0, mark);
}

TEST(SpecialTableTest, EveryEntryIsIanasAsPublished) {
  std::vector<const TSpecialRange*> unseen;
  for (const TSpecialRange& r : SpecialRanges()) {
    if (r.Name != "Multicast") unseen.push_back(&r);
  }
  for (const auto& [csv, family] : {std::pair(kIanaIPv4, 4), std::pair(kIanaIPv6, 6)}) {
    const auto records = CsvRecords(csv);
    ASSERT_GT(records.size(), 10u);
    for (size_t i = 1; i < records.size(); ++i) {
      const auto& f = records[i];
      ASSERT_EQ(f.size(), 10u) << f[0];
      const std::string reachable = Plain(f[8]), prefixes = Plain(f[0]);
      for (std::string_view prefix : SplitText(prefixes, ',')) {
        while (!prefix.empty() && prefix.front() == ' ') prefix.remove_prefix(1);
        SCOPED_TRACE(std::string(prefix));
        const auto it = std::find_if(unseen.begin(), unseen.end(),
                                     [&](const TSpecialRange* r) { return r->Prefix == prefix; });
        ASSERT_NE(it, unseen.end());
        EXPECT_EQ((*it)->Family, family);
        EXPECT_EQ((*it)->Name, f[1]);
        EXPECT_EQ(ReachableText((*it)->Reachable), reachable == "True"    ? "yes"
                                                   : reachable == "False" ? "no"
                                                                          : "n/a");
        unseen.erase(it);
      }
    }
  }
  for (const TSpecialRange* r : unseen) ADD_FAILURE() << "not IANA's: " << r->Prefix;
}

TEST(SpecialTableTest, TheMostSpecificRangeAnswers) {
  const std::pair<const char*, const char*> cases[] = {
      {"0.1.2.3", "\"This network\""},
      {"0.0.0.0", "\"This host on this network\""},
      {"10.255.255.255", "Private-Use"},
      {"100.127.255.255", "Shared Address Space"},
      {"127.0.0.1", "Loopback"},
      {"192.0.0.9", "Port Control Protocol Anycast"},
      {"192.0.0.7", "IPv4 Service Continuity Prefix"},
      {"192.0.0.11", "IETF Protocol Assignments"},
      {"224.0.0.1", "Multicast"},
      {"239.255.255.255", "Multicast"},
      {"255.255.255.254", "Reserved"},
      {"255.255.255.255", "Limited Broadcast"},
  };
  for (const auto& [address, name] : cases) {
    const TSpecialRange* r = FindSpecial(StrToIP(address));
    ASSERT_NE(r, nullptr) << address;
    EXPECT_EQ(r->Name, name) << address;
  }
  for (const char* global : {"8.8.8.8", "100.63.255.255", "100.128.0.0", "172.32.0.0",
                             "223.255.255.255", "9.255.255.255", "11.0.0.0"}) {
    EXPECT_EQ(FindSpecial(StrToIP(global)), nullptr) << global;
  }
  const std::pair<const char*, const char*> cases6[] = {
      {"::1", "Loopback Address"},
      {"::", "Unspecified Address"},
      {"2001:1::3", "DNS-SD Service Registration Protocol Anycast"},
      {"2001:1::4", "IETF Protocol Assignments"},
      {"2001:0:1::", "TEREDO"},
      {"2001:db8:ffff::1", "Documentation"},
      {"fdff::1", "Unique-Local"},
      {"febf::1", "Link-Local Unicast"},
      {"ff02::1", "Multicast"},
  };
  for (const auto& [address, name] : cases6) {
    TIPv6Address a = 0;
    ASSERT_TRUE(StrToIPv6(address, a));
    const TSpecialRange* r = FindSpecial(a);
    ASSERT_NE(r, nullptr) << address;
    EXPECT_EQ(r->Name, name) << address;
  }
  TIPv6Address global = 0;
  ASSERT_TRUE(StrToIPv6("2001:200::1", global));
  EXPECT_EQ(FindSpecial(global), nullptr);
  ASSERT_TRUE(StrToIPv6("fec0::1", global));
  EXPECT_EQ(FindSpecial(global), nullptr);
}

}  // namespace
