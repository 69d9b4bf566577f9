#include "cli/fdwriter.h"

#include <cerrno>
#include <unistd.h>

TFdWriter::TFdWriter(int Fd)
    : FFd(Fd), FThread([this](std::string& Piece) { WriteNow(Piece.data(), Piece.size()); }) {}

void TFdWriter::WriteNow(const char* Data, size_t Size) {
  while (Size > 0 && !FError) {
    const ssize_t n = ::write(FFd, Data, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      FError = n < 0 ? errno : EIO;
      return;
    }
    Data += n;
    Size -= static_cast<size_t>(n);
  }
}

void TFdWriter::Write(const char* Data, size_t Size) {
  if (Size < kBackgroundAt) {
    if (Size == 0) return;
    // After what the thread has; it has nothing to do while this is
    // written, and nothing else writes.
    Wait();
    WriteNow(Data, Size);
    return;
  }
  FCopy.assign(Data, Size);
  Hand(FCopy);
}

void TFdWriter::Hand(std::string& Text) {
  if (Text.size() < kBackgroundAt) {
    Write(Text.data(), Text.size());
  } else {
    FThread.Hand(Text);
  }
  Text.clear();
}
