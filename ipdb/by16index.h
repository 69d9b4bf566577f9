// The search index by /16 that the loaded database and the mapped file
// both keep over their starts: it narrows a search to the few entries that
// can hold an address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The loaded lists this long or longer get the index (256 kB); a shorter
// one is halved whole.
constexpr size_t kBy16IndexFrom = 4096;

// An IPv6 address is indexed by its first 32 bits (of which the index
// takes the first 16), from the upper 64 bits of it, High.
inline uint32_t IPv6IndexKey(uint64_t High) { return static_cast<uint32_t>(High >> 32); }

// Index[h] is how many of the Count starts (StartAt(i), ascending) lie below
// h << 16; 65,537 entries. Made from counts, so that starts in any order
// still give entries within 0 .. Count: a search over them may miss, but
// never leaves the list.
template <typename TStartAt>
std::vector<uint32_t> MakeBy16Index(size_t Count, TStartAt StartAt) {
  std::vector<uint32_t> index(65537, 0);
  for (size_t i = 0; i < Count; ++i) ++index[(StartAt(i) >> 16) + 1];
  for (size_t h = 1; h < index.size(); ++h) index[h] += index[h - 1];
  return index;
}

// The entries Lo .. Lo + N - 1 that can hold IP: the last one starting below
// its /16 and those starting inside it. N is 0 when every start lies above
// the /16's end.
inline void By16Range(const std::vector<uint32_t>& Index, uint32_t IP, size_t& Lo, size_t& N) {
  const uint32_t first = Index[IP >> 16], end = Index[(IP >> 16) + 1];
  Lo = first > 0 ? first - 1 : 0;
  N = end - Lo;
}
