#include "streams/ZLibStream.h"

#include <zlib.h>

namespace {

// zlib's texts, indexed by 2 - code.
const char* const kZLibMessages[] = {
    "need dictionary",     "stream end",   "",
    "file error",          "stream error", "data error",
    "insufficient memory", "buffer error", "incompatible version",
};

constexpr int32_t kInBufferSize = 65536;

}  // namespace

struct TZLibStream::TState {
  z_stream Z{};
  unsigned char InBuffer[kInBufferSize];
};

int32_t ZCheck(int32_t Code) { return CheckCodecCode<EZLibError>(Code, 2, kZLibMessages); }

TZLibStream::TZLibStream(TStream& Source)
    : Source(Source), SourcePos(Source.Position()), FState(std::make_unique<TState>()) {
  FState->Z.next_in = FState->InBuffer;
  FState->Z.avail_in = 0;
  ZCheck(inflateInit_(&FState->Z, "1.2.1", static_cast<int>(sizeof(z_stream))));
}

TZLibStream::~TZLibStream() { inflateEnd(&FState->Z); }

int32_t TZLibStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  z_stream& z = FState->Z;
  z.next_out = static_cast<Bytef*>(Buffer);
  z.avail_out = static_cast<uInt>(Count);
  if (Source.Position() != SourcePos) Source.SetPosition(SourcePos);
  int32_t last = Z_OK;
  while (z.avail_out > 0 && last != Z_STREAM_END) {
    if (z.avail_in == 0) {
      const int32_t got = Source.Read(FState->InBuffer, kInBufferSize);
      if (got <= 0) return Count - static_cast<int32_t>(z.avail_out);
      z.avail_in = static_cast<uInt>(got);
      z.next_in = FState->InBuffer;
      SourcePos = Source.Position();
    }
    last = ZCheck(inflate(&z, Z_NO_FLUSH));
    // Without a dictionary such a stream can never make progress.
    if (last == Z_NEED_DICT) throw EZLibError(kZLibMessages[0]);
  }
  if (last == Z_STREAM_END && z.avail_in > 0) {
    SourcePos = Source.Seek(-static_cast<int32_t>(z.avail_in), soCurrent);
    z.avail_in = 0;
  }
  return Count - static_cast<int32_t>(z.avail_out);
}

int32_t TZLibStream::Write(const void*, int32_t) { throw EZLibError("Invalid ZStream operation!"); }

int32_t TZLibStream::Seek(int32_t, TSeekOrigin) { throw EZLibError("Invalid ZStream operation!"); }
