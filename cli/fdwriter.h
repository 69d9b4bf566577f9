// Writing kesl-lookup's answers to a descriptor while it makes the next
// ones: a large piece is handed to a thread of its own, so that the
// kernel's copy of it (most of the time of annotating a log into a file)
// overlaps the work on what comes after it. Small pieces, a helper's
// answer for one, go out at once, after what went before them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

class TFdWriter {
 public:
  explicit TFdWriter(int Fd) : FFd(Fd) {}
  // Waits for what is under way.
  ~TFdWriter();
  TFdWriter(const TFdWriter&) = delete;
  TFdWriter& operator=(const TFdWriter&) = delete;

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
  void Wait();
  // The errno of the first write that failed (after which nothing more is
  // written), or 0; waits first.
  int Error();

 private:
  void Run();
  // With the lock held: waits until the thread has nothing to do.
  void Idle(std::unique_lock<std::mutex>& Lock);
  // Writes all of Data; false with FError set when it cannot.
  bool WriteNow(const char* Data, size_t Size);

  const int FFd;
  std::mutex FLock;
  std::condition_variable FChanged;
  // A piece waiting for the thread, and whether it is writing one. At most
  // one waits: a program that makes its answers faster than they can be
  // written waits for them, holding no more than two pieces.
  std::string FWaiting;
  bool FBusy = false;
  bool FStop = false;
  // A large piece given by Write, copied to be handed in.
  std::string FCopy;
  int FError = 0;
  std::thread FThread;
};
