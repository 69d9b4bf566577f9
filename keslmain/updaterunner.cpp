#include "keslmain/updaterunner.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QThread>

TUpdateResult TUpdateRunner::Run(TUpdateOptions Options, const TShowProgress& ShowProgress) {
  const std::vector<std::string> registries = UpdateRegistries();
  std::atomic<int> perMille = 0;
  // The registry and its bytes, written by the update's thread.
  std::mutex lock;
  std::string registry;
  uint64_t received = 0;
  Options.Progress = [&](const std::string& Registry, uint64_t Received, uint64_t Total) {
    const size_t i = static_cast<size_t>(std::find(registries.begin(), registries.end(), Registry) -
                                         registries.begin());
    const uint64_t part = Total ? std::min(Received, Total) * 1000 / Total : 0;
    perMille = static_cast<int>((i * 1000 + part) / registries.size());
    {
      const std::lock_guard<std::mutex> hold(lock);
      registry = Registry;
      received = Received;
    }
    return !FAborted;
  };
  TUpdateResult result;
  std::atomic<bool> done = false;
  std::thread worker([&] {
    result = RunUpdate(Options);
    done = true;
  });
  while (!done) {
    std::string shownRegistry;
    uint64_t shownReceived = 0;
    {
      const std::lock_guard<std::mutex> hold(lock);
      shownRegistry = registry;
      shownReceived = received;
    }
    ShowProgress(perMille, shownRegistry, shownReceived);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!done) QThread::msleep(10);
  }
  worker.join();
  return result;
}
