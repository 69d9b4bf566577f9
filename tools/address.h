// Addresses of both families: their numeric values, their text forms, and
// the aligned prefixes that cover a range of them. The one place that
// reads and writes address text.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Addresses are turned between network and host order by swapping bytes
// (SwapBytes, IPv6FromBytes, ParseNumericIPv4): the code assumes a
// little-endian machine, and a big-endian one is refused here.
static_assert(std::endian::native == std::endian::little,
              "Kesl turns network byte order into host order by swapping bytes: it needs a "
              "little-endian target");

// An IPv6 address as one 128-bit number, the first byte of its network
// form in the top bits, so that addresses compare as numbers.
using TIPv6Address = unsigned __int128;

// Notation modes of the block text forms; any other value writes the range
// form.
enum TNotation : int { nmRange = 0, nmCIDR = 1, nmMask = 2 };

// One aligned IPv4 prefix: Bits leading bits of Start are fixed.
struct TPrefix {
  uint32_t Start;
  int Bits;
  bool operator==(const TPrefix&) const = default;
};

// One aligned IPv6 prefix: Bits leading bits of Start are fixed.
struct TIPv6Prefix {
  TIPv6Address Start;
  int Bits;
  bool operator==(const TIPv6Prefix&) const = default;
};

// --- IPv4 ---

// Dotted quad to address; 4294967295 (also 255.255.255.255) on failure.
uint32_t StrToIP(std::string_view Text);
inline uint32_t StrToIP(const std::string& Text) { return StrToIP(std::string_view(Text)); }
inline uint32_t StrToIP(const char* Text) { return StrToIP(std::string_view(Text)); }
// The numeric forms inet_addr accepts (10.1.2.3, 127.1, 0x7f.1, 2130706433).
// The address comes in network byte order. 255.255.255.255 is refused, as
// inet_addr gives it the value of its failure.
bool ParseNumericIPv4(std::string_view Text, uint32_t& NetworkOrder);
// The strict dotted quad alone, as the registries write it: four decimal
// parts of 0 to 255, no sign, no leading zero, nothing around them. The
// address in host order; false for anything else.
bool ReadDottedQuad(std::string_view Text, uint32_t& IP);
// Whether Text is 255.255.255.255 in one of the numeric forms
// ParseNumericIPv4 reads (255.255.255.255, 0xffffffff, 4294967295, ...):
// the address that it cannot give, as inet_addr cannot.
bool IsAllOnesIPv4(std::string_view Text);
// Dotted form of an address, without leading zeros.
std::string IPToStr(uint32_t IP);
// Writes the dotted form at Out (room for 15 characters); returns its end.
char* FormatIP(uint32_t IP, char* Out);
// Network to host byte order and back.
uint32_t SwapBytes(uint32_t Value);
// The fewest aligned prefixes, ascending, that cover exactly First .. Last.
std::vector<TPrefix> IPv4Prefixes(uint32_t First, uint32_t Last);
// Text of one prefix in nmCIDR ("a.b.c.d/n") or nmMask ("a.b.c.d / m.m.m.m");
// any other mode writes nmCIDR.
std::string PrefixText(const TPrefix& Prefix, TNotation Mode);

// --- IPv6 ---

// An address in any of RFC 4291's text forms (2001:db8::1,
// ::ffff:192.0.2.1); false for anything else, zone suffixes included.
// With Canonical, also whether Text is the address as FormatIPv6 writes
// it, so that a caller can show Text instead of writing it again.
bool StrToIPv6(std::string_view Text, TIPv6Address& Address, bool* Canonical = nullptr);
// The RFC 5952 form: lower case, no leading zeros, the longest run of two or
// more zero groups (the first of equal runs) as "::", and the IPv4-mapped
// range as ::ffff:a.b.c.d.
std::string IPv6ToStr(TIPv6Address Address);
// The same into Out, which has room for kMaxIPv6Text characters (a few
// more than the longest text: bytes past the end may be written); returns
// the end of the text.
constexpr size_t kMaxIPv6Text = 52;
char* FormatIPv6(TIPv6Address Address, char* Out);
// ::ffff:0:0/96 holds IPv4 addresses: whether Address lies in it.
constexpr bool IsMappedIPv4(TIPv6Address Address) { return Address >> 32 == 0xFFFF; }
// True, with IPv4 the address it holds, for an address in it; false for
// any other.
constexpr bool UnmapIPv4(TIPv6Address Address, uint32_t& IPv4) {
  if (!IsMappedIPv4(Address)) return false;
  IPv4 = static_cast<uint32_t>(Address);
  return true;
}
// The IPv4-mapped IPv6 address of an IPv4 address (::ffff:a.b.c.d).
constexpr TIPv6Address MapIPv4(uint32_t IPv4) { return (TIPv6Address{0xFFFF} << 32) | IPv4; }
// The 16 bytes of the network form, first byte first.
void IPv6ToBytes(TIPv6Address Address, unsigned char* Bytes);
TIPv6Address IPv6FromBytes(const unsigned char* Bytes);
// The host bits of a prefix Bits long (0 to 128) set: its last address
// is its first | IPv6HostMask(Bits).
constexpr TIPv6Address IPv6HostMask(int Bits) { return Bits >= 128 ? 0 : ~TIPv6Address{0} >> Bits; }
// The fewest aligned prefixes, ascending, that cover exactly First .. Last.
std::vector<TIPv6Prefix> IPv6Prefixes(TIPv6Address First, TIPv6Address Last);
// "2001:db8::/32".
std::string IPv6PrefixText(const TIPv6Prefix& Prefix);
