// Large pages for large lists.
//
// Memory a program touches for the first time costs a fault per 4 kB page,
// and on some machines (virtual ones most of all) a fault costs more than
// filling its page: on the machine Kesl is measured on, 8 to 12 us each,
// three quarters of the time of loading the database whole. Asked for 2 MB
// pages, a list takes one fault per 2 MB instead, where the system hands
// them out on request (Linux's transparent huge pages in "madvise" or
// "always" mode); elsewhere nothing changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

// Asks for large pages under the whole 2 MB pieces of Bytes at Data. Only
// memory not touched yet gains: call it before filling.
void AdviseLargePages(const void* Data, size_t Bytes);

// Reserves room for Count items in List, in large pages where that room
// spans them.
template <typename T>
void ReserveLarge(std::vector<T>& List, size_t Count) {
  List.reserve(Count);
  AdviseLargePages(List.data(), List.capacity() * sizeof(T));
}

// Room of Bytes on 2 MB boundaries, in whole 2 MB pieces asked for large
// pages, so that even its first and last pieces can have them; nullptr for
// less than 1 MB (or where there is no such thing), which the caller takes
// from the heap. Throws std::bad_alloc when the system has no room.
void* AllocateLarge(size_t Bytes);
// Gives back room from AllocateLarge (the same Bytes).
void FreeLarge(void* Data, size_t Bytes);
// Whether AllocateLarge maps room of Bytes (and FreeLarge must give it back).
bool LargeRoom(size_t Bytes);

// An allocator for the program's own large arrays (search indexes), by
// AllocateLarge: their memory grows in 2 MB steps where the system grants
// large pages.
template <typename T>
class TLargePageAllocator {
 public:
  using value_type = T;
  TLargePageAllocator() = default;
  template <typename U>
  TLargePageAllocator(const TLargePageAllocator<U>&) {}  // NOLINT: converts as std::allocator

  T* allocate(size_t Count) {
    if (Count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    if (void* room = AllocateLarge(Count * sizeof(T))) return static_cast<T*>(room);
    return std::allocator<T>().allocate(Count);
  }
  void deallocate(T* Items, size_t Count) {
    if (LargeRoom(Count * sizeof(T))) return FreeLarge(Items, Count * sizeof(T));
    std::allocator<T>().deallocate(Items, Count);
  }
  friend bool operator==(const TLargePageAllocator&, const TLargePageAllocator&) { return true; }
};

template <typename T>
using TLargeVector = std::vector<T, TLargePageAllocator<T>>;
