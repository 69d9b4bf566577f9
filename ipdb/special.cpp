#include "ipdb/special.h"

#include <charconv>
#include <string>

namespace {

struct TRow {
  int Family;
  std::string_view Prefix, Name, Rfc;
  TReachable Reachable;
};

// As IANA's registries list them; the two from the address-space
// registries (multicast) stand after the special-purpose entries of their
// family. Multicast is not unicast-reachable: it counts as not globally
// reachable, as firewalls' bogon lists take it.
constexpr TRow kRows[] = {
    {4, "0.0.0.0/8", "\"This network\"", "RFC791, Section 3.2", reNo},
    {4, "0.0.0.0/32", "\"This host on this network\"", "RFC1122, Section 3.2.1.3", reNo},
    {4, "10.0.0.0/8", "Private-Use", "RFC1918", reNo},
    {4, "100.64.0.0/10", "Shared Address Space", "RFC6598", reNo},
    {4, "127.0.0.0/8", "Loopback", "RFC1122, Section 3.2.1.3", reNo},
    {4, "169.254.0.0/16", "Link Local", "RFC3927", reNo},
    {4, "172.16.0.0/12", "Private-Use", "RFC1918", reNo},
    {4, "192.0.0.0/24", "IETF Protocol Assignments", "RFC6890, Section 2.1", reNo},
    {4, "192.0.0.0/29", "IPv4 Service Continuity Prefix", "RFC7335", reNo},
    {4, "192.0.0.8/32", "IPv4 dummy address", "RFC7600", reNo},
    {4, "192.0.0.9/32", "Port Control Protocol Anycast", "RFC7723", reYes},
    {4, "192.0.0.10/32", "Traversal Using Relays around NAT Anycast", "RFC8155", reYes},
    {4, "192.0.0.170/32", "NAT64/DNS64 Discovery", "RFC8880, RFC7050, Section 2.2", reNo},
    {4, "192.0.0.171/32", "NAT64/DNS64 Discovery", "RFC8880, RFC7050, Section 2.2", reNo},
    {4, "192.0.2.0/24", "Documentation (TEST-NET-1)", "RFC5737", reNo},
    {4, "192.31.196.0/24", "AS112-v4", "RFC7535", reYes},
    {4, "192.52.193.0/24", "AMT", "RFC7450", reYes},
    {4, "192.88.99.0/24", "Deprecated (6to4 Relay Anycast)", "RFC7526", reNotApplicable},
    {4, "192.168.0.0/16", "Private-Use", "RFC1918", reNo},
    {4, "192.175.48.0/24", "Direct Delegation AS112 Service", "RFC7534", reYes},
    {4, "198.18.0.0/15", "Benchmarking", "RFC2544", reNo},
    {4, "198.51.100.0/24", "Documentation (TEST-NET-2)", "RFC5737", reNo},
    {4, "203.0.113.0/24", "Documentation (TEST-NET-3)", "RFC5737", reNo},
    {4, "240.0.0.0/4", "Reserved", "RFC1112, Section 4", reNo},
    {4, "255.255.255.255/32", "Limited Broadcast", "RFC8190, RFC919, Section 7", reNo},
    {4, "224.0.0.0/4", "Multicast", "RFC5771", reNo},
    {6, "::1/128", "Loopback Address", "RFC4291", reNo},
    {6, "::/128", "Unspecified Address", "RFC4291", reNo},
    {6, "::ffff:0:0/96", "IPv4-mapped Address", "RFC4291", reNo},
    {6, "64:ff9b::/96", "IPv4-IPv6 Translat.", "RFC6052", reYes},
    {6, "64:ff9b:1::/48", "IPv4-IPv6 Translat.", "RFC8215", reNo},
    {6, "100::/64", "Discard-Only Address Block", "RFC6666", reNo},
    {6, "100:0:0:1::/64", "Dummy IPv6 Prefix", "RFC9780", reNo},
    {6, "2001::/23", "IETF Protocol Assignments", "RFC2928", reNo},
    {6, "2001::/32", "TEREDO", "RFC4380, RFC8190", reNotApplicable},
    {6, "2001:1::1/128", "Port Control Protocol Anycast", "RFC7723", reYes},
    {6, "2001:1::2/128", "Traversal Using Relays around NAT Anycast", "RFC8155", reYes},
    {6, "2001:1::3/128", "DNS-SD Service Registration Protocol Anycast", "RFC9665", reYes},
    {6, "2001:2::/48", "Benchmarking", "RFC5180, RFC Errata 1752", reNo},
    {6, "2001:3::/32", "AMT", "RFC7450", reYes},
    {6, "2001:4:112::/48", "AS112-v6", "RFC7535", reYes},
    {6, "2001:10::/28", "Deprecated (previously ORCHID)", "RFC4843", reNotApplicable},
    {6, "2001:20::/28", "ORCHIDv2", "RFC7343", reYes},
    {6, "2001:30::/28", "Drone Remote ID Protocol Entity Tags (DETs) Prefix", "RFC9374", reYes},
    {6, "2001:db8::/32", "Documentation", "RFC3849", reNo},
    {6, "2002::/16", "6to4", "RFC3056", reNotApplicable},
    {6, "2620:4f:8000::/48", "Direct Delegation AS112 Service", "RFC7534", reYes},
    {6, "3fff::/20", "Documentation", "RFC9637", reNo},
    {6, "5f00::/16", "Segment Routing (SRv6) SIDs", "RFC9602", reNo},
    {6, "fc00::/7", "Unique-Local", "RFC4193, RFC8190", reNo},
    {6, "fe80::/10", "Link-Local Unicast", "RFC4291", reNo},
    {6, "ff00::/8", "Multicast", "RFC4291", reNo},
};

std::vector<TSpecialRange> MakeTable() {
  std::vector<TSpecialRange> table;
  for (const TRow& row : kRows) {
    TSpecialRange r;
    r.Family = row.Family;
    r.Prefix = row.Prefix;
    r.Name = row.Name;
    r.Rfc = row.Rfc;
    r.Reachable = row.Reachable;
    const size_t slash = row.Prefix.find('/');
    int bits = 0;
    std::from_chars(row.Prefix.data() + slash + 1, row.Prefix.data() + row.Prefix.size(), bits);
    const std::string_view address = row.Prefix.substr(0, slash);
    if (row.Family == 4) {
      uint32_t ip = 0;
      ReadDottedQuad(address, ip);
      r.First = MapIPv4(ip);
      bits += 96;
    } else {
      StrToIPv6(address, r.First);
    }
    r.Last = r.First | IPv6HostMask(bits);
    table.push_back(r);
  }
  return table;
}

const TSpecialRange* Find(int Family, TIPv6Address Key) {
  const TSpecialRange* best = nullptr;
  for (const TSpecialRange& r : SpecialRanges()) {
    if (r.Family != Family || Key < r.First || Key > r.Last) continue;
    if (!best || r.Last - r.First < best->Last - best->First) best = &r;
  }
  return best;
}

}  // namespace

const std::vector<TSpecialRange>& SpecialRanges() {
  static const std::vector<TSpecialRange> table = MakeTable();
  return table;
}

const TSpecialRange* FindSpecial(uint32_t IP) { return Find(4, MapIPv4(IP)); }

const TSpecialRange* FindSpecial(TIPv6Address IP) { return Find(6, IP); }

std::string_view ReachableText(TReachable R) {
  return R == reYes ? "yes" : R == reNo ? "no" : "n/a";
}
