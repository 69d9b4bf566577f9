// The decompressing adapters over arbitrary input, read in varied sizes.
// The first byte picks the adapter and the read size.
#include <string>
#include <vector>

#include "fuzzcheck.h"
#include "streams/ZLibStream.h"
#include "streams/bz2stream.h"
#include "streams/stream.h"

namespace {

template <typename Adapter>
void Drain(Adapter& A, int32_t Step) {
  std::vector<char> buf(static_cast<size_t>(Step));
  size_t total = 0;
  for (;;) {
    const int32_t n = A.Read(buf.data(), Step);
    FUZZ_CHECK(n >= 0 && n <= Step);
    total += static_cast<size_t>(n);
    if (n < Step) break;
    // Decompressed output is bounded here so a bomb cannot stall the run.
    if (total > (64u << 20)) return;
  }
  FUZZ_CHECK(A.Read(buf.data(), Step) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const int32_t step = 1 + (Data[0] >> 1) * 97;
  TMemoryStream src(std::string(reinterpret_cast<const char*>(Data + 1), Size - 1));
  if (Data[0] & 1) {
    ExpectOwnErrors([&] {
      TBZ2Stream z(src, Data[0] & 2);
      Drain(z, step);
    });
  } else {
    ExpectOwnErrors([&] {
      TZLibStream z(src);
      Drain(z, step);
    });
  }
  return 0;
}
