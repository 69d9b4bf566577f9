#include "keslmain/updaterunner.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QThread>

#include "tools/tools.h"
#include "utilmain/utilmain.h"

TUpdateResult TUpdateRunner::Run(TUpdateOptions Options) {
  // The bar moves over the bytes received: a fifth of it per registry.
  const std::vector<std::string> registries = UpdateRegistries();
  std::atomic<int> perMille = 0;
  Options.Progress = [&](const std::string& Registry, uint64_t Received, uint64_t Total) {
    const size_t i = static_cast<size_t>(std::find(registries.begin(), registries.end(), Registry) -
                                         registries.begin());
    const uint64_t part = Total ? std::min(Received, Total) * 1000 / Total : 0;
    perMille = static_cast<int>((i * 1000 + part) / registries.size());
    return !FAborted;
  };
  TUpdateResult result;
  FFrame.BeginBusy();
  FAborted = false;
  const TFinally end([this] { FFrame.EndBusy(); });
  // The download runs beside the window, which stays responsive; its Start
  // button aborts it.
  std::atomic<bool> done = false;
  std::thread worker([&] {
    result = RunUpdate(Options);
    done = true;
  });
  while (!done) {
    FFrame.SetProgress(perMille);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!done) QThread::msleep(10);
  }
  worker.join();
  return result;
}
