// The IPv6 part of a database: blocks with a first and last address, their
// text forms, and the search over them. It shares the countries and
// registries of the IPv4 part (TIPv4Database), which owns it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ipv4base/ipv4notation.h"
#include "tools/tools.h"

class TIPv4Country;
class TIPv4Center;
class TIPv4Database;

// The RFC 5952 form: lower case, no leading zeros, the longest run of two or
// more zero groups (the first of equal runs) as "::", and the IPv4-mapped
// range as ::ffff:a.b.c.d.
std::string IPv6ToStr(TIPv6Address Address);
// One aligned prefix: Bits leading bits of Start are fixed.
struct TIPv6Prefix {
  TIPv6Address Start;
  int Bits;
  bool operator==(const TIPv6Prefix&) const = default;
};
// The host bits of a prefix Bits long (0 to 128) set: its last address
// is its first | IPv6HostMask(Bits).
constexpr TIPv6Address IPv6HostMask(int Bits) { return Bits >= 128 ? 0 : ~TIPv6Address{0} >> Bits; }
// The fewest aligned prefixes, ascending, that cover exactly First .. Last.
std::vector<TIPv6Prefix> IPv6Prefixes(TIPv6Address First, TIPv6Address Last);
// "2001:db8::/32".
std::string IPv6PrefixText(const TIPv6Prefix& Prefix);

// One allocated range of IPv6 addresses, Start .. Last.
class TIPv6Block {
 public:
  TIPv6Address Start = 0;
  TIPv6Address Last = 0;
  uint32_t Date = 0;         // yyyymmdd, 0 when unknown
  uint16_t CountryCode = 0;  // as TIPv4Block's
  uint16_t CenterID = 0;
  TIPv4Country* Country = nullptr;  // set by linking; not owned
  TIPv4Center* Center = nullptr;    // set by linking; not owned

  // nmRange writes "first - last"; nmCIDR and nmMask (which has no meaning
  // for IPv6) the fewest prefixes that cover the block, joined by ", ".
  std::string AsText(TNotation Mode) const;
  // The same, one line per prefix outside nmRange.
  std::vector<std::string> AsLines(TNotation Mode) const;
  std::vector<TIPv6Prefix> Prefixes() const { return IPv6Prefixes(Start, Last); }
};

// The IPv6 blocks of a database, ascending and disjoint once loaded.
class TIPv6Blocks {
 public:
  std::vector<TIPv6Block> Blocks;

  int Count() const { return static_cast<int>(Blocks.size()); }
  // Index of the block holding Address, or -1.
  int Find(TIPv6Address Address) const;
  // Sorts the blocks by start, links each to its country and registry in
  // Database (EDatabaseError "Unknown country code: %s" or "Unknown NIC
  // code: %d"), and makes the search index. Blocks that overlap can make
  // a search miss, never give a block that does not hold the address; the
  // loader refuses them.
  void Link(TIPv4Database& Database);
  // The blocks of one country, ascending.
  std::vector<const TIPv6Block*> CountryBlocks(uint16_t Code) const;

 private:
  // The upper 64 bits of every block's start, side by side: a search
  // halves over these and looks at whole starts only among equal ones.
  std::vector<uint64_t> FHigh;
};
