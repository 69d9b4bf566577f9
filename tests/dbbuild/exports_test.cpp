#include "dbbuild/exports.h"

#include "dbbuild/exportinfo.h"
#include "dbbuild/mmdb.h"
#include "ipdb/encoder.h"
#include "testutil.h"
#include "tools/text.h"
#include "tools/tools.h"

namespace {

// Two IPv4 blocks, one of them no single prefix, and an IPv6 block that is
// none either; a country name with a comma, as CSV must quote it.
void Fill(TIPv4Database& Db, uint16_t Country = Code("KR")) {
  Db.Blocks = {MakeBlock(0x01000000, 256, "AU", kApnicID, 20110811),
               MakeBlock(0x0A000000, 768, "KR", kApnicID)};
  Db.Blocks[1].CountryCode = Country;
  TIPv6Block b;
  b.Start = TIPv6Address{0x20010DB8} << 96;
  b.Last = b.Start + 2;
  b.CountryCode = Code("NL");
  b.CenterID = kRipeID;
  Db.IPv6.Blocks = {b};
  Db.SortAndLink();
}

}  // namespace

TEST(ExportTest, OneFamilyOnly) {
  TIPv4Database db;
  Fill(db);
  // For engines whose tries take one family at a time.
  EXPECT_EQ(ExportDatabase(db, efNginx, 4), "1.0.0.0/24 AU;\n10.0.0.0/23 KR;\n10.0.2.0/24 KR;\n");
  EXPECT_EQ(ExportDatabase(db, efHaproxy, 6), "2001:db8::/127 NL\n2001:db8::2/128 NL\n");
  const std::string four = ExportDatabase(db, efRanges, 4), six = ExportDatabase(db, efRanges, 6);
  EXPECT_EQ(std::count(four.begin(), four.end(), '\n'), 3);
  EXPECT_EQ(four.find("\r\n6,"), std::string::npos);
  EXPECT_EQ(std::count(six.begin(), six.end(), '\n'), 2);
  EXPECT_EQ(six.find("\r\n4,"), std::string::npos);
  EXPECT_EQ(ExportDatabase(db, efCsv, 0), ExportDatabase(db, efCsv));
}

TEST(ExportTest, TextFormsWriteEveryPrefixOfBothFamilies) {
  TIPv4Database db;
  Fill(db);
  EXPECT_EQ(ExportDatabase(db, efNginx),
            "1.0.0.0/24 AU;\n10.0.0.0/23 KR;\n10.0.2.0/24 KR;\n2001:db8::/127 NL;\n"
            "2001:db8::2/128 NL;\n");
  EXPECT_EQ(ExportDatabase(db, efHaproxy),
            "1.0.0.0/24 AU\n10.0.0.0/23 KR\n10.0.2.0/24 KR\n2001:db8::/127 NL\n"
            "2001:db8::2/128 NL\n");
  EXPECT_EQ(ExportDatabase(db, efCsv),
            std::string(kCsvHeader) +
                "1.0.0.0/24,AU,Australia,APNIC,2011-08-11,,,,\r\n"
                // Blocks within a special-purpose range are named by it.
                "10.0.0.0/23,KR,\"Korea, South\",APNIC,,,,,Private-Use\r\n"
                "10.0.2.0/24,KR,\"Korea, South\",APNIC,,,,,Private-Use\r\n"
                "2001:db8::/127,NL,Netherlands,RIPE,,,,,Documentation\r\n"
                "2001:db8::2/128,NL,Netherlands,RIPE,,,,,Documentation\r\n");
}

TEST(ExportTest, ACodeThatWouldBreakALineIsRefused) {
  TIPv4Database db;
  db.AddCountry("A;", "Semicolon", "", "", "", "", 0);
  Fill(db, StrToCode('A', ';'));
  EXPECT_THROW_MSG(ExportDatabase(db, efNginx), EKeslError,
                   "the country code 'A;' cannot be written in this form");
  EXPECT_THROW_MSG(ExportDatabase(db, efHaproxy), EKeslError,
                   "the country code 'A;' cannot be written in this form");
  // CSV quotes what it must, and MaxMind DB holds any text.
  EXPECT_NE(ExportDatabase(db, efCsv).find(",A;,Semicolon,"), std::string::npos);
  EXPECT_FALSE(WriteMmdb(db).empty());
}

TEST(ExportTest, MaxMindDbIsTheSameBytesForTheSameDatabase) {
  TIPv4Database a, b;
  Fill(a);
  Fill(b);
  a.Created = b.Created = EncodeDayNumber(2026, 12, 1);
  const std::string file = WriteMmdb(a);
  EXPECT_EQ(file, WriteMmdb(b));
  // The metadata follows its marker, and the build time is the
  // database's date, not the clock's.
  const std::string marker = "\xAB\xCD\xEFMaxMind.com";
  ASSERT_NE(file.rfind(marker), std::string::npos);
  EXPECT_EQ(DatabaseEpoch(a), 1796083200u);  // 2026-12-01 00:00 UTC
  const std::string epoch = "build_epoch";
  const size_t at = file.find(epoch, file.rfind(marker));
  ASSERT_NE(at, std::string::npos);
  // A uint64 (extended type 9) of four bytes: 0x6B0E0E00.
  EXPECT_EQ(file.substr(at + epoch.size(), 6), std::string("\x04\x02\x6B\x0E\x0E\x00", 6));
  b.Created = EncodeDayNumber(2026, 12, 2);
  EXPECT_NE(file, WriteMmdb(b));
}

TEST(ExportTest, WhatTheCountriesMeanAndTheDescription) {
  EXPECT_FALSE(CountriesAreRegistered({}));
  EXPECT_TRUE(CountriesAreRegistered({{"delegated-ripencc-extended-latest", 0, "", ""},
                                      {"delegated-arin-extended-latest", 0, "", ""}}));
  EXPECT_FALSE(CountriesAreRegistered(
      {{"delegated-ripencc-extended-latest", 0, "", ""}, {"geoip", 20261201, "", "CC BY-SA 4.0"}}));
  // A recorded kind counts over the name, which only tells for files that
  // predate recorded kinds; a source of neither leaves the kind unknown.
  EXPECT_TRUE(CountriesAreRegistered({{"mine.txt", 0, "", "", ckRegistered}}));
  EXPECT_FALSE(CountriesAreRegistered({{"delegated-apnic-mirror", 0, "", "", ckLocated}}));
  EXPECT_EQ(DatabaseCountryKind({{"mine.txt", 0, "", ""}}), ckUnknown);
  EXPECT_EQ(DatabaseCountryKind({{"geoip", 0, "", ""}, {"geoip6", 0, "", ""}}), ckLocated);
  EXPECT_EQ(DatabaseCountryKind({{"geoip", 0, "", ""}, {"mine", 0, "", "", ckRegistered}}),
            ckMixed);
  TIPv4Database db;
  db.Created = EncodeDayNumber(2026, 12, 1);
  EXPECT_EQ(ExportDescription(db),
            "Kesl country database of 2026-12-01; its sources are not recorded");
  db.Sources = {{"geoip", 20261201, "", "CC BY-SA 4.0"}};
  EXPECT_EQ(ExportDescription(db),
            "Kesl country database of 2026-12-01 from " + SourceText(db.Sources[0]));
}

// One row per block, both families sorted by their keys: an IPv6 block
// below ::ffff:0:0 comes before every IPv4 one, the others after; keys are
// fixed-width hex of the IPv6 form, IPv4 as ::ffff:a.b.c.d.
TEST(ExportTest, RangesAreOneRowPerBlockInKeyOrder) {
  TIPv4Database db;
  Fill(db);
  TIPv6Block low;
  low.Start = 0x100;
  low.Last = 0x1FF;
  low.CountryCode = Code("AU");
  low.CenterID = kIanaID;
  low.Date = 20200101;
  db.IPv6.Blocks.insert(db.IPv6.Blocks.begin(), low);
  db.SortAndLink();
  EXPECT_EQ(ExportDatabase(db, efRanges),
            std::string(kRangesHeader) +
                "6,::100,::1ff,00000000000000000000000000000100,000000000000000000000000000001ff,"
                "AU,Australia,IANA,2020-01-01,,,,\r\n"
                "4,1.0.0.0,1.0.0.255,00000000000000000000ffff01000000,"
                "00000000000000000000ffff010000ff,AU,Australia,APNIC,2011-08-11,,,,\r\n"
                "4,10.0.0.0,10.0.2.255,00000000000000000000ffff0a000000,"
                "00000000000000000000ffff0a0002ff,KR,\"Korea, South\",APNIC,,,,,Private-Use\r\n"
                "6,2001:db8::,2001:db8::2,20010db8000000000000000000000000,"
                "20010db8000000000000000000000002,NL,Netherlands,RIPE,,,,,Documentation\r\n");
}

// An IPv6 block over ::ffff:0:0/96, the IPv4 addresses' keys, is written as
// its parts around them: no key falls in two rows.
TEST(ExportTest, RangesKeepTheIPv4KeysToTheIPv4Blocks) {
  TIPv4Database db;
  Fill(db);
  TIPv6Block wide;
  wide.Start = 0;
  wide.Last = IPv6HostMask(64);
  wide.CountryCode = Code("NL");
  wide.CenterID = kRipeID;
  db.IPv6.Blocks.insert(db.IPv6.Blocks.begin(), wide);
  db.SortAndLink();
  const std::string ranges = ExportDatabase(db, efRanges);
  const std::vector<std::string_view> rows = SplitText(ranges, '\n');
  ASSERT_EQ(rows.size(), 7u);  // the header, five rows, the end
  EXPECT_EQ(rows[1].substr(0, 22), "6,::,::fffe:ffff:ffff,");
  EXPECT_EQ(rows[2].substr(0, 10), "4,1.0.0.0,");
  EXPECT_EQ(rows[3].substr(0, 11), "4,10.0.0.0,");
  EXPECT_EQ(rows[4].substr(0, 34), "6,::1:0:0:0,::ffff:ffff:ffff:ffff,");
  EXPECT_EQ(rows[5].substr(0, 13), "6,2001:db8::,");
}
