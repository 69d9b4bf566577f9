#include "tools/pages.h"

#include <cstdint>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// The flags the system keeps for the mapping that holds Address ("hg" once
// it was asked for large pages), from /proc/self/smaps; empty when none.
std::string MappingFlags(const void* Address) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<uintptr_t>(Address);
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    uintptr_t from = 0, to = 0;
    char dash = 0;
    std::istringstream head(line);
    if (head >> std::hex >> from >> dash >> to && dash == '-') {
      inside = from <= at && at < to;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.substr(8);
    }
  }
  return {};
}

bool AskedForLargePages(const void* Address) {
  const std::string flags = MappingFlags(Address);
  return (" " + flags + " ").find(" hg ") != std::string::npos;
}

}  // namespace

// A large list is on a 2 MB boundary, asked for large pages, and keeps its
// items as it grows past one room into the next; a small one comes from
// the heap as before.
TEST(LargePagesTest, LargeListsAreAlignedAdvisedAndGrowWhole) {
  TLargeVector<uint32_t> list;
  for (uint32_t i = 0; i < 3'000'000; ++i) list.push_back(i * 7);  // 12 MB, several rooms
  ASSERT_EQ(list.size(), 3'000'000u);
  for (uint32_t i = 0; i < list.size(); i += 997) ASSERT_EQ(list[i], i * 7);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(list.data()) % (2 << 20), 0u);
#ifdef __linux__
  EXPECT_TRUE(AskedForLargePages(list.data()));
  EXPECT_TRUE(AskedForLargePages(list.data() + list.capacity() - 1));
#endif
  TLargeVector<uint32_t> copy = list;
  EXPECT_EQ(copy, list);
  list.clear();
  list.shrink_to_fit();  // given back: the copy is untouched
  EXPECT_EQ(copy[2'999'999], 2'999'999u * 7);

  TLargeVector<uint32_t> small(1000);
  std::iota(small.begin(), small.end(), 0u);
  EXPECT_EQ(small[999], 999u);
#ifdef __linux__
  EXPECT_FALSE(AskedForLargePages(small.data()));
#endif
}

// A reserved list asks for large pages only under its whole 2 MB pieces,
// so that no other memory of the program changes; a list too small to hold
// one asks for nothing.
TEST(LargePagesTest, ReserveAdvisesOnlyWholePieces) {
  std::vector<char> tiny;
  ReserveLarge(tiny, 100);
  tiny.assign(100, 'x');
#ifdef __linux__
  EXPECT_FALSE(AskedForLargePages(tiny.data()));
#endif
  std::vector<uint64_t> big;
  ReserveLarge(big, 3 << 20);  // 24 MB from the heap's own mapping
  const auto from = reinterpret_cast<uintptr_t>(big.data());
  const uintptr_t firstWhole = (from + (2 << 20) - 1) & ~uintptr_t{(2 << 20) - 1};
#ifdef __linux__
  EXPECT_TRUE(AskedForLargePages(reinterpret_cast<void*>(firstWhole)));
  if (firstWhole != from) EXPECT_FALSE(AskedForLargePages(big.data()));
#endif
  big.assign(3 << 20, 5);
  EXPECT_EQ(big.back(), 5u);

  AdviseLargePages(nullptr, 0);  // nothing to advise: no effect
}
