#include "tools/pages.h"

#include <cstdint>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr uintptr_t kLarge = uintptr_t{2} << 20;
constexpr size_t kFrom = size_t{1} << 20;

// Bytes or an address, up (or down) to a 2 MB boundary.
uintptr_t Up(uintptr_t At) { return (At + kLarge - 1) & ~(kLarge - 1); }
uintptr_t Down(uintptr_t At) { return At & ~(kLarge - 1); }

}  // namespace

void AdviseLargePages(const void* Data, size_t Bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  const uintptr_t from = Up(reinterpret_cast<uintptr_t>(Data));
  const uintptr_t to = Down(reinterpret_cast<uintptr_t>(Data) + Bytes);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)Data;
  (void)Bytes;
#endif
}

bool LargeRoom(size_t Bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  return Bytes >= kFrom;
#else
  (void)Bytes;
  return false;
#endif
}

void* AllocateLarge(size_t Bytes) {
  if (!LargeRoom(Bytes)) return nullptr;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (Bytes > SIZE_MAX - 2 * kLarge) throw std::bad_alloc();
  // Mapped with a piece to spare, then cut to the boundary.
  const size_t length = Up(Bytes);
  void* map =
      ::mmap(nullptr, length + kLarge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) throw std::bad_alloc();
  const auto at = reinterpret_cast<uintptr_t>(map);
  const uintptr_t from = Up(at);
  if (from > at) ::munmap(map, from - at);
  ::munmap(reinterpret_cast<void*>(from + length), at + kLarge - from);
  ::madvise(reinterpret_cast<void*>(from), length, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(from);
#else
  return nullptr;
#endif
}

void FreeLarge(void* Data, size_t Bytes) {
#ifdef __linux__
  ::munmap(Data, Up(Bytes));
#else
  (void)Data;
  (void)Bytes;
#endif
}
