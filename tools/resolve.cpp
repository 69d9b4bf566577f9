#include "tools/resolve.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "tools/finally.h"

namespace {

THostResolver& Resolver() {
  static THostResolver resolver = SystemResolveHost;
  return resolver;
}

}  // namespace

TResolveResult SystemResolveHost(const std::string& Host, THostAddresses& Found) {
  if (Host.find('\0') != std::string::npos) return {EAI_NONAME, ResolverErrorText(EAI_NONAME, 0)};
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(Host.c_str(), nullptr, &hints, &list);
  // errno belongs to this call only until the next one that may set it.
  const int systemError = errno;
  if (rc != 0) return {rc, ResolverErrorText(rc, systemError)};
  TResolveResult result{EAI_NODATA, ResolverErrorText(EAI_NODATA, 0)};
  for (const addrinfo* p = list; p; p = p->ai_next) {
    if (!p->ai_addr) continue;
    if (p->ai_family == AF_INET && !Found.HasIPv4) {
      Found.IPv4 = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
      Found.HasIPv4 = true;
      result = {};
    } else if (p->ai_family == AF_INET6 && !Found.HasIPv6) {
      Found.IPv6 =
          IPv6FromBytes(reinterpret_cast<const sockaddr_in6*>(p->ai_addr)->sin6_addr.s6_addr);
      Found.HasIPv6 = true;
      result = {};
    }
  }
  freeaddrinfo(list);
  return result;
}

THostResolver SetHostResolver(THostResolver NewResolver) {
  THostResolver old = std::move(Resolver());
  Resolver() = NewResolver ? std::move(NewResolver) : SystemResolveHost;
  return old;
}

bool ReadNumericAddress(std::string_view Text, TQueryAddress& Address) {
  if (StrToIPv6(Text, Address.IPv6)) {
    Address.IsIPv6 = !UnmapIPv4(Address.IPv6, Address.IPv4);
    return true;
  }
  uint32_t net = 0;
  if (!ParseNumericIPv4(Text, net)) return false;
  Address.IsIPv6 = false;
  Address.IPv4 = SwapBytes(net);
  return true;
}

TResolveResult ResolveQuery(const std::string& Text, TQueryAddress& Address, bool PreferIPv6,
                            const std::function<void(bool)>& Waiting) {
  if (ReadNumericAddress(Text, Address)) return {};
  return ResolveHostName(Text, Address, PreferIPv6, Waiting);
}

TResolveResult ResolveHostName(const std::string& Name, TQueryAddress& Address, bool PreferIPv6,
                               const std::function<void(bool)>& Waiting) {
  if (Waiting) Waiting(true);
  const TFinally done([&] {
    if (Waiting) Waiting(false);
  });
  THostAddresses found;
  const TResolveResult r = Resolver()(Name, found);
  if (r.Code != 0) return r;
  if (!found.HasIPv4 && !found.HasIPv6) return {EAI_NODATA, ResolverErrorText(EAI_NODATA, 0)};
  Address.IsIPv6 = found.HasIPv6 && (PreferIPv6 || !found.HasIPv4);
  Address.IPv4 = SwapBytes(found.IPv4);
  Address.IPv6 = found.IPv6;
  if (Address.IsIPv6 && UnmapIPv4(Address.IPv6, Address.IPv4)) Address.IsIPv6 = false;
  return {};
}

std::string ResolverRefusal(std::string_view Text) {
  // Digits and dots that do not form an address are no host name either:
  // answering them needs no resolver.
  if (!Text.empty() && std::all_of(Text.begin(), Text.end(),
                                   [](char c) { return (c >= '0' && c <= '9') || c == '.'; })) {
    return kInvalidIPv4;
  }
  // Only what can be a host name goes to the resolver: junk from a log
  // would otherwise become queries to the name servers.
  return CanBeHostName(Text) ? std::string() : kNotAHostName;
}

bool CanBeHostName(std::string_view Text) {
  if (!Text.empty() && Text.back() == '.') Text.remove_suffix(1);
  if (Text.empty() || Text.size() > 253) return false;
  size_t label = 0;
  for (const char c : Text) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    const bool allowed =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
    if (!allowed || ++label > 63) return false;
  }
  return label > 0;
}

std::string TrimErrorText(std::string Text) {
  while (!Text.empty()) {
    const auto c = static_cast<unsigned char>(Text.back());
    if (c > ' ' && c != '.') break;
    Text.pop_back();
  }
  return Text;
}

std::string ResolverErrorText(int Code, int SystemError) {
  return TrimErrorText(Code == EAI_SYSTEM ? std::strerror(SystemError) : gai_strerror(Code));
}
