// The IPv6 section of a binary body, read both ways. The input is the
// section's data (count and records) and a few bytes for the probes; it is
// put into a plain file whose three sections name the test's countries and
// registries. The loader either refuses it with one of the program's own
// messages or gives blocks that ascend without overlap, each linked, and
// searches that agree with a scan; the in-place reader never reads outside
// the bytes and answers only with a block of the file that holds the
// address, the loader's when it loaded.
#include <cstring>
#include <string>

#include "fuzzcheck.h"
#include "ipdb/encoder.h"
#include "ipdb/inplace.h"
#include "streams/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string section(reinterpret_cast<const char*>(Data), Size);
  // The entry's length is the data's, but the first bytes may say another
  // count: both are checked against each other.
  const std::string body = EncodeBinBody({{7, "SEVENTH"}}, {}, {}) +
                           EncodeTrailer({{ttSortedDisjoint, {}}, {ttIPv6Blocks, section}});
  const std::string file = EncodeDatabaseFile(true, cmNone, "20261201", body);
  // Addresses to ask: every start and last in the data, one off each, and
  // the ends of the space.
  std::vector<TIPv6Address> probes = {0, ~TIPv6Address{0}};
  for (size_t at = 4; at + 32 <= Size && probes.size() < 64; at += kIPv6RecordSize) {
    for (const size_t field : {size_t{0}, size_t{16}}) {
      const TIPv6Address a = IPv6FromBytes(Data + at + field);
      probes.insert(probes.end(), {a - 1, a, a + 1});
    }
  }

  TIPv4Database db;
  bool loaded = true;
  try {
    TMemoryStream stream(body);
    db.LoadFromBinStream(stream);
    db.SortAndLink();
  } catch (const EKeslError&) {
    loaded = false;
  }
  if (loaded) CheckLoaded6(db, probes);

  // A copy of its own size, so that AddressSanitizer sees any read past it.
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[file.size()]);
  std::memcpy(bytes.get(), file.data(), file.size());
  const auto mapped = TInPlaceDatabase::FromMemory(bytes.get(), file.size());
  if (!mapped) return 0;
  FUZZ_CHECK(static_cast<size_t>(mapped->IPv6BlockCount()) * kIPv6RecordSize <= Size);
  for (const TIPv6Address a : probes) {
    TIPv6Block b;
    const bool found = mapped->Find(a, b);
    if (found) {
      FUZZ_CHECK(b.Start <= a && a <= b.Last);
      FUZZ_CHECK(b.Country && b.Center && b.Country->Code == b.CountryCode);
    }
    if (loaded) FUZZ_CHECK(found == (db.IPv6.Find(a) >= 0));
  }
  return 0;
}
