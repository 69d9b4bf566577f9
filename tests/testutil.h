// Helpers shared by the test suites.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <netdb.h>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/registries.h"
#include "tools/resolve.h"

// Asserts that Statement throws Type whose what() is exactly Message.
#define EXPECT_THROW_MSG(Statement, Type, Message) \
  EXPECT_THAT([&] { Statement; }, testing::ThrowsMessage<Type>(testing::StrEq(Message)))

// A folder of its own below the system's temporary folder, removed at the end.
class TTempDir {
 public:
  TTempDir() {
    char pattern[] = "/tmp/kesl-test-XXXXXX";
    FPath = mkdtemp(pattern);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  std::string Path(const std::string& Name) const { return FPath + "/" + Name; }
  std::string Write(const std::string& Name, const std::string& Data) const {
    const std::string p = Path(Name);
    std::ofstream(p, std::ios::binary) << Data;
    return p;
  }
  const std::string& Dir() const { return FPath; }

 private:
  std::string FPath;
};

// Sets an environment variable (or, with nullptr, removes it) for the life
// of the object, and then puts back what was there, also when an assertion
// ends the test early.
class TScopedEnv {
 public:
  TScopedEnv(const char* Name, const char* Value) : FName(Name) {
    if (const char* old = std::getenv(Name)) FOld = old;
    Set(Value);
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;
  ~TScopedEnv() { Set(FOld ? FOld->c_str() : nullptr); }
  void Set(const char* Value) const {
    if (Value) {
      setenv(FName.c_str(), Value, 1);
    } else {
      unsetenv(FName.c_str());
    }
  }

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

// A country code from its two letters, as written: Code("US").
constexpr uint16_t Code(const char* Text) { return StrToCode(Text[0], Text[1]); }

// A block as a body record would hold it.
inline TIPv4Block MakeBlock(uint32_t Start, uint32_t Count, const char* Country = "US",
                            uint16_t Center = kArinID, uint32_t Date = 0) {
  TIPv4Block b;
  b.StartIP = Start;
  b.Count = Count;
  b.CountryCode = Code(Country);
  b.CenterID = Center;
  b.Date = Date;
  return b;
}

// A 32-bit value as the file format stores it.
inline std::string Le32(int64_t V) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((static_cast<uint64_t>(V) >> (8 * i)) & 255);
  return s;
}

// Stands in for the system's resolver while it lives: names it knows give
// their address, names given a failure give it, any other name fails as an
// unknown host does. It notes every name it is asked for.
class TFakeResolver {
 public:
  TFakeResolver() {
    FOld = SetHostResolver([this](const std::string& Host, THostAddresses& Found) {
      // A resolver that does not answer, until released.
      while (Hold) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      // Abandoned resolutions may be released together, on threads of
      // their own.
      {
        const std::lock_guard<std::mutex> lock(FAskedLock);
        Asked.push_back(Host);
      }
      if (const auto f = Failures.find(Host); f != Failures.end()) return f->second;
      const auto a = Addresses.find(Host);
      const auto a6 = Addresses6.find(Host);
      if (a == Addresses.end() && a6 == Addresses6.end()) {
        return TResolveResult{EAI_NONAME, "Name or service not known"};
      }
      if (a != Addresses.end()) Found = {true, __builtin_bswap32(a->second)};
      if (a6 != Addresses6.end()) Found.HasIPv6 = true, Found.IPv6 = a6->second;
      return TResolveResult{};
    });
  }
  ~TFakeResolver() { SetHostResolver(std::move(FOld)); }
  TFakeResolver(const TFakeResolver&) = delete;
  TFakeResolver& operator=(const TFakeResolver&) = delete;

  std::map<std::string, uint32_t> Addresses;  // host byte order
  std::map<std::string, TIPv6Address> Addresses6;
  std::map<std::string, TResolveResult> Failures;
  std::vector<std::string> Asked;
  std::atomic<bool> Hold{false};
  std::mutex FAskedLock;

 private:
  THostResolver FOld;
};

// Peak-memory limits are those of the normal build. AddressSanitizer's
// allocator, with its redzones and quarantine, needs more for the same work
// (1.6 times as much for the largest valid file).
#if defined(__SANITIZE_ADDRESS__)
#define KESL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESL_UNDER_ASAN 1
#endif
#endif
#ifdef KESL_UNDER_ASAN
constexpr double kPeakLimitScale = 2.0;
#else
constexpr double kPeakLimitScale = 1.0;
#endif

// What a piece of work did in a process of its own: its text result and the
// resident memory it added at its peak.
struct TChildRun {
  std::string Result;
  double PeakMB = 0;
  bool Crashed = true;
};

// Runs Body in a forked child, so that its peak memory is its own and a
// crash or an exit does not end the test.
inline TChildRun RunInChild(const std::function<std::string()>& Body) {
  auto residentMB = [] {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
  };
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const double before = residentMB();
    const std::string result = Body();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    const std::string out =
        std::to_string(static_cast<double>(ru.ru_maxrss) / 1024.0 - before) + "\n" + result;
    if (write(fds[1], out.data(), out.size()) < 0) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  TChildRun run;
  const size_t eol = out.find('\n');
  run.Crashed = !WIFEXITED(status) || WEXITSTATUS(status) != 0 || eol == std::string::npos;
  if (run.Crashed) return run;
  run.PeakMB = std::stod(out.substr(0, eol));
  run.Result = out.substr(eol + 1);
  return run;
}
