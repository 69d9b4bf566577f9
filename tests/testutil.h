// Helpers shared by the test suites.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

// Asserts that Statement throws Type whose what() is exactly Message.
#define EXPECT_THROW_MSG(Statement, Type, Message)                                           \
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
