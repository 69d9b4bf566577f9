// kesl-lookup --annotate on a small database of both families, searched in
// place (plain) and loaded (zlib).
#include <algorithm>
#include <functional>
#include <sstream>
#include <sys/resource.h>

#include "cli/lookup.h"
#include "cli/lookupio.h"
#include "cuttingio.h"
#include "ipdb/encoder.h"
#include "ipdb/format.h"
#include "testutil.h"

namespace {

class AnnotateTest : public testing::TestWithParam<TCompression> {
 protected:
  void SetUp() override {
    TIPv6Block b6;
    StrToIPv6("2001:db8::", b6.Start);
    StrToIPv6("2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", b6.Last);
    b6.CountryCode = Code("DE");
    b6.CenterID = kRipeID;
    b6.Date = 20200101;
    const std::string body =
        EncodeBinBody({}, {},
                      {MakeBlock(0x0A000000, 256, "NL", kRipeID, 20110811),
                       MakeBlock(0x0B000000, 0x1000000, "US", kArinID)}) +
        EncodeTrailer({{ttSortedDisjoint, {}}, {ttIPv6Blocks, EncodeIPv6Blocks({b6})}});
    FDb = FDir.Write("country.ip4", EncodeDatabaseFile(true, GetParam(), "20261201", body));
  }
  int Run(std::vector<std::string> Args, const std::string& Input = "") {
    Args.insert(Args.begin(), {"--db", FDb, "--annotate"});
    std::istringstream in(Input);
    FOut.str("");
    FErr.str("");
    return LookupMain(Args, in, FOut, FErr);
  }
  std::string Out() const { return FOut.str(); }

  TTempDir FDir;
  std::string FDb;
  std::ostringstream FOut, FErr;
};

TEST_P(AnnotateTest, EachAddressIsFollowedByItsAnswer) {
  const std::string log =
      "10.0.0.1 - - [08/Dec/2026:12:34:56 +0000] \"GET /?ip=11.1.2.3 HTTP/1.1\" 200 512\n"
      "[2001:db8::1]:443 ::ffff:10.0.0.9 10.0.0.1:80 9.9.9.9 2001:db9::1, v1.2.3.4 01.2.3.4\n"
      "\n"
      "no address, 12:34:56, ::, 1.2.3.4.5\n"
      "last line without an end 11.0.0.1";
  ASSERT_EQ(Run({}, log), 0) << FErr.str();
  EXPECT_EQ(Out(),
            "10.0.0.1[NL] - - [08/Dec/2026:12:34:56 +0000] \"GET /?ip=11.1.2.3[US] HTTP/1.1\" "
            "200 512\n"
            "[2001:db8::1[DE]]:443 ::ffff:10.0.0.9[NL] 10.0.0.1[NL]:80 9.9.9.9[-] 2001:db9::1[-], "
            "v1.2.3.4 01.2.3.4\n"
            "\n"
            "no address, 12:34:56, ::, 1.2.3.4.5\n"
            "last line without an end 11.0.0.1[US]");
  // The fields asked for, joined by commas, in the notation asked for.
  ASSERT_EQ(Run({"--fields", "country,registry,block,date", "--notation", "cidr"},
                "10.0.0.1 2001:db8::1 9.9.9.9\n"),
            0);
  EXPECT_EQ(Out(),
            "10.0.0.1[NL,RIPE,10.0.0.0/24,20110811] 2001:db8::1[DE,RIPE,2001:db8::/32,20200101] "
            "9.9.9.9[-]\n");
  // A name with a comma stays one field; brackets in it would end the note.
  ASSERT_EQ(Run({"--fields", "country_name"}, "11.0.0.1\n"), 0);
  EXPECT_EQ(Out(), "11.0.0.1[United States]\n");
}

TEST_P(AnnotateTest, BytesThatAreNoTextAreKept) {
  // Invalid UTF-8, NUL, CR, bytes past 0x7F beside an address: all kept.
  std::string bytes;
  for (int c = 0; c < 256; ++c) {
    if (!(c >= '0' && c <= '9') && c != '.' && c != ':') bytes += static_cast<char>(c);
  }
  const std::string in = bytes +
                         "\xff"
                         "10.0.0.1\xc3\r\n\x00tail" +
                         bytes;
  ASSERT_EQ(Run({}, in), 0);
  EXPECT_EQ(Out(), bytes +
                       "\xff"
                       "10.0.0.1[NL]\xc3\r\n\x00tail" +
                       bytes);
}

TEST_P(AnnotateTest, JsonHasALineAndItsAddresses) {
  ASSERT_EQ(Run({"--format", "json", "--fields", "query,country,registry"},
                "a 10.0.0.1 \"q\" caf\xc3\xa9 \xff 9.9.9.9\n\nt\tb\r\nend 2001:db8::1"),
            0);
  EXPECT_EQ(Out(),
            "{\"line\":\"a 10.0.0.1 \\\"q\\\" caf\xc3\xa9 \xEF\xBF\xBD 9.9.9.9\",\"addresses\":["
            "{\"query\":\"10.0.0.1\",\"country\":\"NL\",\"registry\":\"RIPE\"},"
            "{\"query\":\"9.9.9.9\",\"country\":null,\"registry\":null}]}\n"
            "{\"line\":\"\",\"addresses\":[]}\n"
            "{\"line\":\"t\\u0009b\\u000d\",\"addresses\":[]}\n"
            "{\"line\":\"end 2001:db8::1\",\"addresses\":[{\"query\":\"2001:db8::1\","
            "\"country\":\"DE\",\"registry\":\"RIPE\"}]}\n");
  // Every field by default, as for --format json.
  ASSERT_EQ(Run({"--format", "json"}, "10.0.0.1\n"), 0);
  EXPECT_EQ(Out(),
            "{\"line\":\"10.0.0.1\",\"addresses\":[{\"query\":\"10.0.0.1\",\"status\":\"ok\","
            "\"address\":\"10.0.0.1\",\"block\":\"10.0.0.0 - 10.0.0.255\",\"country\":\"NL\","
            "\"country_name\":\"Netherlands\",\"registry\":\"RIPE\",\"date\":\"20110811\","
            "\"message\":null,\"country_kind\":\"unknown\",\"allocation\":null,\"holder\":null,"
            "\"asns\":null,\"special\":\"Private-Use\"}]}\n");
}

TEST_P(AnnotateTest, FilesInTurnAndOnesThatCannotBeRead) {
  const std::string a = FDir.Write("a.log", "10.0.0.1 a\n");
  const std::string b = FDir.Write("b.log", "b 11.0.0.1");  // no line end
  EXPECT_EQ(Run({a, "-", b}, "stdin 2001:db8::2\n"), 0);
  EXPECT_EQ(Out(), "10.0.0.1[NL] a\nstdin 2001:db8::2[DE]\nb 11.0.0.1[US]");
  // A missing file is said and passed over; the rest are annotated.
  EXPECT_EQ(Run({a, FDir.Path("missing.log"), FDir.Dir(), b}), 1);
  EXPECT_EQ(Out(), "10.0.0.1[NL] a\nb 11.0.0.1[US]");
  EXPECT_THAT(FErr.str(),
              testing::HasSubstr("kesl-lookup: cannot read " + FDir.Path("missing.log") +
                                 ": No such file or directory\n"));
  EXPECT_THAT(FErr.str(), testing::HasSubstr("kesl-lookup: cannot read " + FDir.Dir() + ": "));
  // The JSON line of a file without a last line end ends with the file.
  EXPECT_EQ(Run({"--format", "json", "--fields", "country", b, b}), 0);
  EXPECT_EQ(Out(),
            "{\"line\":\"b 11.0.0.1\",\"addresses\":[{\"country\":\"US\"}]}\n"
            "{\"line\":\"b 11.0.0.1\",\"addresses\":[{\"country\":\"US\"}]}\n");
  // What --annotate takes and does not.
  EXPECT_EQ(Run({"--format", "csv"}), 2);
  EXPECT_EQ(Run({"--header"}), 2);
  EXPECT_EQ(Run({"-6"}), 2);
  EXPECT_EQ(Run({"--info"}), 2);
}

// Input made as it is read and output checked as it is written, so that
// neither needs the memory of a line of 100 MB.
class TStreamedIO : public TLookupIO {
 public:
  // Makes piece Index into Out (whose room is used again: a sanitizer
  // would hold on to freed pieces and count them).
  using TPiece = std::function<void(uint64_t Index, std::string& Out)>;
  TStreamedIO(uint64_t Pieces, TPiece In, TPiece Expected)
      : FPieces(Pieces), FIn(std::move(In)), FExpected(std::move(Expected)) {}
  size_t Read(char* Buffer, size_t Size) override {
    while (FInAt == FInText.size()) {
      if (FInIndex == FPieces) return 0;
      FIn(FInIndex++, FInText);
      FInAt = 0;
    }
    const size_t n = std::min(Size, FInText.size() - FInAt);
    FInText.copy(Buffer, n, FInAt);
    FInAt += n;
    return n;
  }
  void WriteOut(const char* Data, size_t Size) override {
    FWritten += Size;
    while (Size > 0 && Matches) {
      while (FWantAt == FWant.size()) {
        if (FWantIndex == FPieces) {
          Matches = false;  // more than expected
          return;
        }
        FExpected(FWantIndex++, FWant);
        FWantAt = 0;
      }
      const size_t n = std::min(Size, FWant.size() - FWantAt);
      Matches = std::string_view(Data, n) == std::string_view(FWant).substr(FWantAt, n);
      FWantAt += n;
      Data += n;
      Size -= n;
    }
  }
  bool AllWritten() const { return Matches && FWantIndex == FPieces && FWantAt == FWant.size(); }
  std::ostream& Out() override { return FText; }
  std::ostream& Err() override { return FText; }

  bool Matches = true;
  uint64_t FWritten = 0;

 private:
  uint64_t FPieces;
  TPiece FIn, FExpected;
  std::string FInText, FWant;
  size_t FInAt = 0, FWantAt = 0;
  uint64_t FInIndex = 0, FWantIndex = 0;
  std::ostringstream FText;
};

long PeakKilobytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

TEST_P(AnnotateTest, ALineOf100MBInBoundedMemory) {
  // One line: a hundred pieces of a megabyte of text, an address and a
  // megabyte-long run of digits and colons (no IPv6 address, but IPv4
  // parts), then its end.
  const std::string filler(1 << 20, 'x');
  std::string run;
  while (run.size() < (1 << 20)) run += "1234567:";
  const auto in = [&](uint64_t I, std::string& Out) {
    Out.clear();
    if (I == 100) return void(Out += '\n');
    (((Out += filler) += " 10.0.0.1 ") += run) += "11.0.0.1: ";
  };
  const auto want = [&](uint64_t I, std::string& Out) {
    Out.clear();
    if (I == 100) return void(Out += '\n');
    (((Out += filler) += " 10.0.0.1[NL] ") += run) += "11.0.0.1[US]: ";
  };
  const long before = PeakKilobytes();
  TStreamedIO io(101, in, want);
  EXPECT_EQ(LookupMain({"--db", FDb, "--annotate"}, io), 0);
  EXPECT_TRUE(io.AllWritten()) << "the output differs near byte " << io.FWritten;
  // The line passed through a few megabytes of buffers, not whole.
  EXPECT_LT(PeakKilobytes() - before, 48 * 1024);
}

TEST_P(AnnotateTest, AJsonLineOfManyAddresses) {
  // 200,000 addresses on one line: their answers wait in a file once they
  // pass a megabyte, and come out in order.
  const int n = 200000;
  const auto in = [&](uint64_t I, std::string& Out) {
    Out = I < n ? "10.0.0.1 " : I == n ? "\n" : "";
  };
  const auto want = [&](uint64_t I, std::string& Out) {
    if (I == 0) return void(Out = "{\"line\":\"10.0.0.1 ");
    if (I < n) return void(Out = "10.0.0.1 ");
    if (I == n) return void(Out = "\",\"addresses\":[");
    Out = I == 2 * n ? "{\"country\":\"NL\"}]}\n" : "{\"country\":\"NL\"},";
  };
  // The expected text has n pieces of line and n + 1 of answers; the input
  // ends after its n + 1 pieces.
  TStreamedIO io(2 * n + 1, in, want);
  EXPECT_EQ(LookupMain({"--db", FDb, "--annotate", "--format", "json", "--fields", "country"}, io),
            0);
  EXPECT_TRUE(io.AllWritten()) << "the output differs near byte " << io.FWritten;
}

INSTANTIATE_TEST_SUITE_P(InPlaceAndLoaded, AnnotateTest, testing::Values(cmNone, cmZLib));

TEST(AnnotateCutTest, ADatabaseCutShortUnderALongLogEndsItWithAMessage) {
  // A log of several pieces, whose pieces are answered while the next is
  // read: the database cut short under it ends the run once, with the
  // message, and what went out is the log's annotation as far as it goes.
  TTempDir dir;
  const std::string db = dir.Write("cut.ip4", TTruncatingIO::Database());
  const size_t before = 200000, after = 200000;
  TTruncatingIO io(db, before, after);
  EXPECT_EQ(LookupMain({"--db", db, "--annotate"}, io), 3);
  EXPECT_EQ(io.FErr.str(), "kesl-lookup: The file " + db +
                               " was written over while it was read, and did not load whole "
                               "again within 5 seconds\n");
  std::string whole;
  for (size_t i = 0; i < before + after; ++i) (whole += TTruncatingIO::Address(i)) += "[US]\n";
  const std::string out = io.FOut.str();
  ASSERT_LT(out.size(), whole.size());
  const size_t same =
      static_cast<size_t>(std::mismatch(out.begin(), out.end(), whole.begin()).first - out.begin());
  EXPECT_EQ(same, out.size()) << "the output differs from the log's annotation at byte " << same;
}

}  // namespace
