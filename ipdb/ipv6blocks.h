// The IPv6 part of a database: blocks with a first and last address and
// the search over them. The blocks name the same countries and registries
// as the IPv4 part, which the database hands them when it links them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/address.h"
#include "tools/pages.h"

class TIPv4Country;
class TIPv4Center;

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

// Where linking finds the country of a code and the registry of an ID;
// each gives nullptr for one it does not know. What they give must outlive
// the blocks.
struct TBlockOwners {
  std::function<TIPv4Country*(uint16_t Code)> Country;
  std::function<TIPv4Center*(uint16_t ID)> Center;
};

// The IPv6 blocks of a database, ascending and disjoint once loaded.
class TIPv6Blocks {
 public:
  std::vector<TIPv6Block> Blocks;

  int Count() const { return static_cast<int>(Blocks.size()); }
  // Index of the block holding Address, or -1.
  int Find(TIPv6Address Address) const;
  // Sorts the blocks by start, links each to the country and registry that
  // Owners find (EDatabaseError "Unknown country code: %s" or "Unknown NIC
  // code: %d" for one they do not), and makes the search index. Blocks that
  // overlap can make a search miss, never give a block that does not hold
  // the address; the loader refuses them.
  void Link(const TBlockOwners& Owners);
  // The blocks of one country, ascending.
  std::vector<const TIPv6Block*> CountryBlocks(uint16_t Code) const;

 private:
  // The upper 64 bits of every block's start and last address, side by
  // side: a search halves over the starts' and looks at whole addresses
  // only where an upper half is shared.
  struct THighs {
    uint64_t Start;
    uint64_t Last;
  };
  TLargeVector<THighs> FHigh;
  // By the first 16 bits of the starts, for a large list
  // (ipdb/by16index.h).
  std::vector<uint32_t> FBy16;
};
