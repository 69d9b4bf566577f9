// The scope guard: a function run on every way out of a scope.
#pragma once

#include <functional>

// Runs a function on every way out of a scope, exceptions included.
class TFinally {
 public:
  explicit TFinally(std::function<void()> Action) : FAction(std::move(Action)) {}
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;
  ~TFinally() {
    if (FAction) FAction();
  }

 private:
  std::function<void()> FAction;
};
