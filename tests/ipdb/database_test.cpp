#include "ipdb/database.h"

#include <algorithm>
#include <random>
#include <set>

#include "testutil.h"
#include "tools/text.h"

TEST(TIPv4DatabaseTest, NewDatabaseHoldsBuiltInTables) {
  TIPv4Database db;
  EXPECT_EQ(db.CountryCount(), 250);
  EXPECT_EQ(db.CenterCount(), 5);
  EXPECT_EQ(db.FindBlock(0x08080808), -1);
  EXPECT_EQ(db.Created, 0);
  ASSERT_NE(db.CountryBlocks(Code("US")), nullptr);
  EXPECT_TRUE(db.CountryBlocks(Code("US"))->empty());
  EXPECT_EQ(db.CenterAt(db.FindCenter(3))->Name, "RIPE");
  EXPECT_EQ(db.FindCenter(0), -1);
  EXPECT_EQ(db.FindCenter(6), -1);
  const char* names[] = {"IANA", "ARIN", "RIPE", "APNIC", "LACNIC"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(db.CenterAt(i)->ID, i + 1);
    EXPECT_EQ(db.CenterAt(i)->Name, names[i]);
  }
}

TEST(TIPv4DatabaseTest, CountriesOfNote) {
  TIPv4Database db;
  const TIPv4Country* gb = db.CountryAt(db.FindCountry(Code("GB")));
  EXPECT_EQ(gb->Name, "United Kingdom");
  EXPECT_EQ(gb->Domain, "UK");
  EXPECT_EQ(gb->Capital, "London");
  EXPECT_EQ(gb->Currency, "Pound Sterling");
  EXPECT_EQ(gb->Population, 59647790);
  EXPECT_EQ(db.FindCountry(Code("UK")), -1);
  const TIPv4Country* tl = db.CountryAt(db.FindCountry(Code("TL")));
  EXPECT_EQ(tl->Name, "East Timor");
  EXPECT_EQ(tl->Population, -1);
  const TIPv4Country* ad = db.CountryAt(db.FindCountry(Code("AD")));
  EXPECT_EQ(ad->Capital, "Andorra la Vella");
  EXPECT_EQ(ad->Region, "Europe");
  EXPECT_EQ(ad->Population, 67627);
  const TIPv4Country* aq = db.CountryAt(db.FindCountry(Code("AQ")));
  EXPECT_EQ(aq->Capital, "--");
  EXPECT_EQ(aq->Region, "Antarctic Region");
  // Latin-1, one byte per accented letter.
  EXPECT_EQ(db.CountryAt(db.FindCountry(Code("RE")))->Name, "R\xE9union");
  EXPECT_EQ(db.CountryAt(db.FindCountry(Code("ST")))->Name, "S\xE3o Tom\xE9 and Pr\xEDncipe");
  EXPECT_EQ(Latin1ToUtf8("R\xE9union"), "R\xC3\xA9union");
}

TEST(TIPv4DatabaseTest, CountryListOrderAndDuplicateCodes) {
  TIPv4Database db;
  std::multiset<std::string> dashDomains;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(db.CountryAt(i)->Code, Code("--"));
    dashDomains.insert(db.CountryAt(i)->Domain);
  }
  EXPECT_EQ(dashDomains, (std::multiset<std::string>{"FX", "GG", "IM", "JE"}));
  EXPECT_EQ(CodeToStr(db.CountryAt(4)->Code), "A1");
  EXPECT_EQ(CodeToStr(db.CountryAt(5)->Code), "A2");
  EXPECT_EQ(CodeToStr(db.CountryAt(6)->Code), "AD");
  EXPECT_EQ(CodeToStr(db.CountryAt(7)->Code), "AE");
  for (int i = 1; i < db.CountryCount(); ++i) {
    EXPECT_LE(db.CountryAt(i - 1)->Code, db.CountryAt(i)->Code);
  }
  const int dash = db.FindCountry(Code("--"));
  ASSERT_GE(dash, 0);
  ASSERT_LT(dash, 4);
  EXPECT_EQ(db.CountryBlocks(Code("--")), &db.CountryAt(dash)->Blocks);
  std::set<std::string> tlDomains;
  for (int i = 0; i < db.CountryCount(); ++i) {
    if (db.CountryAt(i)->Code == Code("TL")) tlDomains.insert(db.CountryAt(i)->Domain);
  }
  EXPECT_EQ(tlDomains, (std::set<std::string>{"TP", "TL"}));
}

TEST(TIPv4DatabaseTest, AddCountryNeedsTwoCharacters) {
  TIPv4Database db;
  db.AddCountry("USA", "x", "", "", "", "", 0);
  db.AddCountry("U", "x", "", "", "", "", 0);
  EXPECT_EQ(db.CountryCount(), 250);
  db.AddCountry("us", "lower", "us", "", "", "", 0);
  ASSERT_EQ(db.CountryCount(), 251);
  EXPECT_EQ(db.CountryAt(250)->Code, Code("us"));
  db.SortAndLink();
  EXPECT_EQ(db.CountryAt(250)->Name, "lower");  // sorts after every upper-case code
}

TEST(TIPv4DatabaseTest, IndexErrors) {
  TIPv4Database db;
  EXPECT_THROW_MSG(db.BlockAt(0), EListError, "List index out of bounds (0)");
  EXPECT_THROW_MSG(db.CountryAt(250), EListError, "List index out of bounds (250)");
  EXPECT_THROW_MSG(db.CenterAt(-1), EListError, "List index out of bounds (-1)");
}

TEST(TIPv4DatabaseTest, FindBlockAtBlockEdges) {
  TIPv4Database db;
  db.Blocks = {MakeBlock(0xC8000000, 256), MakeBlock(0x0A000000, 16), MakeBlock(0, 1),
               MakeBlock(0x0A000010, 16, "DE", 3), MakeBlock(0xFF000000, 16777216)};
  db.SortAndLink();
  ASSERT_EQ(db.BlockAt(0)->StartIP, 0u);
  EXPECT_EQ(db.BlockAt(4)->StartIP, 0xFF000000u);  // unsigned order
  EXPECT_EQ(db.FindBlock(0), 0);
  EXPECT_EQ(db.FindBlock(1), -1);
  EXPECT_EQ(db.FindBlock(0x0A000000), 1);
  EXPECT_EQ(db.FindBlock(0x0A00000F), 1);
  EXPECT_EQ(db.FindBlock(0x0A000010), 2);  // the next block starts right there
  EXPECT_EQ(db.FindBlock(0x0A000020), -1);
  EXPECT_EQ(db.FindBlock(0x80000000), -1);
  EXPECT_EQ(db.FindBlock(0xC80000FF), 3);
  EXPECT_EQ(db.FindBlock(0xFFFFFFFF), 4);
  EXPECT_EQ(db.BlockAt(2)->Country->Name, "Germany");
  EXPECT_EQ(db.BlockAt(2)->Center->Name, "RIPE");
  const auto* us = db.CountryBlocks(Code("US"));
  ASSERT_EQ(us->size(), 4u);
  for (size_t i = 1; i < us->size(); ++i) EXPECT_LT((*us)[i - 1]->StartIP, (*us)[i]->StartIP);
  EXPECT_EQ(db.CenterAt(db.FindCenter(2))->Blocks.size(), 4u);
}

TEST(TIPv4DatabaseTest, ZeroCountBlocksHoldNothing) {
  for (bool linked : {false, true}) {
    SCOPED_TRACE(linked);
    TIPv4Database db;
    db.Blocks = {MakeBlock(0x0A000000, 0), MakeBlock(0x0A000000, 256), MakeBlock(0x0B000000, 0)};
    if (linked) db.SortAndLink();
    EXPECT_EQ(db.BlockAt(db.FindBlock(0x0A000005))->Count, 256u);
    EXPECT_EQ(db.FindBlock(0x0B000000), -1);
    // An empty block inside another one does not hide it.
    db.Blocks = {MakeBlock(0x0A000000, 512), MakeBlock(0x0A000100, 0), MakeBlock(0x0C000000, 1)};
    if (linked) db.SortAndLink();
    EXPECT_EQ(db.FindBlock(0x0A000105), 0);
    EXPECT_EQ(db.FindBlock(0x0A0001FF), 0);
    EXPECT_EQ(db.FindBlock(0x0A000200), -1);
    EXPECT_EQ(db.FindBlock(0x0C000000), 2);
  }
}

TEST(TIPv4DatabaseTest, BlockRunningPastTheTopHoldsNothingBelowItsStart) {
  // 255.255.255.0 with Count 512: the lowest block, and it runs past
  // 255.255.255.255. Nothing below its start is in it.
  for (bool linked : {false, true}) {
    SCOPED_TRACE(linked);
    TIPv4Database db;
    db.Blocks = {MakeBlock(0xFFFFFF00, 512)};
    if (linked) db.SortAndLink();
    EXPECT_EQ(db.FindBlock(0xFFFFFF00), 0);
    EXPECT_EQ(db.FindBlock(0xFFFFFFFF), 0);
    EXPECT_EQ(db.FindBlock(0xFFFFFEFF), -1);
    EXPECT_EQ(db.FindBlock(0x00000005), -1);
    EXPECT_EQ(db.FindBlock(0), -1);
    // Below a lowest block that does not wrap.
    db.Blocks = {MakeBlock(0x0A000000, 256), MakeBlock(0xFFFFFF00, 512)};
    if (linked) db.SortAndLink();
    EXPECT_EQ(db.FindBlock(0x09FFFFFF), -1);
    EXPECT_EQ(db.FindBlock(0x00000005), -1);
    EXPECT_EQ(db.FindBlock(0xFFFFFFFF), 1);
  }
}

TEST(TIPv4DatabaseTest, LinkErrorsNameTheCodes) {
  {
    TIPv4Database db;
    db.Blocks = {MakeBlock(1, 1, "ZZ")};
    EXPECT_THROW_MSG(db.SortAndLink(), EDatabaseError, "Unknown country code: ZZ");
  }
  {
    TIPv4Database db;
    db.Blocks = {MakeBlock(1, 1, "GG")};  // built in, but under the code "--"
    EXPECT_THROW_MSG(db.SortAndLink(), EDatabaseError, "Unknown country code: GG");
  }
  {
    TIPv4Database db;
    db.Blocks = {MakeBlock(1, 1, "US", 9)};
    EXPECT_THROW_MSG(db.SortAndLink(), EDatabaseError, "Unknown NIC code: 9");
  }
}

TEST(TIPv4DatabaseTest, RandomBlocksFoundByEveryAddressAndGapsGiveMinusOne) {
  std::mt19937 rng(42);
  TIPv4Database db;
  uint64_t at = rng() % 1000;
  std::vector<std::pair<uint32_t, uint32_t>> gaps;
  while (db.Blocks.size() < 5000) {
    const uint32_t count = 1 + rng() % 70000;
    if (at + count > 0x100000000ULL) break;
    db.Blocks.push_back(
        MakeBlock(static_cast<uint32_t>(at), count, db.Blocks.size() % 2 ? "DE" : "US"));
    at += count;
    const uint32_t gap = rng() % 3 ? rng() % 50000 : 0;
    if (gap) gaps.emplace_back(static_cast<uint32_t>(at), gap);
    at += gap;
  }
  std::shuffle(db.Blocks.begin(), db.Blocks.end(), rng);
  db.SortAndLink();
  for (int i = 0; i < db.BlockCount(); ++i) {
    const TIPv4Block* b = db.BlockAt(i);
    ASSERT_EQ(db.FindBlock(b->StartIP), i);
    ASSERT_EQ(db.FindBlock(b->StartIP + b->Count - 1), i);
    ASSERT_EQ(db.FindBlock(b->StartIP + b->Count / 2), i);
  }
  for (auto [start, size] : gaps) {
    if (start >= at) break;
    ASSERT_EQ(db.FindBlock(start), -1);
    ASSERT_EQ(db.FindBlock(start + size - 1), -1);
  }
  EXPECT_EQ(db.FindBlock(0), db.BlockAt(0)->StartIP == 0 ? 0 : -1);
}

TEST(TIPv4DatabaseTest, SortAndLinkOrdersEveryListByUnsignedKey) {
  // Keys with the high bit set come last, not first.
  TIPv4Database db;
  db.AddCenter(0x8001, "HIGH");
  db.AddCenter(7, "SEVEN");
  db.AddCountry("\xC4X", "High", "", "", "", "", 0);
  db.Blocks = {MakeBlock(0xC8000000, 1), MakeBlock(0x0A000000, 1, "\xC4X", 0x8001),
               MakeBlock(0x7F000000, 1, "--", 7)};
  db.SortAndLink();
  EXPECT_EQ(db.BlockAt(0)->StartIP, 0x0A000000u);
  EXPECT_EQ(db.BlockAt(2)->StartIP, 0xC8000000u);
  EXPECT_EQ(db.CenterAt(db.CenterCount() - 1)->Name, "HIGH");
  EXPECT_EQ(db.CenterAt(db.CenterCount() - 2)->Name, "SEVEN");
  EXPECT_EQ(db.CountryAt(db.CountryCount() - 1)->Name, "High");
  EXPECT_EQ(db.CountryAt(0)->Code, Code("--"));
  for (int i = 1; i < db.CountryCount(); ++i) {
    ASSERT_LE(db.CountryAt(i - 1)->Code, db.CountryAt(i)->Code);  // "--" is shared
  }
  EXPECT_EQ(db.BlockAt(0)->Center->Name, "HIGH");
  EXPECT_EQ(db.BlockAt(1)->Center->Name, "SEVEN");
}

TEST(RegistriesTest, TokensNamesAndWhoisPages) {
  EXPECT_EQ(RegistryByToken("RIPENCC")->ID, kRipeID);
  EXPECT_EQ(RegistryByToken("ripencc")->Name, "RIPE");
  EXPECT_EQ(RegistryByToken("ripe"), nullptr);  // a name, not a token
  EXPECT_EQ(RegistryByName("ripe")->ID, kRipeID);
  EXPECT_EQ(RegistryByToken("AfriNIC")->ID, kAfrinicID);
  EXPECT_EQ(RegistryByToken("afrinic", true), nullptr);  // not built in
  EXPECT_EQ(RegistryByToken(""), nullptr);
  EXPECT_EQ(RegistryByID(0), nullptr);
  // Pages served today, over https; IANA's blocks go to ARIN's search.
  const std::string arin = "https://search.arin.net/rdap/?query=1.2.3.4";
  EXPECT_EQ(WhoisPage(kIanaID, "1.2.3.4"), arin);
  EXPECT_EQ(WhoisPage(kArinID, "1.2.3.4"), arin);
  EXPECT_EQ(WhoisPage(kRipeID, "1.2.3.4"),
            "https://apps.db.ripe.net/db-web-ui/query?searchtext=1.2.3.4");
  EXPECT_EQ(WhoisPage(kApnicID, "1.2.3.4"),
            "https://wq.apnic.net/static/search.html?query=1.2.3.4");
  EXPECT_EQ(WhoisPage(kLacnicID, "1.2.3.4"), "https://query.milacnic.lacnic.net/search?id=1.2.3.4");
  EXPECT_EQ(WhoisPage(kAfrinicID, "41.0.0.1"), "https://afrinic.net/whois?query=41.0.0.1");
  EXPECT_EQ(WhoisPage(99, "1.2.3.4"), "");
}

TEST(CountryCodeTest, ParseCountryCode) {
  uint16_t code = 0;
  EXPECT_TRUE(ParseCountryCode("de", code));
  EXPECT_EQ(code, Code("DE"));
  EXPECT_TRUE(ParseCountryCode("uK", code));
  EXPECT_EQ(code, Code("GB"));
  EXPECT_TRUE(ParseCountryCode("--", code));  // kept as it is
  EXPECT_EQ(code, Code("--"));
  EXPECT_FALSE(ParseCountryCode("D", code));
  EXPECT_FALSE(ParseCountryCode("DEU", code));
}
