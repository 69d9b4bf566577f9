// Read-only stream that inflates a zlib stream (RFC 1950) taken from a source.
#pragma once

#include <cstdint>
#include <memory>

#include "streams/stream.h"
#include "tools/errors.h"

class EZLibError : public EKeslError {
 public:
  using EKeslError::EKeslError;
};

// Passes zero and positive zlib codes through; a negative code raises
// EZLibError with zlib's text for it ("data error", "buffer error", ...).
int32_t ZCheck(int32_t Code);

class TZLibStream : public TStream {
 public:
  // Binds to Source, which is not owned and must outlive the adapter.
  explicit TZLibStream(TStream& Source);
  ~TZLibStream() override;

  // Inflates into Buffer. Returns fewer than Count bytes once the compressed
  // data has ended (the source is then left on the first byte after it) or
  // the source runs dry. Raises EZLibError on corrupt data, and "need
  // dictionary" for a stream that asks for a preset dictionary.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Neither is supported: both raise EZLibError "Invalid ZStream operation!".
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, TSeekOrigin Origin) override;

 private:
  struct TState;
  TStream& Source;
  int32_t SourcePos;
  std::unique_ptr<TState> FState;
};
