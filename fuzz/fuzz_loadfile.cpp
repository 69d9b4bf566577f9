// Whole database files through LoadFromFile: header, compression, either body.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const std::string path = [] {
    char name[] = "/tmp/kesl-fuzz-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(Data, 1, Size, f);
  std::fclose(f);
  TIPv4Database db;
  bool loaded = false;
  ExpectOwnErrors([&] {
    db.LoadFromFile(path);
    loaded = true;
  });
  if (loaded) CheckLoaded(db);
  return 0;
}
