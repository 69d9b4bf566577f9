// kesl-lookup's queries, each read once: a numeric address of either family
// (an IPv4-mapped IPv6 address as the IPv4 address it holds), else a host
// name for the resolver, else refused with the message its answer gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/address.h"
#include "tools/addrscan.h"
#include "tools/resolve.h"

// No address or host name is longer than 253 characters.
constexpr size_t kMaxQuery = 253;

// 4 or 6 for a numeric address of that family (IP or IP6 set; an
// IPv4-mapped IPv6 address is its IPv4 one), 0 for any other query: a
// host name, junk, or text too long or holding a control character. With
// Canonical, for 6 also whether Query is IP6 as the answers write it.
int ReadNumericQuery(std::string_view Query, uint32_t& IP, TIPv6Address& IP6,
                     bool* Canonical = nullptr);

// Whether an address found in a text is answered as IPv4, and as which:
// an IPv4 address, or an IPv6 one that maps an IPv4 address (as a query is).
bool AnnotatedAsIPv4(const TFoundAddress& Found, uint32_t& IP);

// A query that ReadNumericQuery did not take: its address from the
// resolver, or why it has none.
struct THostQuery {
  bool Found = false;
  TQueryAddress Address;
  // When not found: the query as its answer shows it (control characters
  // written out, a query longer than any cut), and the message.
  std::string Shown;
  std::string Error;
};
// Only text that can be a host name goes to the resolver (none with
// NoResolve); PreferIPv6 as ResolveQuery.
THostQuery ReadHostQuery(std::string_view Query, bool NoResolve, bool PreferIPv6);
