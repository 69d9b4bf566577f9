// The registries' shares of the address space: which registry administers
// each IPv4 /8 and each part of the IPv6 unicast space.
#include "dbbuild/allocations.h"

#include <algorithm>
#include <vector>

#include "ipdb/registries.h"
#include "tools/errors.h"

namespace {

// One letter per /8, as the registry table names them: A ARIN, R RIPE NCC,
// P APNIC, L LACNIC, F AFRINIC, '.' reserved or special-purpose (IANA).
constexpr char kSlash8Letters[] =
    ".PRAARAAAA.AAAPAAAAAAAAAARAPAAAR"  // 0-31
    "AAAAPRAPAFPPAARAAPARARRAARPPPPRA"  // 32-63
    "AAAAAAAAAAAAARRRRRRRRRRRRRRRRRRR"  // 64-95
    "AAAAAPFPAFPAARPPPPPPPPPPPPPPPPP."  // 96-127
    "AAALAPAAARAAARAAARRRAAPRAAFAFRRR"  // 128-159
    "AAAPRAAAAALRAAAPRLRLPLPPARLLRLLL"  // 160-191
    "ARRRFFAALLPPAAAAAAPPRRAAARPPPPPP"  // 192-223
    "................................"  // 224-255
    ;
static_assert(sizeof kSlash8Letters == 257);

std::array<uint16_t, 256> MakeSlash8Table() {
  std::array<uint16_t, 256> t{};
  for (size_t i = 0; i < t.size(); ++i) {
    const TRegistryInfo* r = RegistryByLetter(kSlash8Letters[i]);
    if (!r) throw EKeslError("The /8 table names no registry");
    t[i] = r->ID;
  }
  return t;
}

// IANA's IPv6 unicast address assignments to the registries, ascending; the
// space between them (special-purpose, 6to4, reserved) is IANA's own.
struct TIPv6Assignment {
  const char* Prefix;
  int Bits;
  char Registry;  // a letter as in the /8 table
};
constexpr TIPv6Assignment kIPv6Assignments[] = {
    {"2001:200::", 23, 'P'},  {"2001:400::", 23, 'A'},  {"2001:600::", 23, 'R'},
    {"2001:800::", 22, 'R'},  {"2001:c00::", 23, 'P'},  {"2001:e00::", 23, 'P'},
    {"2001:1200::", 23, 'L'}, {"2001:1400::", 22, 'R'}, {"2001:1800::", 23, 'A'},
    {"2001:1a00::", 23, 'R'}, {"2001:1c00::", 22, 'R'}, {"2001:2000::", 20, 'R'},
    {"2001:3000::", 21, 'R'}, {"2001:3800::", 22, 'R'}, {"2001:4000::", 23, 'R'},
    {"2001:4200::", 23, 'F'}, {"2001:4400::", 23, 'P'}, {"2001:4600::", 23, 'R'},
    {"2001:4800::", 23, 'A'}, {"2001:4a00::", 23, 'R'}, {"2001:4c00::", 23, 'R'},
    {"2001:5000::", 20, 'R'}, {"2001:8000::", 19, 'P'}, {"2001:a000::", 20, 'P'},
    {"2001:b000::", 20, 'P'}, {"2003::", 18, 'R'},      {"2400::", 12, 'P'},
    {"2600::", 12, 'A'},      {"2610::", 23, 'A'},      {"2620::", 23, 'A'},
    {"2630::", 12, 'A'},      {"2800::", 12, 'L'},      {"2a00::", 12, 'R'},
    {"2a10::", 12, 'R'},      {"2c00::", 12, 'F'},
};

struct TIPv6Span {
  TIPv6Address First, Last;
  uint16_t Registry;
};

std::vector<TIPv6Span> MakeIPv6Table() {
  std::vector<TIPv6Span> t;
  for (const TIPv6Assignment& a : kIPv6Assignments) {
    TIPv6Address first;
    const TRegistryInfo* r = RegistryByLetter(a.Registry);
    if (!StrToIPv6(a.Prefix, first) || !r) throw EKeslError("The IPv6 table is broken");
    const TIPv6Address last = first | IPv6HostMask(a.Bits);
    if (!t.empty() && t.back().Last >= first) throw EKeslError("The IPv6 table is not in order");
    t.push_back({first, last, r->ID});
  }
  return t;
}

}  // namespace

const std::array<uint16_t, 256> kSlash8Registry = MakeSlash8Table();

uint16_t IPv6Registry(TIPv6Address Address, TIPv6Address& End) {
  static const std::vector<TIPv6Span> table = MakeIPv6Table();
  const auto next =
      std::upper_bound(table.begin(), table.end(), Address,
                       [](TIPv6Address A, const TIPv6Span& S) { return A < S.First; });
  if (next != table.begin() && std::prev(next)->Last >= Address) {
    End = std::prev(next)->Last;
    return std::prev(next)->Registry;
  }
  End = next == table.end() ? ~TIPv6Address{0} : next->First - 1;
  return kIanaID;
}
