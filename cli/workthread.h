// A thread of its own for one step of kesl-lookup's work on a stream
// (answering a piece of a log, writing it out), so that it overlaps the
// step before it: items are handed over one at a time and worked on in
// the order given. At most one waits while another is worked on, so a
// program that makes them faster than they are done waits, holding no more
// than three. One thread hands items over.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

template <typename TItem>
class TWorkThread {
 public:
  explicit TWorkThread(std::function<void(TItem&)> Work) : FWork(std::move(Work)) {}
  // Waits for what is under way (an error it meets is then lost: Wait
  // first to hear of it).
  ~TWorkThread() {
    if (!FThread.joinable()) return;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FChanged.wait(lock, [this] { return Idle(); });
      FStop = true;
    }
    FChanged.notify_all();
    FThread.join();
  }
  TWorkThread(const TWorkThread&) = delete;
  TWorkThread& operator=(const TWorkThread&) = delete;

  // Hands Item over; Item is then one the work was done with (or a new
  // one), to be emptied and filled again. Waits while another item waits.
  // Throws what the work threw, after which nothing more is worked on.
  void Hand(TItem& Item) {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [this] { return !FHasWaiting; });
    if (FError) std::rethrow_exception(FError);
    std::swap(FWaiting, Item);
    FHasWaiting = true;
    if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
    lock.unlock();
    FChanged.notify_all();
  }
  // Waits until every item handed over is done; throws what the work
  // threw.
  void Wait() {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [this] { return Idle(); });
    if (FError) std::rethrow_exception(FError);
  }

 private:
  bool Idle() const { return !FHasWaiting && !FBusy; }
  void Run() {
    TItem item{};
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
      FChanged.wait(lock, [this] { return FStop || FHasWaiting; });
      if (!FHasWaiting) return;
      // The last item done goes back in exchange.
      std::swap(item, FWaiting);
      FHasWaiting = false;
      FBusy = true;
      const bool failed = FError != nullptr;
      lock.unlock();
      FChanged.notify_all();
      std::exception_ptr error;
      if (!failed) {
        try {
          FWork(item);
        } catch (...) {
          error = std::current_exception();
        }
      }
      lock.lock();
      if (error && !FError) FError = error;
      FBusy = false;
      FChanged.notify_all();
    }
  }

  const std::function<void(TItem&)> FWork;
  std::mutex FLock;
  std::condition_variable FChanged;
  TItem FWaiting{};
  bool FHasWaiting = false, FBusy = false, FStop = false;
  std::exception_ptr FError;
  std::thread FThread;
};
