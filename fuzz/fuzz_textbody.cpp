// Text bodies through LoadFromTextStream, and single lines through ParseTextLine.
#include <string>

#include "fuzzcheck.h"
#include "streams/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  {
    TIPv4Database db;
    TMemoryStream s(text);
    bool read = false;
    ExpectOwnErrors([&] {
      db.LoadFromTextStream(s);
      read = true;
    });
    for (const TIPv4Block& b : db.Blocks) {
      FUZZ_CHECK(b.Count != 0 && b.StartIP != 0xFFFFFFFFu);
      FUZZ_CHECK(b.CenterID >= 1 && b.CenterID <= 5);
    }
    if (read) {
      bool linked = false;
      ExpectOwnErrors([&] {
        db.SortAndLink();
        linked = true;
      });
      if (linked) CheckLoaded(db);
    }
  }
  // The same bytes as one line, up to the first zero byte.
  TIPv4Database db;
  ExpectOwnErrors([&] { db.ParseTextLine(text.c_str()); });
  FUZZ_CHECK(db.BlockCount() <= 1);
  return 0;
}
