// Standard input of IPv4 addresses, a line each, that cuts the database
// file short once Before lines have been read, the way a copy over it
// would, and then gives After more: for the runs that follow their
// database on disk.
#pragma once

#include <algorithm>
#include <cstddef>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/lookupio.h"
#include "ipdb/encoder.h"
#include "testutil.h"
#include "tools/address.h"

class TTruncatingIO : public TLookupIO {
 public:
  TTruncatingIO(std::string Db, size_t Before, size_t After)
      : FDb(std::move(Db)), FBefore(Before), FAfter(After) {}
  // The database file the input's addresses fall in: 20,000 blocks of 256
  // from 10.0.0.0, all US, some pages of them, so that most lie past the
  // cut.
  static std::string Database() {
    std::vector<TIPv4Block> blocks;
    for (uint32_t i = 0; i < 20000; ++i) blocks.push_back(MakeBlock(0x0A000000 + i * 256, 256));
    const std::string body =
        EncodeBinBody({}, {}, blocks) + EncodeTrailer({{ttSortedDisjoint, ""}});
    return EncodeDatabaseFile(true, cmNone, "20261201", body);
  }
  // Line I of the input, without its end: addresses all over the blocks.
  static std::string Address(size_t I) { return IPToStr(0x0A000001 + (I * 7919 % 20000) * 256); }
  size_t Read(char* Buffer, size_t Size) override {
    if (FSent == FBefore) {
      EXPECT_EQ(::truncate(FDb.c_str(), 4096), 0);
    }
    if (FSent == FBefore + FAfter) return 0;
    const std::string line = Address(FSent++) + "\n";
    line.copy(Buffer, std::min(Size, line.size()));
    return std::min(Size, line.size());
  }
  void WriteOut(const char* Data, size_t Size) override {
    Out().write(Data, static_cast<std::streamsize>(Size));
  }
  std::ostream& Out() override { return FOut; }
  std::ostream& Err() override { return FErr; }
  std::ostringstream FOut, FErr;

 private:
  std::string FDb;
  size_t FBefore, FAfter, FSent = 0;
};
