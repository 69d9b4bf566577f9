#include "keslmain/updaterunner.h"

#include <algorithm>
#include <string>
#include <vector>

#include "keslmain/background.h"

TUpdateResult TUpdateRunner::Run(TUpdateOptions Options, const TShowProgress& ShowProgress) {
  const std::vector<std::string> registries = UpdateRegistryNames();
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
  // Never given up: the update hears the abort itself, and ends soon after.
  RunBeside([&] { result = RunUpdate(Options); }, {},
            [&] {
              std::string shownRegistry;
              uint64_t shownReceived = 0;
              {
                const std::lock_guard<std::mutex> hold(lock);
                shownRegistry = registry;
                shownReceived = received;
              }
              ShowProgress(perMille, shownRegistry, shownReceived);
            });
  return result;
}
