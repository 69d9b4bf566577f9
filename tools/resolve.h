// Turning typed text into an IPv4 address: numeric forms first, then the
// host resolver, which tests can replace.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The numeric forms inet_addr accepts (10.1.2.3, 127.1, 0x7f.1, 2130706433).
// The address comes in network byte order. 255.255.255.255 is refused, as
// inet_addr gives it the value of its failure.
bool ParseNumericIPv4(std::string_view Text, uint32_t& NetworkOrder);

// An IPv6 address in any of its text forms (2001:db8::1, ::ffff:1.2.3.4).
bool IsIPv6Address(std::string_view Text);
// What an IPv6 address gets until IPv6 is supported.
constexpr char kIPv6NotSupported[] = "IPv6 addresses are not supported yet";
// ResolveQuery's code for an IPv6 address: it is never resolved.
constexpr int kIPv6Query = -1000;

// The outcome of a resolution: Code 0, or the resolver's error code with
// its text, read at once from the call that failed.
struct TResolveResult {
  int Code = 0;
  std::string Error;
};

// Resolves a host name to its first IPv4 address, in network byte order.
using THostResolver =
    std::function<TResolveResult(const std::string& Host, uint32_t& NetworkOrder)>;

// The system's resolver (getaddrinfo), the one in use until another is set.
TResolveResult SystemResolveHost(const std::string& Host, uint32_t& NetworkOrder);
// Replaces the resolver that ResolveQuery uses; an empty one restores the
// system's. Returns the one it replaces.
THostResolver SetHostResolver(THostResolver Resolver);

// Text to address in host byte order: a numeric form, else the resolver's
// first IPv4 address. An IPv6 address gives kIPv6Query and
// kIPv6NotSupported without a resolver call. Waiting, when given, is called with true before the
// resolver runs (it may take a while) and with false after it, also when it
// throws.
TResolveResult ResolveQuery(const std::string& Text, uint32_t& IP,
                            const std::function<void(bool)>& Waiting = {});

// The resolver's text for an error code, cleaned as for a message box.
// EAI_SYSTEM takes the system error SystemError.
std::string ResolverErrorText(int Code, int SystemError);

// Removes trailing blanks, control characters and full stops.
std::string TrimErrorText(std::string Text);
