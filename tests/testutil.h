// Helpers shared by the test suites.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <netdb.h>
#include <string>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ipv4base/ipv4base.h"
#include "ipv4base/registries.h"
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
    FOld = SetHostResolver([this](const std::string& Host, uint32_t& NetworkOrder) {
      Asked.push_back(Host);
      if (const auto f = Failures.find(Host); f != Failures.end()) return f->second;
      const auto a = Addresses.find(Host);
      if (a == Addresses.end()) return TResolveResult{EAI_NONAME, "Name or service not known"};
      NetworkOrder = __builtin_bswap32(a->second);
      return TResolveResult{};
    });
  }
  ~TFakeResolver() { SetHostResolver(std::move(FOld)); }
  TFakeResolver(const TFakeResolver&) = delete;
  TFakeResolver& operator=(const TFakeResolver&) = delete;

  std::map<std::string, uint32_t> Addresses;  // host byte order
  std::map<std::string, TResolveResult> Failures;
  std::vector<std::string> Asked;

 private:
  THostResolver FOld;
};
