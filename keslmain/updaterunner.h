// The window's update from the registries: the download and the compiling
// run on a thread of their own while the window's events go on being
// processed, so that it repaints and its Start button can abort.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "dbbuild/update.h"

class TUpdateRunner {
 public:
  // Aborted, read by the update as it goes, stops it; it must outlive the
  // runner.
  explicit TUpdateRunner(const std::atomic<bool>& Aborted) : FAborted(Aborted) {}

  // Runs the update with Options (its Progress is the runner's) and returns
  // its result when it has ended. Meanwhile ShowProgress is told, about
  // every 50 ms, the per-mille part done (a fifth of the bar per registry,
  // moving over the bytes received), the registry being fetched ("" before
  // the first) and the bytes of its file received so far.
  using TShowProgress =
      std::function<void(int PerMille, const std::string& Registry, uint64_t Received)>;
  TUpdateResult Run(TUpdateOptions Options, const TShowProgress& ShowProgress);

 private:
  const std::atomic<bool>& FAborted;
};
