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
  return 0;
}
