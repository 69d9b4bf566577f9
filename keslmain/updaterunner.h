// The window's update from the registries: the download and the compiling
// run on a thread of their own while the window stays responsive, its
// progress bar following the bytes received and its Start button aborting.
#pragma once

#include <atomic>

#include "dbbuild/update.h"

class TUtilMainForm;

class TUpdateRunner {
 public:
  // Frame shows the progress; Aborted, set by the frame's Start button,
  // stops the update. Both must outlive the runner.
  TUpdateRunner(TUtilMainForm& Frame, std::atomic<bool>& Aborted)
      : FFrame(Frame), FAborted(Aborted) {}

  // Runs the update with Options (its Progress is the runner's) in the
  // frame's busy state, and returns its result when it has ended.
  TUpdateResult Run(TUpdateOptions Options);

 private:
  TUtilMainForm& FFrame;
  std::atomic<bool>& FAborted;
};
