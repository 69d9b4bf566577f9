#include "tools/resolve.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "tools/tools.h"

namespace {

THostResolver& Resolver() {
  static THostResolver resolver = SystemResolveHost;
  return resolver;
}

}  // namespace

bool ParseNumericIPv4(std::string_view Text, uint32_t& NetworkOrder) {
  // The common form, four decimal parts without leading zeros, is read
  // here: a log of a million addresses spent a fifth of its time in
  // inet_addr. Every other form (octal, hex, fewer parts) is its.
  uint32_t host = 0;
  int parts = 0;
  for (size_t i = 0; i < Text.size() && parts < 4; ++parts) {
    const size_t start = i;
    uint32_t part = 0;
    while (i < Text.size() && i - start < 3 && Text[i] >= '0' && Text[i] <= '9') {
      part = part * 10 + static_cast<uint32_t>(Text[i++] - '0');
    }
    const bool leadingZero = Text[start] == '0' && i - start > 1;
    if (i == start || leadingZero || part > 255) break;
    host = host << 8 | part;
    if (parts == 3 && i == Text.size()) {
      if (host == 0xFFFFFFFFu) return false;  // inet_addr's failure value
      NetworkOrder = __builtin_bswap32(host);
      return true;
    }
    if (i >= Text.size() || Text[i] != '.') break;
    ++i;
  }
  // inet_addr reads up to a zero byte; text with one inside is not numeric.
  if (Text.find('\0') != std::string_view::npos) return false;
  const in_addr_t a = inet_addr(std::string(Text).c_str());
  if (a == INADDR_NONE) return false;
  NetworkOrder = a;
  return true;
}

TResolveResult SystemResolveHost(const std::string& Host, uint32_t& NetworkOrder) {
  if (Host.find('\0') != std::string::npos) return {EAI_NONAME, ResolverErrorText(EAI_NONAME, 0)};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(Host.c_str(), nullptr, &hints, &list);
  // errno belongs to this call only until the next one that may set it.
  const int systemError = errno;
  if (rc != 0) return {rc, ResolverErrorText(rc, systemError)};
  TResolveResult result{EAI_NODATA, ResolverErrorText(EAI_NODATA, 0)};
  for (const addrinfo* p = list; p; p = p->ai_next) {
    if (p->ai_family == AF_INET && p->ai_addr) {
      NetworkOrder = reinterpret_cast<const sockaddr_in*>(p->ai_addr)->sin_addr.s_addr;
      result = {};
      break;
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

bool IsIPv6Address(std::string_view Text) {
  // No IPv6 text is longer than 45 characters, and every one has a colon.
  if (Text.size() > 45 || Text.find(':') == std::string_view::npos) return false;
  char buf[46];
  std::memcpy(buf, Text.data(), Text.size());
  buf[Text.size()] = '\0';
  in6_addr a{};
  return ::inet_pton(AF_INET6, buf, &a) == 1;
}

TResolveResult ResolveQuery(const std::string& Text, uint32_t& IP,
                            const std::function<void(bool)>& Waiting) {
  uint32_t net = 0;
  if (IsIPv6Address(Text)) return {kIPv6Query, kIPv6NotSupported};
  if (!ParseNumericIPv4(Text, net)) {
    if (Waiting) Waiting(true);
    const TFinally done([&] {
      if (Waiting) Waiting(false);
    });
    const TResolveResult r = Resolver()(Text, net);
    if (r.Code != 0) return r;
  }
  IP = __builtin_bswap32(net);
  return {};
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
