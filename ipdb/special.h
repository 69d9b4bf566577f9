// IANA's special-purpose address ranges: the IPv4 and IPv6 Special-Purpose
// Address Registries (RFC 6890 and the entries added since), with multicast
// and the reserved 240.0.0.0/4 from IANA's address-space registries. They
// are the program's own table: every database answers them, the default one
// included.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "tools/address.h"

// IANA's "Globally Reachable" column: True, False, or N/A (deprecated and
// transition ranges).
enum TReachable : uint8_t { reYes, reNo, reNotApplicable };

struct TSpecialRange {
  int Family = 4;  // 4 or 6
  // The prefix as IANA writes it ("192.0.0.0/24", "2001:db8::/32").
  std::string_view Prefix;
  std::string_view Name;  // as IANA writes it: "Private-Use", "Loopback", ...
  std::string_view Rfc;   // the defining documents, as IANA lists them
  TReachable Reachable = reNo;
  // The addresses, from Prefix: IPv4 ones as IPv4-mapped IPv6 addresses.
  TIPv6Address First = 0, Last = 0;
};

// The date of IANA's registries this table follows, yyyymmdd.
constexpr uint32_t kSpecialTableDate = 20250701;

// The table, IPv4 entries first, each family in IANA's order.
const std::vector<TSpecialRange>& SpecialRanges();
// The most specific entry that holds the address, or nullptr.
const TSpecialRange* FindSpecial(uint32_t IP);
const TSpecialRange* FindSpecial(TIPv6Address IP);
// "Globally reachable: yes" in words: "yes", "no", "n/a".
std::string_view ReachableText(TReachable R);
