// kesl-mkdb --update against a local server holding five registry files.
#include "dbbuild/update.h"

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>

#include "cli/mkdb.h"
#include "dbbuild/compiler.h"
#include "ipdb/countries.h"
#include "ipdb/inplace.h"
#include "registryfiles.h"
#include "tools/files.h"
#include "tools/text.h"
#include "tools/tools.h"

namespace {

struct TRun {
  int Status = 0;
  std::string Out, Err;
};

TRun Mkdb(std::vector<std::string> Args) {
  std::ostringstream out, err;
  const int rc = MkdbMain(Args, out, err);
  return {rc, out.str(), err.str()};
}

std::string FileBytes(const std::string& Path) { return ReadWholeFile(Path, 1 << 26); }

// The answer the files give for IP, read independently of the compiler: of
// the delegations that hold it, the one with the latest date.
const TDelegation* Expected(uint32_t IP) {
  const TDelegation* best = nullptr;
  for (const TDelegation& d : FixtureDelegations()) {
    if (IP - d.Start < d.Count && (!best || d.Date >= best->Date)) best = &d;
  }
  return best;
}

// The same for IPv6: a delegation holds Bits leading bits of its prefix.
TIPv6Address First6(const TDelegation6& D) {
  TIPv6Address a = 0;
  EXPECT_TRUE(StrToIPv6(D.Prefix, a)) << D.Prefix;
  return a;
}
TIPv6Address Last6(const TDelegation6& D) { return First6(D) | (~TIPv6Address{0} >> D.Bits); }
const TDelegation6* Expected6(TIPv6Address IP) {
  const TDelegation6* best = nullptr;
  for (const TDelegation6& d : FixtureDelegations6()) {
    if (First6(d) <= IP && IP <= Last6(d) && (!best || d.Date >= best->Date)) best = &d;
  }
  return best;
}

class UpdateTest : public testing::Test {
 protected:
  void SetUp() override {
    WriteStatsFiles(FFiles);
    FServer = std::make_unique<TLocalServer>(FFiles.Dir());
    ASSERT_NE(FServer->Base(), "") << "python3 -m http.server did not start";
    FDb = FOut.Path("sub/dir/country.ip4");
  }
  // The test's server speaks plain http on 127.0.0.1.
  TRun Update(const std::string& Base) {
    return Mkdb(
        {"--update", "--from", Base, "--allow-http", "--retry-wait", "0", "-o", FDb, "--verbose"});
  }
  // Runs an update that must fail, naming Registry, and leave FDb as it was.
  void ExpectFailure(const std::string& Registry, const std::string& Cause) {
    const std::string before = FileBytes(FDb);
    const TRun r = Update(FServer->Base());
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, testing::HasSubstr("update failed: " + Registry + ": "));
    EXPECT_THAT(r.Err, testing::HasSubstr(Cause));
    EXPECT_TRUE(FileBytes(FDb) == before) << "the database was changed";
    EXPECT_FALSE(std::filesystem::exists(FDb + ".tmp"));
  }

  // Serves Text as a registry's file, with its right checksum.
  void Serve(uint16_t Registry, const std::string& Text) {
    FFiles.Write(StatsName(Registry), Text);
    FFiles.Write(StatsName(Registry) + ".md5", Md5Hex(Text));
  }
  // Runs an update that must be refused for Why (unless --force), leaving
  // FDb as it was, or absent.
  void ExpectRefused(const std::string& Why) {
    const bool existed = std::filesystem::exists(FDb);
    const std::string before = existed ? FileBytes(FDb) : "";
    const TRun r = Update(FServer->Base());
    EXPECT_EQ(r.Status, 1);
    EXPECT_THAT(r.Err, testing::HasSubstr("update failed: refusing to replace " + FDb + ": "));
    EXPECT_THAT(r.Err, testing::HasSubstr(Why + "; --force replaces it anyway"));
    EXPECT_EQ(std::filesystem::exists(FDb), existed);
    if (existed) {
      EXPECT_TRUE(FileBytes(FDb) == before) << "the database was changed";
    }
  }

  TTempDir FFiles, FOut;
  std::unique_ptr<TLocalServer> FServer;
  std::string FDb;
};

TEST_F(UpdateTest, AnswersAgreeWithTheFilesAtEveryEdge) {
  const TRun r = Update(FServer->Base());
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Err, "");  // not a terminal: no progress
  EXPECT_THAT(r.Out, testing::HasSubstr("Overlaps between the registries' files: 2"));
  EXPECT_THAT(r.Out, testing::HasSubstr("Overlap: 5.0.0.0 - 5.0.0.255 NL"));

  TIPv4Database db;
  db.LoadFromFile(FDb);
  EXPECT_EQ(DayNumberText(db.Created), "2026-12-07");  // the data's date
  for (const TDelegation& d : FixtureDelegations()) {
    const uint64_t last = uint64_t{d.Start} + d.Count - 1;
    for (uint64_t ip : {uint64_t{d.Start} - 1, uint64_t{d.Start}, last, last + 1}) {
      if (ip > 0xFFFFFFFFu) continue;
      SCOPED_TRACE(IPToStr(static_cast<uint32_t>(ip)));
      const TDelegation* want = Expected(static_cast<uint32_t>(ip));
      const int found = db.FindBlock(static_cast<uint32_t>(ip));
      ASSERT_EQ(found >= 0, want != nullptr);
      if (!want) continue;
      const TIPv4Block* b = db.BlockAt(found);
      EXPECT_EQ(b->CountryStr(), want->Country);
      EXPECT_EQ(b->CenterID, want->Registry);
      EXPECT_EQ(b->Date, want->Date);
    }
  }
  // Where the data came from: each file, its data's date and its checksum.
  ASSERT_EQ(db.Sources.size(), 5u);
  for (const TSource& s : db.Sources) {
    EXPECT_EQ(s.Date, 20261207u);
    EXPECT_EQ(s.Md5, Md5Hex(FileBytes(FFiles.Path(s.Name))));
  }

  // The same files again: nothing is written, and a timer can tell.
  struct stat before {};
  stat(FDb.c_str(), &before);
  const std::string bytes = FileBytes(FDb);
  const TRun again = Update(FServer->Base());
  EXPECT_EQ(again.Status, 4) << again.Err;
  EXPECT_THAT(again.Out, testing::HasSubstr("already current"));
  struct stat after {};
  stat(FDb.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_TRUE(FileBytes(FDb) == bytes);

  // One file changes: a new database.
  FFiles.Write(StatsName(kLacnicID), StatsFile(kLacnicID, 20261208));
  FFiles.Write(StatsName(kLacnicID) + ".md5", Md5Hex(StatsFile(kLacnicID, 20261208)));
  EXPECT_EQ(Update(FServer->Base()).Status, 0);
  db.LoadFromFile(FDb);
  EXPECT_EQ(DayNumberText(db.Created), "2026-12-08");
}

TEST_F(UpdateTest, IPv6AnswersAgreeWithTheFilesLoadedAndInPlace) {
  const TRun r = Update(FServer->Base());
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_THAT(
      r.Out, testing::HasSubstr("Overlap: 2001:610:: - 2001:610:ffff:ffff:ffff:ffff:ffff:ffff NL"));
  TIPv4Database db;
  db.LoadFromFile(FDb);
  const auto mapped = TInPlaceDatabase::Open(FDb);
  ASSERT_TRUE(mapped);
  // RIPE's /32 is cut round ARIN's /48: three blocks where the files list two.
  EXPECT_EQ(db.IPv6.Count(), static_cast<int>(FixtureDelegations6().size()) + 1);
  EXPECT_EQ(mapped->IPv6BlockCount(), db.IPv6.Count());
  for (const TDelegation6& d : FixtureDelegations6()) {
    for (const TIPv6Address ip : {First6(d) - 1, First6(d), Last6(d), Last6(d) + 1}) {
      SCOPED_TRACE(IPv6ToStr(ip));
      const TDelegation6* want = Expected6(ip);
      const int found = db.IPv6.Find(ip);
      TIPv6Block inPlace;
      ASSERT_EQ(found >= 0, want != nullptr);
      ASSERT_EQ(mapped->Find(ip, inPlace), want != nullptr);
      if (!want) continue;
      for (const TIPv6Block* b : {&db.IPv6.Blocks[found], &inPlace}) {
        EXPECT_EQ(CodeToStr(b->CountryCode), want->Country);
        EXPECT_EQ(b->Center->ID, want->Registry);
        EXPECT_EQ(b->Country->Code, b->CountryCode);
        EXPECT_EQ(b->Date, want->Date);
      }
    }
  }
}

TEST_F(UpdateTest, FailuresNameTheRegistryAndChangeNothing) {
  ASSERT_EQ(Update(FServer->Base()).Status, 0);
  const std::string afrinic = FFiles.Path(StatsName(kAfrinicID));
  const std::string kept = FileBytes(afrinic);

  // Each failure comes with checksums that differ from the database's: with
  // the same ones the update is over before any data file is fetched.
  const std::string newer = StatsFile(kAfrinicID, 20261208);
  FFiles.Write(StatsName(kAfrinicID) + ".md5", Md5Hex(newer));
  std::filesystem::remove(afrinic);
  ExpectFailure("AFRINIC", "404");
  FFiles.Write(StatsName(kAfrinicID), newer.substr(0, newer.size() / 2));  // cut short
  ExpectFailure("AFRINIC", "checksum mismatch");
  FFiles.Write(StatsName(kAfrinicID), newer);
  FFiles.Write(StatsName(kAfrinicID) + ".md5", "no checksum here\n");
  ExpectFailure("AFRINIC", "holds no MD5 checksum");
  // A page of another kind served with a right checksum.
  const std::string page = "<html>Not here</html>\n";
  FFiles.Write(StatsName(kAfrinicID), page);
  FFiles.Write(StatsName(kAfrinicID) + ".md5", Md5Hex(page));
  ExpectFailure("AFRINIC", "neither a registry delegation file nor a range file");
  const std::string empty = "2.3|afrinic|20261207|0|19830101|20261207|+0000\n";
  FFiles.Write(StatsName(kAfrinicID), empty);
  FFiles.Write(StatsName(kAfrinicID) + ".md5", Md5Hex(empty));
  ExpectFailure("AFRINIC", "no IPv4 delegations");
  FFiles.Write(StatsName(kAfrinicID), kept);
  FFiles.Write(StatsName(kAfrinicID) + ".md5", Md5Hex(kept));
  // New data announced, and the file still the old one.
  FFiles.Write(StatsName(kLacnicID) + ".md5", Md5Hex(StatsFile(kLacnicID, 20261208)));
  ExpectFailure("LACNIC", "checksum mismatch");
  // No server at all.
  FServer.reset();
  const std::string before = FileBytes(FDb);
  const TRun r = Update("http://127.0.0.1:9");
  EXPECT_EQ(r.Status, 1);
  EXPECT_THAT(r.Err, testing::HasSubstr("update failed: ARIN: http://127.0.0.1:9/"));
  EXPECT_TRUE(FileBytes(FDb) == before);
}

TEST_F(UpdateTest, NothingIsDownloadedWhenTheChecksumsAreTheDatabasesOwn) {
  ASSERT_EQ(Update(FServer->Base()).Status, 0);
  // The server now notes every request.
  TTempDir logs;
  const std::string log = logs.Path("requests");
  FServer = std::make_unique<TLocalServer>(FFiles.Dir(), 0, log);
  ASSERT_FALSE(FServer->Base().empty());
  const std::string before = FileBytes(FDb);
  const TRun current = Update(FServer->Base());
  EXPECT_EQ(current.Status, 4) << current.Err;
  EXPECT_TRUE(FileBytes(FDb) == before);
  std::vector<std::string> asked;
  std::ifstream lines(log);
  for (std::string line; std::getline(lines, line);) asked.push_back(line);
  EXPECT_EQ(asked.size(), 5u);
  for (const std::string& path : asked) EXPECT_THAT(path, testing::EndsWith(".md5"));
}

TEST_F(UpdateTest, AChecksumPublishedLateIsWaitedFor) {
  // The server gives a stale .md5 for LACNIC's new file, and the right one
  // a moment later, as a registry that publishes it after the file does.
  const std::string fresh = StatsFile(kLacnicID, 20261208);
  FFiles.Write(StatsName(kLacnicID), fresh);
  FFiles.Write(StatsName(kLacnicID) + ".md5", Md5Hex("stale") + "\n");
  std::thread publish([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    FFiles.Write(StatsName(kLacnicID) + ".md5", Md5Hex(fresh) + "\n");
  });
  const TRun r =
      Mkdb({"--update", "--from", FServer->Base(), "--allow-http", "--retry-wait", "1", "-o", FDb});
  publish.join();
  EXPECT_EQ(r.Status, 0) << r.Err;
  // A checksum that stays wrong fails after three tries.
  FFiles.Write(StatsName(kLacnicID) + ".md5", Md5Hex(StatsFile(kLacnicID, 20261210)) + "\n");
  FFiles.Write(StatsName(kLacnicID), StatsFile(kLacnicID, 20261209));
  const TRun failed = Update(FServer->Base());
  EXPECT_EQ(failed.Status, 1);
  EXPECT_THAT(failed.Err, testing::HasSubstr("LACNIC: checksum mismatch: "));
  EXPECT_THAT(failed.Err, testing::HasSubstr(", 3 tries"));
  EXPECT_EQ(Mkdb({"--update", "--retry-wait", "-1"}).Status, 2);
}

TEST_F(UpdateTest, PlainHttpOnlyWhenAllowedAndOneUpdateAtATime) {
  // Over http nothing authenticates the files: refused unless allowed.
  const TRun refused = Mkdb({"--update", "--from", FServer->Base(), "-o", FDb});
  EXPECT_EQ(refused.Status, 2);
  EXPECT_THAT(refused.Err, testing::StartsWith("kesl-mkdb: --from " + FServer->Base() +
                                               " is not authenticated: "));
  EXPECT_FALSE(std::filesystem::exists(FDb));
  // The scheme in capitals is plain http all the same, refused before any
  // request.
  for (const char* scheme : {"HTTP://", "Http://"}) {
    const std::string base = scheme + FServer->Base().substr(7);
    const TRun upper = Mkdb({"--update", "--from", base, "-o", FDb});
    EXPECT_EQ(upper.Status, 2) << base;
    EXPECT_THAT(upper.Err, testing::HasSubstr(" is not authenticated: "));
  }
  EXPECT_FALSE(std::filesystem::exists(FDb));
  // Another update holds the lock beside the output: --no-wait gives up at
  // once, and nothing is written.
  ASSERT_TRUE(std::filesystem::create_directories(std::filesystem::path(FDb).parent_path()) ||
              std::filesystem::exists(std::filesystem::path(FDb).parent_path()));
  const int lock = ::open((FDb + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  const TRun busy =
      Mkdb({"--update", "--from", FServer->Base(), "--allow-http", "--no-wait", "-o", FDb});
  EXPECT_EQ(busy.Status, 1);
  EXPECT_EQ(busy.Err, "kesl-mkdb: update failed: another update of " + FDb + " is running; " + FDb +
                          " is unchanged\n");
  EXPECT_FALSE(std::filesystem::exists(FDb));
  // Without --no-wait it waits: released a moment later, it goes on.
  std::thread release([lock] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::close(lock);
  });
  const TRun waited = Update(FServer->Base());
  release.join();
  EXPECT_EQ(waited.Status, 0) << waited.Err;
  EXPECT_TRUE(std::filesystem::exists(FDb));
}

// A registry's file of the given ipv4 records ("CC|start|count|date"), with
// its version line and a right summary.
std::string RegistryFile(uint16_t Registry, const std::vector<std::string>& Records,
                         const std::string& Date = "20261208") {
  const std::string token(RegistryByID(Registry)->Token);
  std::string text = "2|" + token + "|" + Date + "|" + std::to_string(Records.size()) +
                     "|19830101|" + Date + "|+0000\n" + token + "|*|ipv4|*|" +
                     std::to_string(Records.size()) + "|summary\n";
  for (const std::string& r : Records) {
    const auto f = SplitText(r, '|');
    text += token + "|" + std::string(f[0]) + "|ipv4|" + std::string(f[1]) + "|" +
            std::string(f[2]) + "|" + std::string(f[3]) + "|allocated\n";
  }
  return text;
}

TEST_F(UpdateTest, SuddenChangeIsRefusedUnlessForced) {
  ASSERT_EQ(Update(FServer->Base()).Status, 0);
  // RIPE's 65,920 addresses (ARIN's later /25 took 128 of its /24) fall to
  // 384: more than a quarter of one registry's space gone.
  Serve(kRipeID,
        RegistryFile(kRipeID, {"NL|5.0.0.0|256|20200101", "GB|255.255.255.0|256|20010101"}));
  ExpectRefused(
      "RIPE delegates 384 IPv4 addresses, 99.4% fewer than the 65920 of the database in "
      "place (more than 25%)");
  // ARIN's /8 gone: most of all the addresses.
  Serve(kRipeID, StatsFile(kRipeID, 20261207));
  Serve(kArinID,
        RegistryFile(kArinID, {"US|5.0.0.128|128|20261201", "CA|12.0.0.0|131072|20000101"}));
  ExpectRefused(
      "the new data delegates 1317379 IPv4 addresses, 92.7% fewer than the 18094595 of the "
      "database in place (more than 10%)");
  const TRun forced = Mkdb({"--update", "--from", FServer->Base(), "--allow-http", "--retry-wait",
                            "0", "--force", "-o", FDb});
  ASSERT_EQ(forced.Status, 0) << forced.Err;
  TIPv4Database db;
  db.LoadFromFile(FDb);
  EXPECT_LT(db.FindBlock(0x03000001), 0) << "ARIN's /8 is gone with --force";

  // A database made from other files is no measure: replaced as it comes.
  TTempDir own;
  ASSERT_EQ(Mkdb({"-o", FDb, own.Write("ranges", "16777216,16777471,AU\n")}).Status, 0);
  Serve(kArinID, StatsFile(kArinID, 20261207));
  EXPECT_EQ(Update(FServer->Base()).Status, 0);
  // Two registries claiming the same 1.2% of the space are refused even
  // for a new database.
  const std::vector<std::string> shared = {"US|20.0.0.0|16777216|20000101",
                                           "US|21.0.0.0|16777216|20000101",
                                           "US|22.0.0.0|16777216|20000101"};
  Serve(kArinID, RegistryFile(kArinID, shared));
  Serve(kRipeID, RegistryFile(kRipeID, shared));
  FDb = FOut.Path("new/country.ip4");
  ExpectRefused(
      "blocks of two registries share 50331648 IPv4 addresses, 1.2% of the space (more "
      "than 1%)");
}

// A stale mirror and a lost family are refused as a loss of addresses
// is: files older than those of the database in place, and far fewer IPv6
// /48s in all or from one registry.
TEST_F(UpdateTest, RollbackAndLostIPv6AreRefusedUnlessForced) {
  ASSERT_EQ(Update(FServer->Base()).Status, 0);
  // The same data from a mirror of 2010.
  for (const TRegistryInfo& r : kRegistries) {
    if (!r.StatsUrl.empty()) Serve(r.ID, StatsFile(r.ID, 20100101));
  }
  ExpectRefused(" is dated 20100101, older than the 20261207 the database in place was made from");
  // APNIC's two /32s gone: all of its IPv6 space.
  for (const TRegistryInfo& r : kRegistries) {
    if (!r.StatsUrl.empty()) Serve(r.ID, StatsFile(r.ID, 20261208));
  }
  std::string apnic = StatsFile(kApnicID, 20261208);
  for (const std::string gone : {"apnic|JP|ipv6|2001:200::|32|19990813|allocated|A91-",
                                 "apnic|AU|ipv6|2001:201::|32||allocated|A91-"}) {
    const size_t at = apnic.find(gone);
    ASSERT_NE(at, std::string::npos) << gone;
    apnic.erase(at, apnic.find('\n', at) + 1 - at);
  }
  const size_t summary = apnic.find("apnic|*|ipv6|*|3|summary");
  ASSERT_NE(summary, std::string::npos);
  apnic.replace(summary, 24, "apnic|*|ipv6|*|1|summary");
  Serve(kApnicID, apnic);
  ExpectRefused(
      "APNIC delegates 0 IPv6 /48s, 100.0% fewer than the 131072 of the database in place "
      "(more than 25%)");
  // No IPv6 block at all: RIPE's /12 was most of the space.
  std::string ripe = StatsFile(kRipeID, 20261208);
  const size_t big = ripe.find("ripencc|DE|ipv6|2a00::|12|");
  ASSERT_NE(big, std::string::npos);
  ripe.erase(big, ripe.find('\n', big) + 1 - big);
  ripe.replace(ripe.find("ripencc|*|ipv6|*|3|summary"), 26, "ripencc|*|ipv6|*|2|summary");
  Serve(kRipeID, ripe);
  Serve(kApnicID, StatsFile(kApnicID, 20261208));
  ExpectRefused(
      "the new data delegates 851968 IPv6 /48s, 100.0% fewer than the 68720328704 of the "
      "database in place (more than 10%)");
  const TRun forced = Mkdb({"--update", "--from", FServer->Base(), "--allow-http", "--retry-wait",
                            "0", "--force", "-o", FDb});
  ASSERT_EQ(forced.Status, 0) << forced.Err;
}

TEST_F(UpdateTest, AHostileRegistryFileTakesNoAddresses) {
  ASSERT_EQ(Update(FServer->Base()).Status, 0);
  // ARIN's file claims the whole space for CN in another registry's name,
  // and a /7 dated 9999 in its own: both are skipped.
  std::string arin = StatsFile(kArinID, 20261207);
  const std::string hostile =
      "x|CN|ipv4|1.0.0.0|4278190080|99991231|allocated\n"
      "arin|CN|ipv4|8.0.0.0|33554432|99991231|allocated\n";
  // The two lines are ipv4 records: the summary counts them.
  const std::string ipv4Summary = "arin|*|ipv4|*|";
  const size_t at = arin.find(ipv4Summary) + ipv4Summary.size();
  const size_t end = arin.find('|', at);
  arin.replace(at, end - at, std::to_string(std::stoi(arin.substr(at, end - at)) + 2));
  arin += hostile;
  FFiles.Write(StatsName(kArinID), arin);
  FFiles.Write(StatsName(kArinID) + ".md5", Md5Hex(arin));
  const TRun r = Update(FServer->Base());
  ASSERT_EQ(r.Status, 0) << r.Err;
  TIPv4Database db;
  db.LoadFromFile(FDb);
  EXPECT_EQ(db.BlockAt(db.FindBlock(0x01000001))->CountryCode, StrToCode('A', 'U'));
  EXPECT_LT(db.FindBlock(0x08000001), 0);
  // The same file cut at a line end, its checksum cut along: the summary
  // tells, and the update fails naming the registry.
  const std::string cut = arin.substr(0, arin.size() - hostile.size());
  FFiles.Write(StatsName(kArinID), cut);
  FFiles.Write(StatsName(kArinID) + ".md5", Md5Hex(cut));
  ExpectFailure("ARIN", "its summary counts ");
  // A version line from the future is refused whole.
  const std::string future = RegistryFile(kArinID, {"US|3.0.0.0|16777216|19880223"}, "20991231");
  FFiles.Write(StatsName(kArinID), future);
  FFiles.Write(StatsName(kArinID) + ".md5", Md5Hex(future));
  ExpectFailure("ARIN", "the version line is dated 20991231, after tomorrow");
}

TEST_F(UpdateTest, TwoUpdatesStartedTogetherLeaveOneDatabase) {
  // The second waits for the first and then finds the data current; with
  // --no-wait it gives up at once or, started after the first ended, finds
  // the data current too.
  for (const bool noWait : {false, true}) {
    SCOPED_TRACE(noWait ? "--no-wait" : "waiting");
    std::filesystem::remove(FDb);
    std::vector<std::string> args = {"--update", "--from", FServer->Base(), "--allow-http",
                                     "-o",       FDb,      "--retry-wait",  "0"};
    TRun first, second;
    std::thread a([&] { first = Mkdb(args); });
    if (noWait) args.push_back("--no-wait");
    std::thread b([&] { second = Mkdb(args); });
    a.join();
    b.join();
    std::vector<int> statuses = {first.Status, second.Status};
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses[0], 0) << first.Err << second.Err;
    EXPECT_TRUE(statuses[1] == 4 || (noWait && statuses[1] == 1)) << first.Err << second.Err;
    if (statuses[1] == 1) {
      EXPECT_THAT(first.Err + second.Err, testing::HasSubstr("another update of " + FDb));
    }
    TIPv4Database db;
    EXPECT_NO_THROW(db.LoadFromFile(FDb));
    // The fixture's 13 blocks (ARIN's /25 takes the upper half of RIPE's /24).
    EXPECT_EQ(db.BlockCount(), 13);
  }
}

TEST_F(UpdateTest, FileAddressesAndWhereTheUserDatabaseGoes) {
  TTempDir home;
  TRun r;
  {
    const TScopedEnv xdg("XDG_DATA_HOME", home.Dir().c_str());
    r = Mkdb({"--update", "--from", "file://" + FFiles.Dir()});
  }
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string user = home.Path("kesl/country.ip4");
  EXPECT_THAT(r.Out, testing::HasSubstr("Wrote " + user));
  TIPv4Database db;
  db.LoadFromFile(user);
  EXPECT_EQ(db.BlockAt(db.FindBlock(0x29000001))->CenterID, kAfrinicID);
  // On a terminal: a progress line per registry on stderr.
  std::ostringstream out, err, progress;
  ASSERT_EQ(MkdbMain({"--update", "--from", FServer->Base(), "--allow-http", "-o", FDb}, out, err,
                     &progress),
            0);
  const std::string lines = progress.str();
  for (const char* r : {"ARIN", "RIPE", "APNIC", "LACNIC", "AFRINIC"}) {
    EXPECT_THAT(lines, testing::HasSubstr(std::string("Downloading ") + r + ": "));
  }
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 5);
  // Other protocols are refused before anything is fetched.
  EXPECT_EQ(Mkdb({"--update", "--from", "ftp://example.invalid", "-o", FDb}).Status, 1);
  EXPECT_EQ(Mkdb({"--update", "input.txt"}).Status, 2);
  EXPECT_EQ(Mkdb({"--from", FFiles.Dir(), "input.txt"}).Status, 2);
}

// Small things a registry's server or an editor may hand over: a file and
// its checksum that start with a byte-order mark; a country that only
// iso-codes names, named in the new database as kesl-mkdb names it.
TEST_F(UpdateTest, ByteOrderMarksAndCountryNamesFromIsoCodes) {
  std::string ripe = StatsFile(kRipeID, 20261207);
  const size_t at = ripe.find("ripencc|*|ipv4|*|");
  const size_t n = std::stoul(ripe.substr(at + 17));
  ripe.replace(at, ripe.find('|', at + 17) - at, "ripencc|*|ipv4|*|" + std::to_string(n + 1));
  ripe += "ripencc|XK|ipv4|46.99.0.0|256|20100101|allocated|A91-XK\n";
  const std::string bom = "\xEF\xBB\xBF";
  FFiles.Write(StatsName(kRipeID), bom + ripe);
  FFiles.Write(StatsName(kRipeID) + ".md5", bom + Md5Hex(bom + ripe) + "\n");
  TTempDir names;
  TUpdateOptions options;
  options.Base = FServer->Base();
  options.Output = FDb;
  options.RetryWait = 0;
  options.IsoCodes =
      names.Write("iso.json", R"({"3166-1": [{"alpha_2": "XK", "name": "Kosovo"}]})");
  const TUpdateResult r = RunUpdate(options);
  ASSERT_EQ(r.Status, usWritten) << r.Message;
  TIPv4Database db;
  db.LoadFromFile(FDb);
  const int i = db.FindBlock(0x2E630001);
  ASSERT_GE(i, 0);
  EXPECT_EQ(db.BlockAt(i)->Country->Name, "Kosovo");
  EXPECT_EQ(db.Sources.size(), 5u);
}

TEST_F(UpdateTest, ProgressCanAbortAndNothingIsWritten) {
  TUpdateOptions options;
  options.Base = FServer->Base();
  options.Output = FDb;
  std::vector<std::string> seen;
  options.Progress = [&](const std::string& Registry, uint64_t, uint64_t) {
    if (seen.empty() || seen.back() != Registry) seen.push_back(Registry);
    return seen.size() < 3;
  };
  const TUpdateResult r = RunUpdate(options);
  EXPECT_EQ(r.Status, usAborted);
  EXPECT_EQ(seen, (std::vector<std::string>{"ARIN", "RIPE", "APNIC"}));
  EXPECT_FALSE(std::filesystem::exists(FDb));
}

}  // namespace

TEST(UpdateChecksumTest, TheRegistriesThreeForms) {
  const std::string sum = "0123456789abcdef0123456789abcdef";
  EXPECT_EQ(ParseMd5File("MD5 (delegated-arin-extended-latest) = " + sum + "\n"), sum);
  EXPECT_EQ(ParseMd5File(sum + "  delegated-apnic-extended-latest\n"), sum);
  EXPECT_EQ(ParseMd5File(sum + " *name=with-equals\n"), sum);
  EXPECT_EQ(ParseMd5File("0123456789ABCDEF0123456789ABCDEF\r\n"), sum);
  EXPECT_EQ(ParseMd5File(sum.substr(1)), "");  // too short
  EXPECT_EQ(ParseMd5File(sum + "0"), "");      // too long
  EXPECT_EQ(ParseMd5File("<html>" + sum + "</html>"), "");
  EXPECT_EQ(ParseMd5File(""), "");
  EXPECT_EQ(ParseMd5File("\xEF\xBB\xBF" + sum + "\n"), sum);
  EXPECT_EQ(ParseMd5File("\xEF\xBB\xBFMD5 (name) = " + sum + "\n"), sum);
}
