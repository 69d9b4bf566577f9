#include "ipdb/mapguard.h"

#include <csignal>
#include <cstdint>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// A mapped file that another program truncates under us (cp over it, a
// copy cut short) makes reads past its new end raise SIGBUS. The mappings
// of open files are noted here; a SIGBUS inside one marks it damaged and
// puts a page of zeros where the read failed, so that the read goes on and
// ends, and the search that made it sees the mark and fails. That costs a
// search nothing but the look at the mark. The slots are written outside
// the handler and only read inside it.
struct TMappingSlot {
  std::atomic<uintptr_t> Start{0};
  std::atomic<size_t> Size{0};
  std::atomic<std::atomic<bool>*> Damaged{nullptr};
};
constexpr int kMappingSlots = 64;
TMappingSlot gMappings[kMappingSlots];
struct sigaction gPreviousBus;
uintptr_t gPageSize = 4096;

void OnBus(int Signal, siginfo_t* Info, void* Context) {
  const auto at = reinterpret_cast<uintptr_t>(Info->si_addr);
  for (TMappingSlot& slot : gMappings) {
    const uintptr_t start = slot.Start.load(std::memory_order_acquire);
    if (start == 0 || at < start || at - start >= slot.Size.load(std::memory_order_relaxed)) {
      continue;
    }
    void* page = reinterpret_cast<void*>(at & ~(gPageSize - 1));
    if (::mmap(page, gPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
        MAP_FAILED) {
      break;
    }
    slot.Damaged.load(std::memory_order_relaxed)->store(true, std::memory_order_relaxed);
    return;
  }
  // Not a mapping of ours: what would have happened without us.
  if (gPreviousBus.sa_flags & SA_SIGINFO && gPreviousBus.sa_sigaction) {
    return gPreviousBus.sa_sigaction(Signal, Info, Context);
  }
  sigaction(SIGBUS, &gPreviousBus, nullptr);
  raise(Signal);
}

void InstallBusHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    gPageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBus;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &gPreviousBus);
  });
}

}  // namespace

int WatchMapping(const void* Start, size_t Size, std::atomic<bool>* Damaged) {
  InstallBusHandler();
  for (int i = 0; i < kMappingSlots; ++i) {
    uintptr_t empty = 0;
    // Taken with a placeholder first, so that the handler never sees a
    // start without its size and mark.
    if (!gMappings[i].Start.compare_exchange_strong(empty, 1)) continue;
    gMappings[i].Size.store(Size, std::memory_order_relaxed);
    gMappings[i].Damaged.store(Damaged, std::memory_order_relaxed);
    gMappings[i].Start.store(reinterpret_cast<uintptr_t>(Start), std::memory_order_release);
    return i;
  }
  return -1;
}

void UnwatchMapping(int Slot) {
  if (Slot >= 0) gMappings[Slot].Start.store(0, std::memory_order_release);
}
