#include "cli/fdwriter.h"

#include <cerrno>
#include <unistd.h>

namespace {

// Writes all of Data: 0, or the errno of the write that failed.
int WriteAll(int Fd, const char* Data, size_t Size) {
  while (Size > 0) {
    const ssize_t n = ::write(Fd, Data, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    Data += n;
    Size -= static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

TFdWriter::~TFdWriter() {
  if (!FThread.joinable()) return;
  {
    std::unique_lock<std::mutex> lock(FLock);
    Idle(lock);
    FStop = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TFdWriter::Write(const char* Data, size_t Size) {
  if (Size < kBackgroundAt) {
    if (Size == 0) return;
    // Nothing else writes while the thread is idle: the lock is held only
    // against a piece handed in by another call, which there is none of.
    std::unique_lock<std::mutex> lock(FLock);
    Idle(lock);
    if (!FError) FError = WriteAll(FFd, Data, Size);
    return;
  }
  FCopy.assign(Data, Size);
  Hand(FCopy);
}

void TFdWriter::Hand(std::string& Text) {
  if (Text.size() < kBackgroundAt) {
    Write(Text.data(), Text.size());
    Text.clear();
    return;
  }
  std::unique_lock<std::mutex> lock(FLock);
  FChanged.wait(lock, [this] { return FWaiting.empty(); });
  // The thread's last piece, emptied, comes back in exchange.
  FWaiting.swap(Text);
  Text.clear();
  if (FError) FWaiting.clear();
  if (!FThread.joinable()) FThread = std::thread(&TFdWriter::Run, this);
  lock.unlock();
  FChanged.notify_all();
}

void TFdWriter::Wait() {
  std::unique_lock<std::mutex> lock(FLock);
  Idle(lock);
}

int TFdWriter::Error() {
  std::unique_lock<std::mutex> lock(FLock);
  Idle(lock);
  return FError;
}

void TFdWriter::Idle(std::unique_lock<std::mutex>& Lock) {
  FChanged.wait(Lock, [this] { return FWaiting.empty() && !FBusy; });
}

void TFdWriter::Run() {
  std::string piece;
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    FChanged.wait(lock, [this] { return FStop || !FWaiting.empty(); });
    if (FWaiting.empty()) return;
    piece.swap(FWaiting);
    FBusy = true;
    const bool failed = FError != 0;
    lock.unlock();
    FChanged.notify_all();
    const int error = failed ? 0 : WriteAll(FFd, piece.data(), piece.size());
    piece.clear();
    lock.lock();
    if (!FError) FError = error;
    FBusy = false;
    FChanged.notify_all();
  }
}
