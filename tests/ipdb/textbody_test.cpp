#include <string>

#include "ipdb/database.h"
#include "ipdb/delegationline.h"
#include "streams/stream.h"
#include "testutil.h"

namespace {

// Parses Line into a fresh database; returns its blocks.
std::vector<TIPv4Block> Parse(const std::string& Line) {
  TIPv4Database db;
  db.ParseTextLine(Line.c_str());
  return db.Blocks;
}

std::vector<TIPv4Block> ReadBody(const std::string& Body) {
  TIPv4Database db;
  TMemoryStream s(Body);
  db.LoadFromTextStream(s);
  return db.Blocks;
}

std::vector<uint32_t> Starts(const std::vector<TIPv4Block>& Blocks) {
  std::vector<uint32_t> out;
  for (const auto& b : Blocks) out.push_back(b.StartIP);
  return out;
}

std::string Line(int I) {
  return "arin|US|ipv4|10." + std::to_string(I / 256 % 256) + "." + std::to_string(I % 256) +
         ".0|256|20040101|allocated";
}

}  // namespace

TEST(ParseTextLineTest, TakesAnIPv4Record) {
  const auto b = Parse("arin|US|ipv4|3.0.0.0|16777216|19880223|assigned");
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].StartIP, 0x03000000u);
  EXPECT_EQ(b[0].Count, 16777216u);
  EXPECT_EQ(b[0].CenterID, 2);
  EXPECT_EQ(b[0].CountryCode, Code("US"));
  EXPECT_EQ(b[0].Date, 19880223u);
}

TEST(ParseTextLineTest, RegistryNames) {
  for (const char* nic : {"RIPENCC", "ripencc", "RipeNcc"}) {
    const auto b = Parse(std::string(nic) + "|DE|ipv4|1.0.0.0|256|20040101|x");
    ASSERT_EQ(b.size(), 1u) << nic;
    EXPECT_EQ(b[0].CenterID, 3);
  }
  EXPECT_EQ(Parse("iana|US|ipv4|1.0.0.0|256||").at(0).CenterID, 1);
  EXPECT_EQ(Parse("apnic|JP|ipv4|1.0.0.0|256||").at(0).CenterID, 4);
  EXPECT_EQ(Parse("LACNIC|BR|ipv4|1.0.0.0|256||").at(0).CenterID, 5);
  EXPECT_THROW_MSG(Parse("RIPE|DE|ipv4|1.0.0.0|256|20040101|x"), EDatabaseError,
                   "WARNING: Unknown NIC name");
  EXPECT_TRUE(Parse("afrinic|ZA|ipv6|2001::|32|20040101|x").empty());
  EXPECT_THROW_MSG(Parse("afrinic|ZA|ipv4|41.0.0.0|256|20040101|x"), EDatabaseError,
                   "WARNING: Unknown NIC name");
  // Lines skipped for other reasons never reach the registry check.
  EXPECT_TRUE(Parse("bogus|ZA|ipv4|41.0.0.0|0|20040101|x").empty());
  EXPECT_TRUE(Parse("bogus|ZA|ipv4|255.255.255.255|1|20040101|x").empty());
}

TEST(ParseTextLineTest, CountryAndTypeFields) {
  EXPECT_EQ(Parse("arin|uk|ipv4|1.0.0.0|256||").at(0).CountryCode, Code("GB"));
  EXPECT_EQ(Parse("arin|UK|ipv4|1.0.0.0|256||").at(0).CountryCode, Code("GB"));
  EXPECT_EQ(Parse("arin|us|ipv4|1.0.0.0|256||").at(0).CountryCode, Code("US"));
  EXPECT_TRUE(Parse("arin|usa|ipv4|1.0.0.0|256||").empty());
  EXPECT_TRUE(Parse("arin||ipv4|1.0.0.0|256||").empty());
  for (const char* type : {"ipv4", "IPv4", "IPV4"}) {
    EXPECT_EQ(Parse(std::string("arin|US|") + type + "|1.0.0.0|256||").size(), 1u) << type;
  }
  for (const char* type : {"ipv6", "asn", "ipv4 "}) {
    EXPECT_TRUE(Parse(std::string("arin|US|") + type + "|1.0.0.0|256||").empty()) << type;
  }
  EXPECT_TRUE(Parse("arin|*|ipv4|*|7217|summary").empty());
  EXPECT_TRUE(Parse("2|arin|20040101|23486|19700101|20040101|+0000").empty());
}

TEST(ParseTextLineTest, CountsDatesAndSeparators) {
  EXPECT_TRUE(Parse("arin|US|ipv4|1.0.0.0|0|20040101|x").empty());
  EXPECT_TRUE(Parse("arin|US|ipv4|1.0.0.0|abc|20040101|x").empty());
  EXPECT_TRUE(Parse("arin|US|ipv4|1.0.0.0|256 |20040101|x").empty());
  EXPECT_EQ(Parse("arin|US|ipv4|1.0.0.0|$100|20040101|x").at(0).Count, 256u);
  EXPECT_EQ(Parse("arin|US|ipv4|1.0.0.0|4294967552|1|x").at(0).Count, 256u);  // low 32 bits
  EXPECT_TRUE(Parse("arin|US|ipv4|255.255.255.255|1|20040101|x").empty());
  EXPECT_EQ(Parse("arin|US|ipv4|1.0.0.0|1|2004-01-01|x").at(0).Date, 20040101u);
  EXPECT_EQ(Parse("arin|US|ipv4|1.0.0.0|1||x").at(0).Date, 0u);
  EXPECT_EQ(Parse("arin|US|ipv4|1.0.0.0|1|none|x").at(0).Date, 0u);
  EXPECT_EQ(Parse("arin|US|ipv4|1.0.0.0|1|99999999999999999999|x").at(0).Date, 0u);
  EXPECT_EQ(Parse("arin|US|ipv4|1.0.0.0|1|20040101|").size(), 1u);
  EXPECT_TRUE(Parse("arin|US|ipv4|1.0.0.0|1|20040101").empty());
}

TEST(ParseTextLineTest, SeparatorsBeyondTheFirst64Bytes) {
  // Fields that straddle the 64-byte steps of the separator search.
  for (size_t pad = 0; pad < 140; pad += 7) {
    const std::string line = "arin|US|ipv4|1.0.0.0|256|2004" + std::string(pad, '-') + "0101|x";
    const auto b = Parse(line);
    ASSERT_EQ(b.size(), 1u) << pad;
    EXPECT_EQ(b[0].Date, 20040101u);
    const std::string longRegistry = std::string(pad, 'x') + "|US|ipv4|1.0.0.0|256|1|";
    EXPECT_THROW(Parse(longRegistry), EDatabaseError) << pad;
  }
  // A zero byte before the sixth separator leaves too few fields.
  EXPECT_TRUE(ReadBody(std::string("arin|US|ipv4|1.0.0.0|256\0|1|x\n", 30)).empty());
  EXPECT_EQ(ReadBody(std::string("arin|US|ipv4|1.0.0.0|256|1|\0x\n", 30)).size(), 1u);
}

TEST(LoadFromTextStreamTest, LineEndsAndIndentation) {
  const std::string lines[] = {Line(1), Line(2), Line(3)};
  const std::vector<uint32_t> want = {0x0A000100, 0x0A000200, 0x0A000300};
  for (const char* eol : {"\n", "\r\n", "\r"}) {
    std::string body = "\n" + lines[0] + eol + eol + "  \t" + lines[1] + eol + lines[2];
    EXPECT_EQ(Starts(ReadBody(body)), want) << static_cast<int>(eol[0]);
    EXPECT_EQ(Starts(ReadBody(body + eol)), want);
  }
  EXPECT_TRUE(ReadBody("").empty());
  // A zero byte ends the line for the parser.
  EXPECT_TRUE(ReadBody(std::string("arin|US|ipv4|1.0.0.0|1|\0|x\n", 27)).empty());
}

TEST(LoadFromTextStreamTest, LinesAcrossChunkBoundaries) {
  // Lines of varying lengths so that every offset around the 16,384-byte
  // boundaries is met by some line end.
  std::string body;
  std::vector<uint32_t> want;
  for (int i = 0; body.size() < 70000; ++i) {
    body += std::string(static_cast<size_t>(i % 7), ' ') + Line(i) + (i % 3 ? "\r\n" : "\n");
    want.push_back(0x0A000000 + static_cast<uint32_t>(i % 65536) * 256);
  }
  EXPECT_EQ(Starts(ReadBody(body)), want);
}

TEST(LoadFromTextStreamTest, LastLineEndingExactlyAtAChunkIsKept) {
  // The whole body is one full chunk, the last line without a line end:
  // the stream's next read gives nothing, and the line must still count.
  std::string body;
  int n = 0;
  while (body.size() + Line(n).size() + 1 < 16384 - 40) body += Line(n++) + "\n";
  std::string last = Line(n);
  last += std::string(16384 - body.size() - last.size(), 'x');
  body += last;
  ASSERT_EQ(body.size(), 16384u);
  EXPECT_EQ(ReadBody(body).size(), static_cast<size_t>(n + 1));
}

TEST(LoadFromTextStreamTest, OverlongLinesLoseTheirFirstChunk) {
  // 20,000 bytes without a line end: the first 16,384 are dropped and the
  // rest is read as a line of its own.
  const std::string tail = Line(9);
  std::string body = std::string(16384, 'z') + tail;
  body += std::string(20000 - body.size(), 'z');  // still inside the status field
  EXPECT_EQ(Starts(ReadBody(body)), std::vector<uint32_t>{0x0A000900});
  const std::string body2 = std::string(16384, 'z') + tail + "\n" + Line(10);
  EXPECT_EQ(Starts(ReadBody(body2)), (std::vector<uint32_t>{0x0A000900, 0x0A000A00}));
}

TEST(LoadFromTextStreamTest, UnknownRegistryStopsTheRead) {
  TIPv4Database db;
  TMemoryStream s(Line(1) + "\nbogus|US|ipv4|1.0.0.0|1|1|x\n" + Line(2) + "\n");
  EXPECT_THROW_MSG(db.LoadFromTextStream(s), EDatabaseError, "WARNING: Unknown NIC name");
  EXPECT_EQ(db.BlockCount(), 1);
}

// The one description of the line both readers read through: fields in
// place, empty ones kept, and the count also past the fields kept.
TEST(DelegationLineTest, SplitKeepsEmptyFieldsAndCountsThemAll) {
  const TDelegationLine extended =
      SplitDelegationLine("apnic|JP|ipv4|1.0.16.0|4096|20110412|allocated|A91872ED");
  EXPECT_EQ(extended.Count, 8u);
  EXPECT_EQ(extended[dfRegistry], "apnic");
  EXPECT_EQ(extended[dfValue], "4096");
  EXPECT_EQ(extended[dfOpaqueId], "A91872ED");
  const TDelegationLine holes = SplitDelegationLine("arin||ipv4|");
  EXPECT_EQ(holes.Count, 4u);
  EXPECT_EQ(holes[dfCountry], "");
  EXPECT_EQ(holes[dfStart], "");
  EXPECT_EQ(holes[dfStatus], "");  // past the line's fields
  const TDelegationLine longer = SplitDelegationLine("0|1|2|3|4|5|6|7|8|9");
  EXPECT_EQ(longer.Count, 10u);
  EXPECT_EQ(longer[dfOpaqueId], "7");
  EXPECT_EQ(SplitDelegationLine("").Count, 1u);
  EXPECT_TRUE(IsRecordType("IPv6", kIPv6Type));
  EXPECT_FALSE(IsRecordType("ipv4 ", kIPv4Type));
}
