// Reading a stream ahead on a thread of its own: while the reader parses
// one piece, the next is already being decompressed on the other core.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "streams/stream.h"

class TPrefetchStream : public TStream {
 public:
  // Reads Source (which nothing else may touch meanwhile) ahead in pieces
  // of Piece bytes, at most Ahead of them waiting.
  explicit TPrefetchStream(TStream& Source, int32_t Piece = 1 << 18, size_t Ahead = 3);
  ~TPrefetchStream() override;

  // As the source reads; an error the source raised is raised here, after
  // the bytes before it.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Not supported: raises EReadError.
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Only the position (Seek(0, soCurrent)); anything else raises
  // EReadError.
  int32_t Seek(int32_t Offset, TSeekOrigin Origin) override;

 private:
  void Produce();
  // The next piece into FCurrent; false at the end of the data.
  bool NextPiece();

  TStream& FSource;
  const int32_t FPiece;
  const size_t FAhead;
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<std::string> FReady;
  std::vector<std::string> FFree;  // read pieces, for the next ones
  bool FEnded = false;             // the source has no more
  bool FStop = false;              // the reader is gone
  std::exception_ptr FError;
  std::string FCurrent;  // the piece being read
  size_t FAt = 0;
  int64_t FPosition = 0;
  std::thread FThread;
};
