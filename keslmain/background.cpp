#include "keslmain/background.h"

#include <atomic>
#include <memory>
#include <thread>

#include <QCoreApplication>
#include <QThread>

bool RunBeside(std::function<void()> Work, const std::function<bool()>& GiveUp,
               const std::function<void()>& Tick) {
  // Shared with the thread, which may outlive this call.
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread worker([Work = std::move(Work), done] {
    Work();
    *done = true;
  });
  while (!*done) {
    if (GiveUp && GiveUp()) {
      worker.detach();
      return false;
    }
    if (Tick) Tick();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!*done) QThread::msleep(5);
  }
  worker.join();
  return true;
}
