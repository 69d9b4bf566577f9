#include "streams/bz2stream.h"

#include <bzlib.h>

namespace {

// The texts for libbz2's codes, indexed by 4 - code.
const char* const kBZ2Messages[] = {
    "end of stream",
    "finish",
    "flush",
    "run",
    "",
    "invlaid sequence",
    "invalid parameters",
    "insufficient memory",
    "data error",
    "data error magic",
    "I/O error",
    "unexpected EOF",
    "out buffer full",
    "invalid config",
};

constexpr int32_t kInBufferSize = 5000;

}  // namespace

struct TBZ2Stream::TState {
  bz_stream Z{};
  char InBuffer[kInBufferSize];
  bool Ended = false;
};

int32_t BZ2Check(int32_t Code) { return CheckCodecCode<EBZ2Error>(Code, 4, kBZ2Messages); }

TBZ2Stream::TBZ2Stream(TStream& Source, bool Small)
    : Source(Source), FState(std::make_unique<TState>()) {
  BZ2Check(BZ2_bzDecompressInit(&FState->Z, 0, Small ? 1 : 0));
  FState->Z.avail_in = 0;
  FState->Z.next_in = FState->InBuffer;
}

// Ending can only fail for a state that was never initialised, which the
// constructor rules out; a destructor must not throw, so the code is dropped.
TBZ2Stream::~TBZ2Stream() { BZ2_bzDecompressEnd(&FState->Z); }

int32_t TBZ2Stream::Read(void* Buffer, int32_t Count) {
  if (Count < 0) BZ2Check(BZ_PARAM_ERROR);
  bz_stream& z = FState->Z;
  z.next_out = static_cast<char*>(Buffer);
  z.avail_out = static_cast<unsigned>(Count);
  while (z.avail_out != 0 && !FState->Ended) {
    if (z.avail_in == 0) {
      const int32_t got = Source.Read(FState->InBuffer, kInBufferSize);
      z.avail_in = static_cast<unsigned>(got > 0 ? got : 0);
      z.next_in = FState->InBuffer;
      if (got <= 0) break;
    }
    if (BZ2Check(BZ2_bzDecompress(&z)) == BZ_STREAM_END) FState->Ended = true;
  }
  return Count - static_cast<int32_t>(z.avail_out);
}

int32_t TBZ2Stream::Write(const void*, int32_t Count) {
  if (Count < 0) BZ2Check(BZ_PARAM_ERROR);
  throw EBZ2Error("Invalid ZStream operation!");
}

int32_t TBZ2Stream::Seek(int32_t, TSeekOrigin) { throw EBZ2Error("Invalid ZStream operation!"); }
