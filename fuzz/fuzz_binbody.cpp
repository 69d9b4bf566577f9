// Binary bodies through LoadFromBinStream, then sorting and linking.
#include <string>

#include "fuzzcheck.h"
#include "streams/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TIPv4Database db;
  TMemoryStream s(std::string(reinterpret_cast<const char*>(Data), Size));
  bool loaded = false;
  ExpectOwnErrors([&] {
    db.LoadFromBinStream(s);
    db.SortAndLink();
    loaded = true;
  });
  // Memory follows the input: no record is made from missing bytes.
  FUZZ_CHECK(static_cast<size_t>(db.BlockCount()) * 16 <= Size);
  if (loaded) CheckLoaded(db);
  // Whatever the trailer said of the sources reads back as it is written.
  const std::string written = EncodeSources(db.Sources);
  FUZZ_CHECK(DecodeSources(written).size() == db.Sources.size());
  FUZZ_CHECK(EncodeSources(DecodeSources(written)) == written);
  return 0;
}
