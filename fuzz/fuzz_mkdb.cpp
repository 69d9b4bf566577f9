// kesl-mkdb's input readers: delegation and range files, compressed or not,
// and the iso-codes country names.
#include <string>

#include "dbbuild/compiler.h"
#include "dbbuild/isocodes.h"
#include "fuzzcheck.h"
#include "streams/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string_view text(reinterpret_cast<const char*>(Data), Size);
  ExpectOwnErrors([&] {
    TDatabaseCompiler c;
    c.AddData("input", text);
    c.Finish();
    const auto& blocks = c.Blocks();
    for (size_t i = 1; i < blocks.size(); ++i) {
      // Finished: sorted, and no block reaches into the next.
      FUZZ_CHECK(uint64_t{blocks[i - 1].Start} + blocks[i - 1].Count <= blocks[i].Start);
    }
    for (const TInputBlock& b : blocks) FUZZ_CHECK(b.Count > 0 && b.Registry >= 1);
    // What it writes, the loader reads.
    TIPv4Database db;
    TMemoryStream body(c.BinaryBody());
    db.LoadFromBinStream(body);
    db.SortAndLink();
    FUZZ_CHECK(static_cast<size_t>(db.BlockCount()) == blocks.size());
  });
  const auto names = ParseIsoCountryNames(text);
  for (const auto& [code, name] : names) FUZZ_CHECK(!Utf8ToLatin1(name).empty() || name.empty());
  return 0;
}
