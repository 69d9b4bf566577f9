#include "ipv4base/ipv6base.h"

#include <algorithm>
#include <cstring>

#include "ipv4base/ipv4base.h"

std::string IPv6ToStr(TIPv6Address Address) {
  uint16_t group[8];
  for (int i = 7; i >= 0; --i, Address >>= 16) group[i] = static_cast<uint16_t>(Address);
  // ::ffff:0:0/96 holds IPv4 addresses, which are written as such.
  const bool mapped = group[0] == 0 && group[1] == 0 && group[2] == 0 && group[3] == 0 &&
                      group[4] == 0 && group[5] == 0xFFFF;
  const int groups = mapped ? 6 : 8;
  int best = -1, bestLength = 1;  // a lone zero group is not shortened
  for (int i = 0; i < groups;) {
    int j = i;
    while (j < groups && group[j] == 0) ++j;
    if (j - i > bestLength) {
      best = i;
      bestLength = j - i;
    }
    i = j > i ? j : i + 1;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < groups; ++i) {
    if (i == best) {
      s += "::";
      i += bestLength - 1;
      continue;
    }
    if (!s.empty() && s.back() != ':') s += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int digit = (group[i] >> shift) & 15;
      if (digit || started || shift == 0) {
        s += kHex[digit];
        started = true;
      }
    }
  }
  if (mapped) {
    if (s.back() != ':') s += ':';
    const uint32_t v4 = static_cast<uint32_t>(group[6]) << 16 | group[7];
    s += IPToStr(v4);
  }
  return s;
}

namespace {

// Trailing zero bits of a non-zero address, and the highest set bit.
int TrailingZeros(TIPv6Address V) {
  const auto low = static_cast<uint64_t>(V);
  return low ? __builtin_ctzll(low) : 64 + __builtin_ctzll(static_cast<uint64_t>(V >> 64));
}
int HighestBit(TIPv6Address V) {
  const auto high = static_cast<uint64_t>(V >> 64);
  return high ? 127 - __builtin_clzll(high) : 63 - __builtin_clzll(static_cast<uint64_t>(V));
}

}  // namespace

std::vector<TIPv6Prefix> IPv6Prefixes(TIPv6Address First, TIPv6Address Last) {
  std::vector<TIPv6Prefix> out;
  if (Last < First) return out;
  for (;;) {
    // The largest aligned prefix at First that ends at or before Last: as
    // many host bits as First's alignment and the addresses left allow.
    const TIPv6Address left = Last - First;  // addresses left, less one
    int hostBits = left == ~TIPv6Address{0} ? 128 : HighestBit(left + 1);
    if (First != 0) hostBits = std::min(hostBits, TrailingZeros(First));
    out.push_back({First, 128 - hostBits});
    if (hostBits == 128) return out;
    const TIPv6Address end = First + ((TIPv6Address{1} << hostBits) - 1);
    if (end >= Last) return out;
    First = end + 1;
  }
}

std::string IPv6PrefixText(const TIPv6Prefix& Prefix) {
  return IPv6ToStr(Prefix.Start) + "/" + std::to_string(Prefix.Bits);
}

std::vector<std::string> TIPv6Block::AsLines(TNotation Mode) const {
  if (Mode != nmCIDR && Mode != nmMask) return {IPv6ToStr(Start) + " - " + IPv6ToStr(Last)};
  std::vector<std::string> lines;
  for (const TIPv6Prefix& p : Prefixes()) lines.push_back(IPv6PrefixText(p));
  return lines;
}

std::string TIPv6Block::AsText(TNotation Mode) const {
  std::string text;
  for (const std::string& line : AsLines(Mode)) {
    if (!text.empty()) text += ", ";
    text += line;
  }
  return text;
}

int TIPv6Blocks::Find(TIPv6Address Address) const {
  const size_t count = FHigh.size();
  const uint64_t high = static_cast<uint64_t>(Address >> 64);
  if (count == 0 || FHigh[0] > high) return -1;
  // The last block whose start's upper half is at or below the address's,
  // without a branch per step.
  const uint64_t* base = FHigh.data();
  for (size_t n = count; n > 1;) {
    const size_t half = n / 2;
    base = base[half] <= high ? base + half : base;
    n -= half;
  }
  size_t i = static_cast<size_t>(base - FHigh.data());
  if (Blocks[i].Start > Address) {
    // Blocks that share the upper half: the last among them that starts at
    // or below the address, else the block before them all.
    const size_t first =
        static_cast<size_t>(std::lower_bound(FHigh.data(), base, high) - FHigh.data());
    const auto at = std::upper_bound(
        Blocks.begin() + static_cast<ptrdiff_t>(first), Blocks.begin() + static_cast<ptrdiff_t>(i),
        Address, [](TIPv6Address A, const TIPv6Block& B) { return A < B.Start; });
    if (at == Blocks.begin()) return -1;
    i = static_cast<size_t>(at - Blocks.begin()) - 1;
  }
  const TIPv6Block& b = Blocks[i];
  return b.Start <= Address && Address <= b.Last ? static_cast<int>(i) : -1;
}

void TIPv6Blocks::Link(TIPv4Database& Database) {
  auto less = [](const TIPv6Block& A, const TIPv6Block& B) { return A.Start < B.Start; };
  if (!std::is_sorted(Blocks.begin(), Blocks.end(), less)) {
    std::stable_sort(Blocks.begin(), Blocks.end(), less);
  }
  std::vector<int32_t> countryOf(65536, -2), centerOf(65536, -2);
  FHigh.clear();
  FHigh.reserve(Blocks.size());
  for (TIPv6Block& block : Blocks) {
    int32_t& c = countryOf[block.CountryCode];
    if (c == -2) c = Database.FindCountry(block.CountryCode);
    if (c < 0) throw EDatabaseError("Unknown country code: " + CodeToStr(block.CountryCode));
    int32_t& r = centerOf[block.CenterID];
    if (r == -2) r = Database.FindCenter(block.CenterID);
    if (r < 0) throw EDatabaseError("Unknown NIC code: " + std::to_string(block.CenterID));
    block.Country = Database.CountryAt(c);
    block.Center = Database.CenterAt(r);
    FHigh.push_back(static_cast<uint64_t>(block.Start >> 64));
  }
}

std::vector<const TIPv6Block*> TIPv6Blocks::CountryBlocks(uint16_t Code) const {
  std::vector<const TIPv6Block*> out;
  for (const TIPv6Block& b : Blocks) {
    if (b.CountryCode == Code) out.push_back(&b);
  }
  return out;
}
