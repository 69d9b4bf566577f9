#include "ipdb/ipv6blocks.h"

#include <algorithm>

#include "ipdb/by16index.h"
#include "ipdb/countries.h"
#include "tools/errors.h"
#include "tools/pages.h"

int TIPv6Blocks::Find(TIPv6Address Address) const {
  const size_t count = FHigh.size();
  const uint64_t high = static_cast<uint64_t>(Address >> 64);
  if (count == 0 || FHigh[0].Start > high) return -1;
  // The last block whose start's upper half is at or below the address's,
  // without a branch per step.
  // With many blocks, the address's first 16 bits narrow the search to
  // those that can hold it: most of the space has none.
  const THighs* base = FHigh.data();
  size_t n = count;
  if (!FBy16.empty()) {
    size_t from = 0;
    By16Range(FBy16, IPv6IndexKey(high), from, n);
    base += from;
  }
  while (n > 1) {
    const size_t half = n / 2;
    // Near the end, where the probes leave the caches, both places the
    // next one can fall on are fetched while this one is compared. (Every
    // search takes the same steps, so the test is never guessed wrong.)
    if (n <= 8192) {
      const size_t next = (n - half) / 2;
      __builtin_prefetch(base + next);
      __builtin_prefetch(base + half + next);
    }
    base = base[half].Start <= high ? base + half : base;
    n -= half;
  }
  size_t i = static_cast<size_t>(base - FHigh.data());
  // The upper halves alone decide most searches, from the line the search
  // ended on: a block is not read unless the address shares an upper half
  // with one of its ends.
  if (base->Start < high) {
    if (high < base->Last) return static_cast<int>(i);
    if (high > base->Last) return -1;
  }
  if (Blocks[i].Start > Address) {
    // Blocks that share the upper half: the last among them that starts at
    // or below the address, else the block before them all.
    const size_t first = static_cast<size_t>(
        std::lower_bound(FHigh.data(), base, high,
                         [](const THighs& H, uint64_t V) { return H.Start < V; }) -
        FHigh.data());
    const auto at = std::upper_bound(
        Blocks.begin() + static_cast<ptrdiff_t>(first), Blocks.begin() + static_cast<ptrdiff_t>(i),
        Address, [](TIPv6Address A, const TIPv6Block& B) { return A < B.Start; });
    if (at == Blocks.begin()) return -1;
    i = static_cast<size_t>(at - Blocks.begin()) - 1;
  }
  const TIPv6Block& b = Blocks[i];
  return b.Start <= Address && Address <= b.Last ? static_cast<int>(i) : -1;
}

void TIPv6Blocks::Link(const TBlockOwners& Owners) {
  auto less = [](const TIPv6Block& A, const TIPv6Block& B) { return A.Start < B.Start; };
  if (!std::is_sorted(Blocks.begin(), Blocks.end(), less)) {
    std::stable_sort(Blocks.begin(), Blocks.end(), less);
  }
  // Each code is looked up once; one that is not known ends the link.
  std::vector<TIPv4Country*> countryOf(65536, nullptr);
  std::vector<TIPv4Center*> centerOf(65536, nullptr);
  FHigh.clear();
  FHigh.reserve(Blocks.size());
  for (TIPv6Block& block : Blocks) {
    TIPv4Country*& c = countryOf[block.CountryCode];
    if (!c) c = Owners.Country(block.CountryCode);
    if (!c) throw EDatabaseError("Unknown country code: " + CodeToStr(block.CountryCode));
    TIPv4Center*& r = centerOf[block.CenterID];
    if (!r) r = Owners.Center(block.CenterID);
    if (!r) throw EDatabaseError("Unknown NIC code: " + std::to_string(block.CenterID));
    block.Country = c;
    block.Center = r;
    FHigh.push_back(
        {static_cast<uint64_t>(block.Start >> 64), static_cast<uint64_t>(block.Last >> 64)});
  }
  FBy16.clear();
  if (FHigh.size() >= kBy16IndexFrom) {
    FBy16 = MakeBy16Index(FHigh.size(), [this](size_t i) { return IPv6IndexKey(FHigh[i].Start); });
  }
}

std::vector<const TIPv6Block*> TIPv6Blocks::CountryBlocks(uint16_t Code) const {
  std::vector<const TIPv6Block*> out;
  for (const TIPv6Block& b : Blocks) {
    if (b.CountryCode == Code) out.push_back(&b);
  }
  return out;
}
