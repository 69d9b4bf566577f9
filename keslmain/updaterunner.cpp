#include "keslmain/updaterunner.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QThread>

TUpdateResult TUpdateRunner::Run(TUpdateOptions Options,
                                 const std::function<void(int PerMille)>& ShowProgress) {
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
  std::atomic<bool> done = false;
  std::thread worker([&] {
    result = RunUpdate(Options);
    done = true;
  });
  while (!done) {
    ShowProgress(perMille);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!done) QThread::msleep(10);
  }
  worker.join();
  return result;
}
