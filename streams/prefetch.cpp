#include "streams/prefetch.h"

#include <cstring>

#include "tools/errors.h"

TPrefetchStream::TPrefetchStream(TStream& Source, int32_t Piece, size_t Ahead)
    : FSource(Source), FPiece(Piece), FAhead(Ahead), FThread([this] { Produce(); }) {}

TPrefetchStream::~TPrefetchStream() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStop = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TPrefetchStream::Produce() {
  for (;;) {
    // The pieces are used again: a load makes a few, not one per piece.
    std::string piece;
    {
      std::lock_guard<std::mutex> lock(FMutex);
      if (!FFree.empty()) {
        piece = std::move(FFree.back());
        FFree.pop_back();
      }
    }
    piece.resize(static_cast<size_t>(FPiece));
    std::exception_ptr error;
    int32_t got = 0;
    try {
      got = FSource.Read(piece.data(), FPiece);
    } catch (...) {
      error = std::current_exception();
    }
    piece.resize(static_cast<size_t>(got > 0 ? got : 0));
    std::unique_lock<std::mutex> lock(FMutex);
    FChanged.wait(lock, [this] { return FStop || FReady.size() < FAhead; });
    if (FStop) return;
    if (!piece.empty()) FReady.push_back(std::move(piece));
    if (error || got < FPiece) {
      FError = error;
      FEnded = true;
      FChanged.notify_all();
      return;
    }
    FChanged.notify_all();
  }
}

bool TPrefetchStream::NextPiece() {
  std::unique_lock<std::mutex> lock(FMutex);
  FChanged.wait(lock, [this] { return !FReady.empty() || FEnded; });
  if (FReady.empty()) {
    if (FError) std::rethrow_exception(FError);
    return false;
  }
  if (FCurrent.capacity() >= static_cast<size_t>(FPiece)) FFree.push_back(std::move(FCurrent));
  FCurrent = std::move(FReady.front());
  FReady.pop_front();
  FAt = 0;
  lock.unlock();
  FChanged.notify_all();
  return true;
}

int32_t TPrefetchStream::Read(void* Buffer, int32_t Count) {
  auto* to = static_cast<char*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    if (FAt == FCurrent.size() && !NextPiece()) break;
    const size_t n = std::min(FCurrent.size() - FAt, static_cast<size_t>(Count - done));
    std::memcpy(to + done, FCurrent.data() + FAt, n);
    FAt += n;
    done += static_cast<int32_t>(n);
  }
  FPosition += done;
  return done;
}

int32_t TPrefetchStream::Write(const void*, int32_t) {
  throw EReadError("A stream read ahead cannot be written");
}

int32_t TPrefetchStream::Seek(int32_t Offset, TSeekOrigin Origin) {
  if (Offset == 0 && Origin == soCurrent) return static_cast<int32_t>(FPosition);
  throw EReadError("Stream read error");
}
