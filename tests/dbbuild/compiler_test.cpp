#include "dbbuild/compiler.h"

#include <ctime>
#include <sstream>
#include <sys/time.h>

#include "dbbuild/isocodes.h"
#include "dbbuild/samples.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/encoder.h"
#include "streams/compress.h"
#include "testutil.h"
#include "tools/files.h"
#include "tools/md5.h"
#include "tools/tools.h"

TEST(DatabaseCompilerTest, RangesTakeTheRegistryOfTheirSlash8) {
  // A /24 in special-purpose space and in well-known /8s, legacy ones among them.
  const struct {
    int slash8;
    uint16_t registry;
  } cases[] = {{0, kIanaID},   {10, kIanaID},    {127, kIanaID},   {224, kIanaID},
               {255, kIanaID}, {8, kArinID},     {1, kApnicID},    {2, kRipeID},
               {25, kRipeID},  {41, kAfrinicID}, {200, kLacnicID}, {133, kApnicID}};
  std::string ranges;
  for (const auto& c : cases) {
    const uint64_t start = uint64_t{static_cast<uint32_t>(c.slash8)} << 24;
    ranges += std::to_string(start) + "," + std::to_string(start + 255) + ",US\n";
  }
  TDatabaseCompiler c;
  c.AddData("ranges", ranges);
  c.Finish();
  ASSERT_EQ(c.Blocks().size(), std::size(cases));
  for (const TInputBlock& b : c.Blocks()) {
    const auto want = std::find_if(std::begin(cases), std::end(cases),
                                   [&](const auto& x) { return x.slash8 == int(b.Start >> 24); });
    EXPECT_EQ(b.Registry, want->registry) << (b.Start >> 24);
  }
}

TEST(DatabaseCompilerTest, DelegationLinesAndSkipReasons) {
  TDatabaseCompiler c;
  c.AddData("d.txt", kDelegation);
  c.Finish();
  ASSERT_EQ(c.Blocks().size(), 4u);
  EXPECT_EQ(c.Blocks()[0].Start, 0x03000000u);
  EXPECT_EQ(c.Blocks()[0].Registry, kArinID);
  EXPECT_EQ(c.Blocks()[0].Date, 19880223u);
  EXPECT_EQ(c.Blocks()[1].Registry, kRipeID);
  EXPECT_EQ(c.Blocks()[3].Count, 768u);
  EXPECT_EQ(c.Blocks()[3].Registry, kAfrinicID);
  const std::map<std::string, uint64_t> want = {
      {"comment", 1},  {"version", 1},          {"summary", 1},  {"available", 1},
      {"reserved", 1}, {"not IPv4 or IPv6", 1}, {"malformed", 1}};
  EXPECT_EQ(c.Skipped(), want);
  // The count of an ipv6 line is a prefix length.
  ASSERT_EQ(c.Blocks6().size(), 1u);
  EXPECT_EQ(IPv6ToStr(c.Blocks6()[0].Start), "2c0f:f000::");
  EXPECT_EQ(IPv6ToStr(c.Blocks6()[0].Last), "2c0f:f000:ffff:ffff:ffff:ffff:ffff:ffff");
  EXPECT_EQ(c.Blocks6()[0].Registry, kAfrinicID);
  EXPECT_EQ(c.Blocks6()[0].Date, 20040101u);
  EXPECT_EQ(c.HeaderDate(""), "20261205");
  EXPECT_EQ(c.HeaderDate("20200101"), "20200101");
}

// yyyymmdd of the day Days from now, in UTC.
std::string DayFromNow(int Days) {
  return std::to_string(DateOfTime(static_cast<int64_t>(std::time(nullptr)) + Days * 86400));
}

TEST(DatabaseCompilerTest, RecordsNoRegistryPublishesAreRefused) {
  // RIPE's own file: records of another registry, larger than a /8 or a
  // /12, or dated in the future are not RIPE's to publish.
  const std::string file =
      "2|ripencc|20261207|12|19830705|20261207|+0100\n"
      "ripencc|*|ipv4|*|7|summary\n"
      "ripencc|*|ipv6|*|3|summary\n"
      "ripencc|NL|ipv4|5.0.0.0|256|20200101|allocated\n"
      "arin|US|ipv4|6.0.0.0|256|20200101|allocated\n"
      "x|CN|ipv4|1.0.0.0|4278190080|99991231|allocated\n"
      "ripencc|CN|ipv4|8.0.0.0|33554432|20200101|allocated\n"  // a /7
      "ripencc|DE|ipv4|9.0.0.0|16777216|" +
      DayFromNow(1) +
      "|allocated\n"  // a /8, tomorrow
      "ripencc|DE|ipv4|10.0.0.0|256|" +
      DayFromNow(2) +
      "|allocated\n"
      "ripencc|DE|ipv4|11.0.0.0|256|99991231|allocated\n"
      "ripencc|DE|ipv6|2a00::|12|20060401|allocated\n"
      "ripencc|DE|ipv6|2000::|11|20060401|allocated\n"
      "apnic|JP|ipv6|2001:200::|32|19990813|allocated\n";
  TDatabaseCompiler c;
  c.AddData("delegated-ripencc", file);
  c.Finish();
  ASSERT_EQ(c.Blocks().size(), 2u);
  EXPECT_EQ(IPToStr(c.Blocks()[0].Start), "5.0.0.0");
  EXPECT_EQ(IPToStr(c.Blocks()[1].Start), "9.0.0.0");
  ASSERT_EQ(c.Blocks6().size(), 1u);
  EXPECT_EQ(IPv6ToStr(c.Blocks6()[0].Start), "2a00::");
  EXPECT_EQ(c.Skipped().at("other registry"), 3u);
  EXPECT_EQ(c.Skipped().at("malformed"), 4u);
  EXPECT_EQ(c.Skipped().at("summary"), 2u);

  // Given where the data came from, records of others are skipped without
  // a version line too; a version line of another registry refuses it.
  TDatabaseCompiler from;
  from.AddData("apnic",
               "apnic|JP|ipv4|1.0.4.0|1024|20110412|allocated\n"
               "ripencc|NL|ipv4|5.0.0.0|256|20200101|allocated\n",
               "apnic");
  from.Finish();
  ASSERT_EQ(from.Blocks().size(), 1u);
  EXPECT_EQ(from.Blocks()[0].Registry, kApnicID);
  EXPECT_THROW_MSG(from.AddData("apnic", file, "apnic"), EKeslError,
                   "apnic: the version line names the registry ripencc, not apnic");
}

TEST(DatabaseCompilerTest, AFutureVersionOrWrongSummariesRefuseTheFile) {
  const std::string head = "2|lacnic|20261207|3|19830101|20261207|-0300\n";
  const std::string lines =
      "lacnic|BR|ipv4|200.0.0.0|65536|19980101|allocated\n"
      "lacnic|AR|ipv4|200.1.0.0|256|20200202|allocated\n"
      "lacnic|ZZ|ipv4|200.2.0.0|256||available\n";
  const auto whole = [&](const std::string& Head, const std::string& Summary) {
    return Head + Summary + lines;
  };
  {
    TDatabaseCompiler ok;
    EXPECT_NO_THROW(ok.AddData("lacnic", whole(head, "lacnic|*|ipv4|*|3|summary\n")));
    EXPECT_EQ(ok.Blocks().size(), 2u);
  }
  // Cut at a line end: the summary still counts what was there.
  TDatabaseCompiler c;
  EXPECT_THROW_MSG(c.AddData("lacnic", whole(head, "lacnic|*|ipv4|*|4|summary\n")), EKeslError,
                   "lacnic: its summary counts 4 ipv4 records, the file holds 3");
  EXPECT_THROW_MSG(c.AddData("lacnic", whole(head, "lacnic|*|ipv6|*|1|summary\n")), EKeslError,
                   "lacnic: its summary counts 1 ipv6 records, the file holds 0");
  const std::string future =
      "2|lacnic|" + DayFromNow(2) + "|3|19830101|" + DayFromNow(2) + "|-0300\n";
  EXPECT_THROW_MSG(c.AddData("lacnic", whole(future, "")), EKeslError,
                   "lacnic: the version line is dated " + DayFromNow(2) + ", after tomorrow");
  const std::string tomorrow =
      "2|lacnic|" + DayFromNow(1) + "|3|19830101|" + DayFromNow(1) + "|-0300\n";
  EXPECT_NO_THROW(c.AddData("lacnic", whole(tomorrow, "")));
}

TEST(DatabaseCompilerTest, OverlapBetweenRegistriesIsMeasuredOnce) {
  // RIPE's /16 shares 10.0.0.0/24 with one ARIN block and 10.0.128.0/17
  // with another; RIPE's own /24 inside its /16 and the APNIC block beside
  // it share nothing with another registry.
  TDatabaseCompiler c;
  c.AddData("a",
            "ripencc|NL|ipv4|10.0.0.0|65536|20200101|allocated\n"
            "ripencc|NL|ipv4|10.0.64.0|256|20200102|allocated\n"
            "arin|US|ipv4|10.0.0.0|256|20210101|allocated\n"
            "arin|US|ipv4|10.0.128.0|32768|20210101|allocated\n"
            "arin|US|ipv4|10.0.192.0|256|20210102|allocated\n"
            "apnic|JP|ipv4|10.1.0.0|256|20210101|allocated\n");
  c.Finish(true);
  EXPECT_EQ(c.CrossRegistryOverlap(), 256u + 32768u);
}

TEST(DatabaseCompilerTest, RangeFilesSplitWhereTheRegistryChanges) {
  TDatabaseCompiler c;
  // 40.255.255.0 - 41.0.0.255 crosses from an ARIN /8 into AFRINIC's.
  c.AddData("geoip",
            "# tor geoip\n16777216,16777471,AU\n687865600,687866111,ZA\n"
            "3758096384,3758096639,??\n");
  c.Finish();
  ASSERT_EQ(c.Blocks().size(), 3u);
  EXPECT_EQ(c.Blocks()[0].Registry, 4);
  EXPECT_EQ(c.Blocks()[1].Start, 687865600u);
  EXPECT_EQ(c.Blocks()[1].Count, 256u);
  EXPECT_EQ(c.Blocks()[1].Registry, 2);
  EXPECT_EQ(c.Blocks()[2].Start, 0x29000000u);
  EXPECT_EQ(c.Blocks()[2].Count, 256u);
  EXPECT_EQ(c.Blocks()[2].Registry, kAfrinicID);
  EXPECT_EQ(c.Skipped().at("no country"), 1u);
}

TEST(DatabaseCompilerTest, CompressedInputsAreDetectedByMagic) {
  for (const std::string& data : {GZipCompress(kDelegation), BZ2Compress(kDelegation)}) {
    TDatabaseCompiler c;
    c.AddData("packed", data);
    c.Finish();
    EXPECT_EQ(c.Blocks().size(), 4u);
  }
  TDatabaseCompiler c;
  EXPECT_THROW_MSG(c.AddData("x", "hello world\n"), EKeslError,
                   "x: neither a registry delegation file nor a range file");
  EXPECT_THROW_MSG(c.AddData("y", std::string("BZh9garbage")), EKeslError,
                   "y: bzip2 data: data error");
  // One layer is unpacked, no more: gzip in gzip, bzip2 in gzip, gzip in
  // bzip2 are refused (a file that unpacks to itself would never end).
  for (const std::string& twice :
       {GZipCompress(GZipCompress(kDelegation)), GZipCompress(BZ2Compress(kDelegation)),
        BZ2Compress(GZipCompress(kDelegation))}) {
    TDatabaseCompiler d;
    EXPECT_THROW_MSG(d.AddData("twice", twice), EKeslError,
                     "twice: compressed data inside compressed data");
    EXPECT_TRUE(d.Blocks().empty());
  }
}

TEST(DatabaseCompilerTest, OverlapsAndDuplicates) {
  TDatabaseCompiler dup;
  dup.AddData("a", "16777216,16777471,AU\n16777216,16777471,AU\n");
  dup.Finish();
  EXPECT_EQ(dup.Blocks().size(), 1u);
  EXPECT_EQ(dup.Duplicates(), 1u);

  TDatabaseCompiler touch;
  touch.AddData("a", "16777216,16777471,AU\n16777472,16777727,CN\n");
  EXPECT_NO_THROW(touch.Finish());

  TDatabaseCompiler over;
  over.AddData("a", "16777216,16777471,AU\n");
  over.AddData("b", "apnic|CN|ipv4|1.0.0.128|256|20100101|allocated\n");
  EXPECT_THROW_MSG(over.Finish(), EKeslError,
                   "Blocks overlap: 1.0.0.0 - 1.0.0.255 AU (a line 1) and "
                   "1.0.0.128 - 1.0.1.127 CN (b line 1)");
}

TEST(DatabaseCompilerTest, ResolvedOverlapsKeepEveryAddressAndTheLaterDateWins) {
  // Three registries' lines over 10.0.0.0 - 10.0.3.255: an old /22, a newer
  // /24 inside it, a newest block across the /24's end, and one dated as the
  // /24 but read later.
  const char* lines[] = {
      "ripencc|NL|ipv4|10.0.0.0|1024|20000101|allocated\n",
      "arin|US|ipv4|10.0.1.0|256|20100101|allocated\n",
      "apnic|JP|ipv4|10.0.1.128|256|20200101|allocated\n",
      "lacnic|BR|ipv4|10.0.3.0|128|20100101|allocated\n",
      "ripencc|DE|ipv4|10.0.3.64|64|20100101|allocated\n",
  };
  TDatabaseCompiler c;
  for (const char* l : lines) c.AddData("f", l);
  c.Finish(true);
  EXPECT_EQ(c.Overlaps().size(), 4u);
  // Every address answers, with the newest of the lines that hold it.
  auto answer = [&](uint32_t IP) -> std::string {
    for (const TInputBlock& b : c.Blocks()) {
      if (IP - b.Start < b.Count) return CodeToStr(b.Country);
    }
    return "none";
  };
  const uint32_t base = StrToIP("10.0.0.0");
  for (uint32_t i = 0; i < 1024; ++i) {
    const char* want = i < 256   ? "NL"
                       : i < 384 ? "US"
                       : i < 640 ? "JP"
                       : i < 768 ? "NL"
                       : i < 832 ? "BR"
                       : i < 896 ? "DE"
                                 : "NL";
    ASSERT_EQ(answer(base + i), want) << i;
  }
  EXPECT_EQ(answer(base + 1024), "none");
  // The result is sorted and disjoint, as the in-place search needs.
  for (size_t i = 1; i < c.Blocks().size(); ++i) {
    EXPECT_LE(uint64_t{c.Blocks()[i - 1].Start} + c.Blocks()[i - 1].Count, c.Blocks()[i].Start);
  }
}

TEST(DatabaseCompilerTest, IPv6RangesSplitByAssignmentAndOverlapsResolveAsIPv4) {
  // 2001:1800::/23 is ARIN's and 2001:1a00::/23 RIPE NCC's: a range across
  // both is two blocks; 3000::/4 is no registry's.
  TDatabaseCompiler ranges;
  ranges.AddData("geoip6",
                 "# tor\n2001:19ff:ff00::,2001:1a00:ff::,US\n3000::,3000::ff,DE\n"
                 "2001:200::,2001:200::ffff,??\n2001:201::,2001:201::1,X\n");
  ranges.Finish();
  ASSERT_EQ(ranges.Blocks6().size(), 3u);
  EXPECT_EQ(IPv6ToStr(ranges.Blocks6()[0].Last), "2001:19ff:ffff:ffff:ffff:ffff:ffff:ffff");
  EXPECT_EQ(ranges.Blocks6()[0].Registry, kArinID);
  EXPECT_EQ(IPv6ToStr(ranges.Blocks6()[1].Start), "2001:1a00::");
  EXPECT_EQ(ranges.Blocks6()[1].Registry, kRipeID);
  EXPECT_EQ(ranges.Blocks6()[2].Registry, kIanaID);
  EXPECT_EQ(ranges.Skipped().at("no country"), 1u);
  EXPECT_EQ(ranges.Skipped().at("malformed"), 1u);

  // An old /32, a newer /48 inside it, the newest across the /48's end.
  TDatabaseCompiler c;
  c.AddData("r", "ripencc|NL|ipv6|2001:db8::|32|20000101|allocated\n");
  c.AddData("a", "arin|US|ipv6|2001:db8:1::|48|20100101|allocated\n");
  c.AddData("p",
            "apnic|JP|ipv6|2001:db8:1:8000::|49|20200101|allocated\n"
            "apnic|JP|ipv6|2001:db8:2::|49|20200101|allocated\n");
  EXPECT_THROW(TDatabaseCompiler(c).Finish(), EKeslError);  // refused unless resolved
  c.Finish(true);
  EXPECT_EQ(c.Overlaps().size(), 3u);
  auto answer = [&](const char* Text) -> std::string {
    TIPv6Address a = 0;
    StrToIPv6(Text, a);
    for (const TInputBlock6& b : c.Blocks6()) {
      if (b.Start <= a && a <= b.Last) return CodeToStr(b.Country);
    }
    return "none";
  };
  const std::pair<const char*, const char*> want[] = {
      {"2001:db8::", "NL"},
      {"2001:db8:0:ffff::", "NL"},
      {"2001:db8:1::", "US"},
      {"2001:db8:1:7fff:ffff:ffff:ffff:ffff", "US"},
      {"2001:db8:1:8000::", "JP"},
      {"2001:db8:1:ffff:ffff:ffff:ffff:ffff", "JP"},
      {"2001:db8:2::", "JP"},
      {"2001:db8:2:8000::", "NL"},
      {"2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", "NL"},
      {"2001:db9::", "none"}};
  for (const auto& [address, country] : want) EXPECT_EQ(answer(address), country) << address;
  for (size_t i = 1; i < c.Blocks6().size(); ++i) {
    EXPECT_LT(c.Blocks6()[i - 1].Last, c.Blocks6()[i].Start);
  }
}

TEST(DatabaseCompilerTest, ProvenanceIsKeptInEveryCompression) {
  TTempDir dir;
  const std::string input = dir.Write("geoip", "# ranges\n16777216,16777471,AU\n");
  const timeval leapDay[2] = {{951782400, 0}, {951782400, 0}};
  ASSERT_EQ(utimes(input.c_str(), leapDay), 0);
  TDatabaseCompiler c;
  c.AddFile(input);
  c.SetLicence("CC BY-SA 4.0, somebody");
  c.Finish();
  ASSERT_EQ(c.Sources().size(), 1u);
  for (TCompression comp : {cmNone, cmZLib, cmBZip2}) {
    TIPv4Database db;
    db.LoadFromFile(dir.Write("c.ip4", EncodeDatabaseFile(true, comp, "20261205", c.BinaryBody())));
    ASSERT_EQ(db.Sources.size(), 1u);
    EXPECT_EQ(db.Sources[0].Name, "geoip");
    EXPECT_EQ(db.Sources[0].Md5, Md5Hex(ReadWholeFile(input, 100)));
    EXPECT_EQ(db.Sources[0].Licence, "CC BY-SA 4.0, somebody");
    EXPECT_EQ(db.Sources[0].Date, 20000229u);  // the file's date: it has no version line
    EXPECT_EQ(db.Sources[0].Kind, ckLocated);  // a range file
  }
  // A trailer cut anywhere, or followed by junk, costs the provenance at
  // most: the blocks still load.
  const std::string body = c.BinaryBody();
  const size_t trailer = body.rfind("KTRL");
  for (size_t cut = trailer; cut < body.size(); cut += 3) {
    TIPv4Database db;
    db.LoadFromFile(
        dir.Write("c.ip4", EncodeDatabaseFile(true, cmNone, "20261205", body.substr(0, cut))));
    EXPECT_EQ(db.BlockCount(), 1);
    // The sources are lost whole or kept whole; their kind is told by the
    // note after them, else by the name.
    if (!db.Sources.empty()) {
      ASSERT_EQ(db.Sources.size(), 1u);
      EXPECT_EQ(db.Sources[0].Md5, Md5Hex(ReadWholeFile(input, 100)));
    }
    EXPECT_NE(DatabaseCountryKind(db.Sources), ckRegistered);
  }
}

TEST(DatabaseCompilerTest, BinaryBodyCarriesOnlyWhatTheTablesLack) {
  TDatabaseCompiler c;
  c.AddData("d", kDelegation);
  c.Finish();
  c.SetCountryNames({{Code("RS"), "Serbia"}});
  EXPECT_EQ(c.NewCountries(), std::vector<uint16_t>{Code("RS")});
  ASSERT_EQ(c.NewRegistries().size(), 1u);
  EXPECT_EQ(c.NewRegistries()[0], (std::pair<uint16_t, std::string>{6, "AFRINIC"}));

  TTempDir dir;
  TIPv4Database db;
  db.LoadFromFile(dir.Write("c.ip4", std::string("IPBB100 20261205") + c.BinaryBody()));
  EXPECT_EQ(db.CountryCount(), 251);
  EXPECT_EQ(db.CenterCount(), 6);
  const TIPv4Block* b = db.BlockAt(db.FindBlock(0x05010010));
  EXPECT_EQ(b->Country->Name, "Serbia");
  EXPECT_EQ(db.BlockAt(db.FindBlock(0x29200000))->Center->Name, "AFRINIC");

  EXPECT_THROW_MSG(c.TextBody(), EKeslError,
                   "The text format cannot carry registries AFRINIC; countries RS. "
                   "Write a binary database instead.");
}

TEST(DatabaseCompilerTest, TextBodyReadsBackThroughTheLoader) {
  TDatabaseCompiler c;
  c.AddData("d",
            "arin|US|ipv4|3.0.0.0|16777216|19880223|allocated\n"
            "ripencc|GB|ipv4|2.0.0.0|768||allocated\n");
  c.Finish();
  TTempDir dir;
  TIPv4Database db;
  db.LoadFromFile(dir.Write("t.ip4", std::string("IPDB100 20261205") + c.TextBody()));
  ASSERT_EQ(db.BlockCount(), 2);
  EXPECT_EQ(db.BlockAt(0)->Count, 768u);
  EXPECT_EQ(db.BlockAt(0)->Center->Name, "RIPE");
  EXPECT_EQ(db.BlockAt(1)->Date, 19880223u);
}

TEST(DatabaseCompilerTest, IsoCodesNamesAndLatin1) {
  const auto names = ParseIsoCountryNames(R"({"3166-1": [
    {"alpha_2": "RS", "alpha_3": "SRB", "name": "Serbia", "numeric": "688"},
    {"alpha_2": "BO", "common_name": "Bolivia", "name": "Bolivia, Plurinational State of"},
    {"alpha_2": "CW", "name": "Cura\u00e7ao"}]})");
  EXPECT_EQ(names.at(Code("RS")), "Serbia");
  EXPECT_EQ(names.at(Code("BO")), "Bolivia");
  EXPECT_EQ(Utf8ToLatin1(names.at(Code("CW"))),
            "Cura\xE7"
            "ao");
  EXPECT_EQ(Utf8ToLatin1("\xE2\x82\xAC x"), "? x");
}

// A record starts at a strict dotted quad only; every looser form that the
// query reader would take is skipped as malformed.
TEST(CompilerTest, RecordsStartAtAStrictDottedQuad) {
  std::string file = "2|ripencc|20261201|9|19830705|20261201|+0100\n";
  for (const char* start : {"+3.0.0.0", "0x07.0.0.0", "010.0.0.0", "2.0.0.0.99", " 5.0.0.0",
                            "-0.6.0.0", "6.0.0", "7.0.0.0 ", "256.0.0.0"}) {
    file += std::string("ripencc|DE|ipv4|") + start + "|256|20060401|allocated\n";
  }
  file += "ripencc|DE|ipv4|0.6.0.0|256|20060401|allocated\n";
  TDatabaseCompiler c;
  c.AddData("delegated-ripencc", file);
  c.Finish();
  ASSERT_EQ(c.Blocks().size(), 1u);
  EXPECT_EQ(IPToStr(c.Blocks()[0].Start), "0.6.0.0");
  EXPECT_EQ(c.Skipped().at("malformed"), 9u);
  uint32_t ip = 0;
  EXPECT_TRUE(ReadDottedQuad("255.255.255.255", ip));
  EXPECT_EQ(ip, 0xFFFFFFFFu);
}

// Summary counts that would wrap past 64 bits stay at their largest, so
// that two of them cannot add up to the count of an empty file.
TEST(CompilerTest, SummaryCountsDoNotWrap) {
  const std::string file =
      "2|ripencc|20261201|0|19830705|20261201|+0100\n"
      "ripencc|*|ipv4|*|9223372036854775808|summary\n"
      "ripencc|*|ipv4|*|9223372036854775808|summary\n";
  TDatabaseCompiler c;
  EXPECT_THAT([&] { c.AddData("delegated-ripencc", file); },
              testing::ThrowsMessage<EKeslError>(testing::HasSubstr(
                  "its summary counts 18446744073709551615 ipv4 records, the file holds 0")));
}
