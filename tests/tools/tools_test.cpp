#include "tools/tools.h"

#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "testutil.h"
#include "tools/files.h"
#include "tools/finally.h"
#include "tools/md5.h"
#include "tools/resolve.h"
#include "tools/text.h"

TEST(ToolsTest, YearIsLeap) {
  EXPECT_TRUE(YearIsLeap(2000));
  EXPECT_TRUE(YearIsLeap(2004));
  EXPECT_FALSE(YearIsLeap(1900));
  EXPECT_FALSE(YearIsLeap(2003));
}

TEST(ToolsTest, EncodeDayNumberKnownDays) {
  EXPECT_EQ(EncodeDayNumber(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDayNumber(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDayNumber(2003, 5, 1), 37742);
  EXPECT_EQ(EncodeDayNumber(2000, 2, 29), 36585);
  EXPECT_EQ(EncodeDayNumber(1, 1, 1), -693593);
}

TEST(ToolsTest, EncodeDayNumberRejectsInvalidDates) {
  EXPECT_EQ(EncodeDayNumber(2003, 2, 29), -1);
  EXPECT_EQ(EncodeDayNumber(0, 1, 1), -1);
  EXPECT_EQ(EncodeDayNumber(10000, 1, 1), -1);
  EXPECT_EQ(EncodeDayNumber(2003, 13, 1), -1);
  EXPECT_EQ(EncodeDayNumber(2003, 0, 1), -1);
  EXPECT_EQ(EncodeDayNumber(2003, 4, 31), -1);
  EXPECT_EQ(EncodeDayNumber(2003, 4, 0), -1);
}

TEST(ToolsTest, DecodeDayNumberInvertsEncodeOverWholeRange) {
  // Every 97th day from year 1 to 9999 and back, plus both ends.
  int32_t y, m, d;
  for (int32_t n = -693593; n <= 2958465; n += 97) {
    ASSERT_TRUE(DecodeDayNumber(n, y, m, d)) << n;
    ASSERT_EQ(EncodeDayNumber(y, m, d), n) << y << "-" << m << "-" << d;
  }
  ASSERT_TRUE(DecodeDayNumber(-1, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  ASSERT_TRUE(DecodeDayNumber(2958465, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 99991231);
  EXPECT_FALSE(DecodeDayNumber(2958466, y, m, d));
  EXPECT_FALSE(DecodeDayNumber(-693594, y, m, d));
}

TEST(ToolsTest, DayNumberTextAndAge) {
  EXPECT_EQ(DayNumberText(EncodeDayNumber(2026, 6, 26)), "2026-06-26");
  EXPECT_EQ(DayNumberText(0), "1899-12-30");
  EXPECT_EQ(DayNumberText(-1), "unknown");  // an invalid header date
  EXPECT_EQ(DayNumberText(3e9), "unknown");
  auto day = [](int y, int m, int d) { return static_cast<double>(EncodeDayNumber(y, m, d)); };
  EXPECT_FALSE(DatabaseIsOld(day(2026, 12, 1), 2026, 12, 7));
  EXPECT_FALSE(DatabaseIsOld(day(2026, 11, 30), 2026, 12, 1));
  EXPECT_TRUE(DatabaseIsOld(day(2026, 11, 30), 2026, 12, 2));
  EXPECT_TRUE(DatabaseIsOld(day(2025, 12, 31), 2026, 1, 2));
  EXPECT_FALSE(DatabaseIsOld(day(2025, 12, 31), 2026, 1, 1));
  EXPECT_FALSE(DatabaseIsOld(day(2027, 1, 5), 2026, 12, 7));  // from the future
  EXPECT_TRUE(DatabaseIsOld(-1, 2026, 5, 2));                 // invalid header date: 1899-12-29
}

TEST(ToolsTest, FinallyRunsOnEveryWayOut) {
  int runs = 0;
  {
    const TFinally f([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  try {
    const TFinally f([&] { ++runs; });
    throw EKeslError("x");
  } catch (const EKeslError&) {
  }
  EXPECT_EQ(runs, 2);
}

TEST(FilesTest, ReplaceFileIsAllOrNothing) {
  TTempDir dir;
  const std::string path = dir.Write("db", "old");
  EXPECT_EQ(ReplaceFile(path, "new"), "");
  EXPECT_EQ(ReadWholeFile(path, 100), "new");
  // Refused by the check: the old file stays and no temporary is left.
  std::string checked;
  const std::string refused = ReplaceFile(path, "bad", [&](const std::string& Temp) {
    checked = Temp;
    return ReadWholeFile(Temp, 100) != "bad";
  });
  EXPECT_EQ(refused, "the written file " + checked + " was refused");
  EXPECT_THAT(checked, testing::MatchesRegex(path + "\\.kesl-tmp-[A-Za-z0-9]{6}"));
  EXPECT_EQ(ReadWholeFile(path, 100), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Dir()), {}), 1);
  // A folder that cannot be written.
  EXPECT_EQ(ReplaceFile(dir.Path("none/db"), "x"),
            "cannot write " + dir.Path("none/db.kesl-tmp-XXXXXX") + ": No such file or directory");
}

// The temporary file goes with a process that SIGTERM, SIGINT or SIGHUP
// ends while it writes; one that a killed run left is removed by the next
// run once it is a minute old and no process holds it.
TEST(FilesTest, TemporaryFilesAreNotLeftBehind) {
  TTempDir dir;
  const std::string path = dir.Write("db", "old");
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    const pid_t pid = fork();
    if (pid == 0) {
      ReplaceFile(path, "new", [signal](const std::string&) {
        ::raise(signal);
        return true;
      });
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Dir()), {}), 1) << signal;
    EXPECT_EQ(ReadWholeFile(path, 100), "old");
  }
  // Left by runs killed outright: one old, one old but held by a running
  // process (this one), one just made; and files that are not ours.
  const std::string left = dir.Write("db.kesl-tmp-AbC123", "x");
  const std::string held = dir.Write("db.kesl-tmp-HeLd99", "x");
  const std::string fresh = dir.Write("db.kesl-tmp-NeW000", "x");
  const std::string mine = dir.Write("db.kesl-tmp-mine", "x");
  const std::string other = dir.Write("other.kesl-tmp-AbC123", "x");
  const auto age = [](const std::string& Path) {
    const std::filesystem::file_time_type old =
        std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5);
    std::filesystem::last_write_time(Path, old);
  };
  for (const std::string& p : {left, held, mine, other}) age(p);
  const int lock = ::open(held.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  EXPECT_EQ(ReplaceFile(path, "new"), "");
  ::close(lock);
  EXPECT_FALSE(std::filesystem::exists(left));
  for (const std::string& p : {held, fresh, mine, other}) {
    EXPECT_TRUE(std::filesystem::exists(p)) << p;
  }
  EXPECT_EQ(ReadWholeFile(path, 100), "new");
}

TEST(FilesTest, ReplaceFileKeepsTheModeAndFollowsNoPlantedLink) {
  TTempDir dir;
  const std::string path = dir.Write("db", "old");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(ReplaceFile(path, "new"), "");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(ReplaceFile(dir.Path("fresh"), "x"), "");
  ASSERT_EQ(::stat(dir.Path("fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  // A link planted at the name the temporary file once had is left alone,
  // and so is what it points to.
  const std::string victim = dir.Write("victim", "keep");
  std::filesystem::create_symlink(victim, path + ".tmp");
  EXPECT_EQ(ReplaceFile(path, "newer"), "");
  EXPECT_EQ(ReadWholeFile(victim, 100), "keep");
  EXPECT_TRUE(std::filesystem::is_symlink(path + ".tmp"));
  EXPECT_EQ(ReadWholeFile(path, 100), "newer");
}

TEST(FilesTest, TwoWritersAtOnceLeaveOneWholeFile) {
  TTempDir dir;
  const std::string path = dir.Path("db");
  const std::string a(1 << 20, 'a'), b(1 << 20, 'b');
  for (int round = 0; round < 20; ++round) {
    std::thread other([&] { EXPECT_EQ(ReplaceFile(path, b), ""); });
    EXPECT_EQ(ReplaceFile(path, a), "");
    other.join();
    const std::string now = ReadWholeFile(path, 2 << 20);
    ASSERT_TRUE(now == a || now == b) << round;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Dir()), {}), 1);
}

TEST(FilesTest, NewFoldersAreTheUsersAndARelativeHomeIsNotUsed) {
  TTempDir dir;
  EXPECT_EQ(MakeParentDirs(dir.Path("a/b/db")), "");
  struct stat st {};
  ASSERT_EQ(::stat(dir.Path("a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  const TScopedEnv xdg("XDG_DATA_HOME", nullptr);
  const TScopedEnv home("HOME", "relative/home");
  const struct passwd* user = ::getpwuid(::getuid());
  ASSERT_TRUE(user && user->pw_dir);
  EXPECT_EQ(HomeDir(), user->pw_dir);
  EXPECT_EQ(UserDatabasePath(), std::string(user->pw_dir) + "/.local/share/kesl/country.ip4");
  home.Set("");
  EXPECT_EQ(HomeDir(), user->pw_dir);
}

TEST(FilesTest, ReadWholeFileErrors) {
  TTempDir dir;
  EXPECT_THROW_MSG(ReadWholeFile(dir.Path("missing"), 10), EFOpenError,
                   "Cannot read " + dir.Path("missing") + ": No such file or directory");
  EXPECT_THROW_MSG(ReadWholeFile(dir.Dir(), 10), EFOpenError,
                   "Cannot read " + dir.Dir() + ": Is a directory");
  const std::string big = dir.Write("big", std::string(11, 'x'));
  EXPECT_THROW_MSG(ReadWholeFile(big, 10), EReadError,
                   "Cannot read " + big + ": larger than 10 bytes");
  EXPECT_EQ(ReadWholeFile(big, 11), std::string(11, 'x'));
}

TEST(FilesTest, DatabaseSearchPathTakesTheFirstThatExists) {
  TTempDir dir;
  const std::string beside = ExecutableDir() + "country.ip4";
  const std::string env = dir.Path("env.ip4");
  const TScopedEnv kesl("KESL_DB", env.c_str());
  const TScopedEnv xdg("XDG_DATA_HOME", dir.Dir().c_str());
  const std::string user = dir.Path("kesl/country.ip4");
  EXPECT_EQ(UserDatabasePath(), user);
  const std::vector<std::string> path = DatabaseSearchPath();
  ASSERT_GE(path.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(path.begin(), path.begin() + 3),
            (std::vector<std::string>{env, user, beside}));
  EXPECT_EQ(path[3], ExecutableDir() + "../share/kesl/country.ip4");
  EXPECT_EQ(FindDatabase(), beside);  // none exists
  EXPECT_EQ(MakeParentDirs(user), "");
  dir.Write("kesl/country.ip4", "user");
  EXPECT_EQ(FindDatabase(), user);
  dir.Write("env.ip4", "env");
  EXPECT_EQ(FindDatabase(), env);
  // A relative XDG_DATA_HOME is not used; HOME stands in.
  xdg.Set("relative");
  const TScopedEnv home("HOME", dir.Dir().c_str());
  EXPECT_EQ(UserDatabasePath(), dir.Path(".local/share/kesl/country.ip4"));
}

TEST(Md5Test, KnownDigests) {
  // RFC 1321's test suite, and lengths around the padding's block edge.
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(
      Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
      "57edf4a22be3c955ac49da2e2107b67a");
  EXPECT_EQ(Md5Hex(std::string(55, 'a')), "ef1772b6dff9a122358552954ad0df65");
  EXPECT_EQ(Md5Hex(std::string(56, 'a')), "3b0c8ac703f828b04c6c197006d17218");
  EXPECT_EQ(Md5Hex(std::string(64, 'a')), "014842d480b571495a4a0363793f7367");
}

TEST(ToolsTest, DateOfTime) {
  EXPECT_EQ(DateOfTime(0), 19700101u);
  EXPECT_EQ(DateOfTime(951782400), 20000229u);   // a leap day
  EXPECT_EQ(DateOfTime(1798761599), 20261231u);  // the last second of a year
  EXPECT_EQ(DateOfTime(-1), 19691231u);
}

// Block dates as the registries write them: eight digits that make a real
// day, read the same wherever a file, an option or a header gives one.
TEST(ToolsTest, EightDigitDatesReadAndWritten) {
  EXPECT_EQ(ReadDate8("20000229"), 20000229u);
  for (const char* bad : {"20030229", "2003-02-01", "0000101", "200302011", " 20030201", "+2003020",
                          "00000101", "20031301", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ReadDate8(bad), 0u);
  }
  const auto header = [](const char* Text) {
    return Date8Bytes(reinterpret_cast<const unsigned char*>(Text));
  };
  EXPECT_EQ(header("20030501"), 37742);
  EXPECT_EQ(header("20030229"), -1);
  // A header's bytes are not checked to be digits: ':' counts as ten.
  EXPECT_EQ(header("2003050:"), EncodeDayNumber(2003, 5, 10));
  EXPECT_EQ(Date8Text(20110811), "2011-08-11");
  EXPECT_EQ(Date8Text(0), "");
}

TEST(ResolveTest, NumbersFirstThenTheInstalledResolver) {
  TFakeResolver fake;
  fake.Addresses["host.example"] = 0x0A000001;
  fake.Failures["sys.example"] = {EAI_SYSTEM, ResolverErrorText(EAI_SYSTEM, ENOENT)};
  TQueryAddress a;
  EXPECT_EQ(ResolveQuery("127.1", a).Code, 0);
  EXPECT_EQ(a.IPv4, 0x7F000001u);  // host byte order
  EXPECT_EQ(ResolveQuery("0x7f.1", a).Code, 0);
  EXPECT_EQ(a.IPv4, 0x7F000001u);
  EXPECT_TRUE(fake.Asked.empty());
  std::vector<bool> waits;
  EXPECT_EQ(ResolveQuery("host.example", a, false, [&](bool W) { waits.push_back(W); }).Code, 0);
  EXPECT_EQ(a.IPv4, 0x0A000001u);
  EXPECT_FALSE(a.IsIPv6);
  EXPECT_EQ(waits, (std::vector<bool>{true, false}));
  const TResolveResult unknown = ResolveQuery("nope.example", a);
  EXPECT_EQ(unknown.Code, EAI_NONAME);
  EXPECT_EQ(unknown.Error, "Name or service not known");
  EXPECT_EQ(ResolveQuery("sys.example", a).Error, "No such file or directory");
  EXPECT_EQ(ResolveQuery("255.255.255.255", a).Code, EAI_NONAME);  // all ones is no number
  EXPECT_EQ(fake.Asked, (std::vector<std::string>{"host.example", "nope.example", "sys.example",
                                                  "255.255.255.255"}));
}

// The two halves of ResolveQuery, for a caller that has read the numeric
// forms already: the names half asks the resolver whatever the text, and
// an IPv4-mapped answer is the IPv4 address it holds.
TEST(ResolveTest, HostNamesGoStraightToTheResolver) {
  TFakeResolver fake;
  fake.Addresses6["mapped.example"] = (TIPv6Address{0xFFFF} << 32) | 0xC0000201;
  TQueryAddress a;
  EXPECT_EQ(ResolveHostName("127.1", a).Code, EAI_NONAME);
  ASSERT_EQ(ResolveHostName("mapped.example", a).Code, 0);
  EXPECT_FALSE(a.IsIPv6);
  EXPECT_EQ(a.IPv4, 0xC0000201u);
  EXPECT_EQ(fake.Asked, (std::vector<std::string>{"127.1", "mapped.example"}));
  EXPECT_FALSE(ReadNumericAddress("mapped.example", a));
  ASSERT_TRUE(ReadNumericAddress("::FFFF:10.0.0.2", a));
  EXPECT_FALSE(a.IsIPv6);
  EXPECT_EQ(a.IPv4, 0x0A000002u);
  // Only ::ffff:0:0/96 holds IPv4 addresses: not its neighbours.
  uint32_t ip = 0;
  EXPECT_TRUE(UnmapIPv4((TIPv6Address{0xFFFF} << 32) | 0xFFFFFFFF, ip));
  EXPECT_EQ(ip, 0xFFFFFFFFu);
  EXPECT_FALSE(UnmapIPv4(TIPv6Address{0xFFFE} << 32 | 0xFFFFFFFF, ip));
  EXPECT_FALSE(UnmapIPv4(TIPv6Address{0x1FFFF} << 32, ip));
  EXPECT_FALSE(UnmapIPv4(0xC0000201, ip));  // ::192.0.2.1, the old compatible form
}

TEST(ResolveTest, IPv6TextIsNumericAndNamesGiveIPv4FirstUnlessIPv6IsPreferred) {
  TFakeResolver fake;
  TIPv6Address v6 = 0;
  ASSERT_TRUE(StrToIPv6("2001:db8::53", v6));
  fake.Addresses["both.example"] = 0x0A000001;
  fake.Addresses6["both.example"] = v6;
  fake.Addresses6["six.example"] = v6;
  TQueryAddress a;
  ASSERT_EQ(ResolveQuery("2001:DB8:0:0::53", a).Code, 0);
  EXPECT_TRUE(a.IsIPv6);
  EXPECT_TRUE(a.IPv6 == v6);
  EXPECT_TRUE(fake.Asked.empty());
  for (const char* text : {"2001:db8::1%eth0", "2001:db8:::1", "1:2:3:4:5:6:7:8:9", "[::1]"}) {
    EXPECT_NE(ResolveQuery(text, a).Code, 0) << text;  // not numeric: a name nobody knows
  }
  ASSERT_EQ(ResolveQuery("both.example", a).Code, 0);
  EXPECT_FALSE(a.IsIPv6);
  EXPECT_EQ(a.IPv4, 0x0A000001u);
  ASSERT_EQ(ResolveQuery("both.example", a, true).Code, 0);
  EXPECT_TRUE(a.IsIPv6);
  ASSERT_EQ(ResolveQuery("six.example", a).Code, 0);
  EXPECT_TRUE(a.IsIPv6 && a.IPv6 == v6);
  // An IPv4-mapped address is the IPv4 address it holds.
  ASSERT_EQ(ResolveQuery("::FFFF:10.0.0.2", a).Code, 0);
  EXPECT_FALSE(a.IsIPv6);
  EXPECT_EQ(a.IPv4, 0x0A000002u);
}

TEST(ResolveTest, SystemResolverRefusesZeroBytesWithoutAsking) {
  THostAddresses found;
  const TResolveResult r = SystemResolveHost(std::string("a\0b", 3), found);
  EXPECT_EQ(r.Code, EAI_NONAME);
  EXPECT_EQ(r.Error, TrimErrorText(gai_strerror(EAI_NONAME)));
  EXPECT_EQ(TrimErrorText("Host not found. \r\n"), "Host not found");
}

TEST(ToolsTest, ControlCharactersFoundAnywhereAndWrittenOut) {
  // Every byte value at every place of texts one to twenty bytes long,
  // against the plain definition: the check reads eight bytes at a time.
  for (size_t length = 1; length <= 20; ++length) {
    for (size_t at = 0; at < length; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string text(length, 'a');
        text[at] = static_cast<char>(byte);
        const bool control = byte < 0x20 || byte == 0x7F;
        ASSERT_EQ(HasControlChars(text), control) << length << " " << at << " " << byte;
      }
    }
  }
  EXPECT_FALSE(HasControlChars(""));
  EXPECT_FALSE(HasControlChars("caf\xC3\xA9 \x80\xFF ~ 8.8.8.8"));
  EXPECT_EQ(EscapeControlChars(std::string("a\tb\r\n\x1b\x7f\0z", 9)),
            "a\\x09b\\x0d\\x0a\\x1b\\x7f\\x00z");
  EXPECT_EQ(EscapeControlChars("plain"), "plain");
}
