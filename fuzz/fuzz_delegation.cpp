// The reader of the registries' extended delegation lines, as the update
// reads a registry's own file: the input is the file's records after a
// right version line. Whatever they hold, the blocks taken are the
// registry's own, no larger than a registry delegates, dated no later than
// tomorrow, sorted and disjoint.
#include <ctime>
#include <string>

#include "dbbuild/compiler.h"
#include "fuzzcheck.h"
#include "ipdb/registries.h"
#include "tools/tools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text = "2.3|ripencc|20261201|100|19830705|20261201|+0100\n" +
                           std::string(reinterpret_cast<const char*>(Data), Size);
  const uint32_t tomorrow = DateOfTime(static_cast<int64_t>(std::time(nullptr)) + 86400);
  ExpectOwnErrors([&] {
    TDatabaseCompiler c;
    c.AddData("delegated-ripencc-extended-latest", text, "ripencc");
    c.Finish(true);
    const auto& blocks = c.Blocks();
    for (size_t i = 0; i < blocks.size(); ++i) {
      const TInputBlock& b = blocks[i];
      FUZZ_CHECK(b.Registry == kRipeID);
      FUZZ_CHECK(b.Count > 0 && b.Count <= (1u << 24));
      FUZZ_CHECK(uint64_t{b.Start} + b.Count <= (uint64_t{1} << 32));
      FUZZ_CHECK(b.Date <= tomorrow);
      if (i > 0) FUZZ_CHECK(uint64_t{blocks[i - 1].Start} + blocks[i - 1].Count <= b.Start);
    }
    const auto& blocks6 = c.Blocks6();
    for (size_t i = 0; i < blocks6.size(); ++i) {
      const TInputBlock6& b = blocks6[i];
      FUZZ_CHECK(b.Registry == kRipeID && b.Start <= b.Last && b.Date <= tomorrow);
      // No registry is given more than a /12.
      FUZZ_CHECK(b.Last - b.Start <= IPv6HostMask(12));
      if (i > 0) FUZZ_CHECK(blocks6[i - 1].Last < b.Start);
    }
  });
  return 0;
}
