// Read-only stream that decompresses a bzip2 stream taken from a source.
#pragma once

#include <cstdint>
#include <memory>

#include "streams/stream.h"
#include "tools/errors.h"

class EBZ2Error : public EKeslError {
 public:
  using EKeslError::EKeslError;
};

// Passes zero and positive libbz2 codes through; a negative code raises
// EBZ2Error with the text for it ("data error", "data error magic", ...).
int32_t BZ2Check(int32_t Code);

class TBZ2Stream : public TStream {
 public:
  // Binds to Source, which is not owned and must outlive the adapter.
  // Small selects libbz2's slower, low-memory decompressor.
  TBZ2Stream(TStream& Source, bool Small);
  ~TBZ2Stream() override;

  // Decompresses into Buffer; fewer than Count bytes means the compressed
  // data has ended or the source ran dry. After the end every Read gives 0.
  // A negative Count raises "invalid parameters"; corrupt data EBZ2Error.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Neither is supported: both raise EBZ2Error "Invalid ZStream operation!"
  // (Write refuses a negative Count first with "invalid parameters").
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, TSeekOrigin Origin) override;

 private:
  struct TState;
  TStream& Source;
  std::unique_ptr<TState> FState;
};
