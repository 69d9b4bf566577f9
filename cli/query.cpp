#include "cli/query.h"

#include "tools/text.h"

namespace {

THostQuery Refused(std::string Shown, std::string Error) {
  THostQuery q;
  q.Shown = std::move(Shown);
  q.Error = std::move(Error);
  return q;
}

}  // namespace

int ReadNumericQuery(std::string_view Query, uint32_t& IP, TIPv6Address& IP6, bool* Canonical) {
  if (Query.size() > kMaxQuery || HasControlChars(Query)) return 0;
  // A colon makes no IPv4 address, in any of its forms: the IPv4 reader
  // alone for the common case.
  if (Query.find(':') == std::string_view::npos) {
    uint32_t net = 0;
    if (ParseNumericIPv4(Query, net)) {
      IP = SwapBytes(net);
      return 4;
    }
    // The reader's failure value is an address of the database too.
    if (!IsAllOnesIPv4(Query)) return 0;
    IP = 0xFFFFFFFFu;
    return 4;
  }
  if (!StrToIPv6(Query, IP6, Canonical)) return 0;
  return UnmapIPv4(IP6, IP) ? 4 : 6;
}

bool AnnotatedAsIPv4(const TFoundAddress& Found, uint32_t& IP) {
  if (!Found.IsIPv6) {
    IP = Found.IPv4;
    return true;
  }
  return UnmapIPv4(Found.IPv6, IP);
}

THostQuery ReadHostQuery(std::string_view Query, bool NoResolve, bool PreferIPv6) {
  if (Query.size() > kMaxQuery) {
    // Shown cut, so that one hostile line cannot flood the output either.
    const std::string cut = std::string(Query.substr(0, kMaxQuery)) + "...";
    return Refused(EscapeControlChars(cut), "Longer than any address or host name");
  }
  // A tab or a line end in an echoed query would shift the fields or
  // start what looks like another answer: such a query is no address,
  // and it is shown with those characters written out.
  if (HasControlChars(Query)) {
    return Refused(EscapeControlChars(Query), "control characters in the query");
  }
  std::string why = ResolverRefusal(Query);
  // Digits and dots that form no address are said to be so, resolver or not.
  if (NoResolve && why != kInvalidIPv4) why = "not an address";
  if (!why.empty()) return Refused(std::string(Query), why);
  THostQuery q;
  const TResolveResult r = ResolveHostName(std::string(Query), q.Address, PreferIPv6);
  if (r.Code != 0) return Refused(std::string(Query), r.Error);
  q.Found = true;
  return q;
}
