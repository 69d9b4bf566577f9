// Turning typed text into an address: numeric forms first, then the host
// resolver, which tests can replace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "tools/address.h"

// The outcome of a resolution: Code 0, or the resolver's error code with
// its text, read at once from the call that failed.
struct TResolveResult {
  int Code = 0;
  std::string Error;
};

// The first address of each family that a host name has.
struct THostAddresses {
  bool HasIPv4 = false;
  uint32_t IPv4 = 0;  // network byte order
  bool HasIPv6 = false;
  TIPv6Address IPv6 = 0;
};

// Resolves a host name to its addresses; a name with neither family fails.
using THostResolver = std::function<TResolveResult(const std::string& Host, THostAddresses& Found)>;

// The system's resolver (getaddrinfo), the one in use until another is set.
TResolveResult SystemResolveHost(const std::string& Host, THostAddresses& Found);
// Replaces the resolver that ResolveQuery uses; an empty one restores the
// system's. Returns the one it replaces.
THostResolver SetHostResolver(THostResolver Resolver);

// An address of either family.
struct TQueryAddress {
  bool IsIPv6 = false;
  uint32_t IPv4 = 0;  // host byte order
  TIPv6Address IPv6 = 0;
};

// Text to address: a numeric IPv4 or IPv6 form, else the resolver's first
// IPv4 address, or its first IPv6 address for a name without IPv4 ones
// (PreferIPv6 turns the order round). An IPv4-mapped IPv6 address
// (::ffff:192.0.2.1) comes back as the IPv4 address it holds. Waiting, when given, is called with
// true before the resolver runs (it may take a while) and with false after
// it, also when it throws.
TResolveResult ResolveQuery(const std::string& Text, TQueryAddress& Address,
                            bool PreferIPv6 = false, const std::function<void(bool)>& Waiting = {});
// The numeric half of ResolveQuery: false, with Address unchanged in its
// meaning, for text that is no numeric address.
bool ReadNumericAddress(std::string_view Text, TQueryAddress& Address);
// The other half: Name (already known to be no numeric address) through
// the resolver.
TResolveResult ResolveHostName(const std::string& Name, TQueryAddress& Address,
                               bool PreferIPv6 = false,
                               const std::function<void(bool)>& Waiting = {});

// Whether Text can be a host name as RFC 1123 allows: letters, digits,
// hyphens and dots, labels of 1 to 63 characters, 253 in all (one final
// dot, as in a fully qualified name, allowed besides).
bool CanBeHostName(std::string_view Text);

// Why a query that is no numeric address may not go to the resolver, or ""
// when it may: digits and dots that form no address are kInvalidIPv4, text
// that cannot be a host name kNotAHostName. The command line and the
// window refuse by this one rule.
constexpr char kInvalidIPv4[] = "Not a valid IPv4 address";
constexpr char kNotAHostName[] = "not an address or host name";
std::string ResolverRefusal(std::string_view Text);

// The resolver's text for an error code, cleaned as for a message box.
// EAI_SYSTEM takes the system error SystemError.
std::string ResolverErrorText(int Code, int SystemError);

// Removes trailing blanks, control characters and full stops.
std::string TrimErrorText(std::string Text);
