// Writing kesl-lookup's answers to a descriptor while it makes the next
// ones: a large piece is handed to a thread of its own, so that the
// kernel's copy of it (most of the time of annotating a log into a file)
// overlaps the work on what comes after it. Small pieces, a helper's
// answer for one, go out at once, after what went before them.
#pragma once

#include <cstddef>
#include <string>

#include "cli/workthread.h"

class TFdWriter {
 public:
  explicit TFdWriter(int Fd);

  // Pieces of this size or more are written in the background: a hand-over
  // costs a copy (from Write) and a wake-up of the thread, little beside
  // the kernel's copy of a piece this large. A stream's answers go out in
  // pieces of 64 kB, written at once.
  static constexpr size_t kBackgroundAt = 256 * 1024;

  // Writes Size bytes, in order after all written before. One thread
  // writes through a writer (Write and Hand).
  void Write(const char* Data, size_t Size);
  // The same for Text, which it may take for its own, leaving Text empty
  // (with room of its own for the next piece): no copy.
  void Hand(std::string& Text);
  // Waits until everything handed in is written.
  void Wait() { FThread.Wait(); }
  // The errno of the first write that failed (after which nothing more is
  // written), or 0; waits first.
  int Error() {
    Wait();
    return FError;
  }

 private:
  // Writes all of Data unless a write failed before; sets FError when it
  // cannot.
  void WriteNow(const char* Data, size_t Size);

  const int FFd;
  // Set by the thread, or by the caller while the thread has nothing to do.
  int FError = 0;
  // A large piece given by Write, copied to be handed in.
  std::string FCopy;
  TWorkThread<std::string> FThread;
};
