// Addresses of both families: numeric values, text forms and prefixes.
#include "tools/address.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cstring>
#include <limits>

#include "tools/tools.h"

namespace {

// Mask of a prefix length 0..32.
uint32_t MaskOf(int Bits) { return Bits == 0 ? 0 : ~uint32_t{0} << (32 - Bits); }

std::string PrefixOrMask(uint32_t Start, int Bits, TNotation Mode) {
  char buf[40];
  char* p = FormatIP(Start, buf);
  if (Mode == nmCIDR) {
    *p++ = '/';
    if (Bits >= 10) *p++ = static_cast<char>('0' + Bits / 10);
    *p++ = static_cast<char>('0' + Bits % 10);
  } else {
    std::memcpy(p, " / ", 3);
    p = FormatIP(MaskOf(Bits), p + 3);
  }
  return std::string(buf, p);
}

// The common form, four parts of one to three decimal digits: read in one
// pass. False for anything else, which the general reader then decides.
bool PlainDottedQuad(std::string_view Text, uint32_t& Result) {
  auto p = Text.begin();
  const auto end = Text.end();
  uint32_t result = 0;
  for (int part = 0; part < 4; ++part) {
    uint32_t v = 0;
    int digits = 0;
    while (p < end && static_cast<unsigned>(*p - '0') < 10 && digits < 4) {
      v = v * 10 + static_cast<uint32_t>(*p++ - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || v > 255) return false;
    if (part < 3) {
      if (p == end || *p != '.') return false;
      ++p;
    } else if (p != end && *p != '.') {
      return false;
    }
    result = (result << 8) | v;
  }
  Result = result;
  return true;
}

}  // namespace

uint32_t StrToIP(std::string_view Text) {
  uint32_t quick;
  if (PlainDottedQuad(Text, quick)) return quick;
  size_t pos = 0;
  uint32_t result = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t start = pos < Text.size() ? pos : Text.size();
    while (pos < Text.size() && Text[pos] != '.') ++pos;
    int64_t value;
    if (!ReadInteger(Text.substr(start, pos - start), value) || value < 0 || value > 255) {
      return std::numeric_limits<uint32_t>::max();
    }
    result = (result << 8) | static_cast<uint32_t>(value);
    ++pos;
  }
  return result;
}

namespace {

// The decimal text of every octet, made once: formatting addresses is most
// of the work of answering a long list of them.
struct TOctetText {
  char Text[4];
  uint8_t Length;
};
constexpr auto kOctets = [] {
  std::array<TOctetText, 256> t{};
  for (unsigned v = 0; v < 256; ++v) {
    uint8_t n = 0;
    if (v >= 100) t[v].Text[n++] = static_cast<char>('0' + v / 100);
    if (v >= 10) t[v].Text[n++] = static_cast<char>('0' + v / 10 % 10);
    t[v].Text[n++] = static_cast<char>('0' + v % 10);
    t[v].Text[n] = '.';
    t[v].Length = n;
  }
  return t;
}();

}  // namespace

char* FormatIP(uint32_t IP, char* Out) {
  // Each octet with the dot after it in one four-byte copy; the last dot is
  // overwritten or left beyond the returned end.
  for (int shift = 24; shift > 0; shift -= 8) {
    const TOctetText& o = kOctets[(IP >> shift) & 255];
    std::memcpy(Out, o.Text, 4);
    Out += o.Length + 1;
  }
  const TOctetText& o = kOctets[IP & 255];
  std::memcpy(Out, o.Text, 3);
  return Out + o.Length;
}

std::string IPToStr(uint32_t IP) {
  char buf[16];
  return std::string(buf, FormatIP(IP, buf));
}

std::string PrefixText(const TPrefix& Prefix, TNotation Mode) {
  return PrefixOrMask(Prefix.Start, Prefix.Bits, Mode == nmMask ? nmMask : nmCIDR);
}

std::vector<TPrefix> IPv4Prefixes(uint32_t First, uint32_t Last) {
  std::vector<TPrefix> out;
  uint64_t lo = First;
  const uint64_t hi = Last;
  while (lo <= hi) {
    // The largest aligned prefix that starts at lo and stays within hi.
    int bits = lo == 0 ? 0 : 32 - __builtin_ctz(static_cast<uint32_t>(lo));
    while ((lo + (uint64_t{1} << (32 - bits)) - 1) > hi) ++bits;
    out.push_back({static_cast<uint32_t>(lo), bits});
    lo += uint64_t{1} << (32 - bits);
  }
  return out;
}

uint32_t SwapBytes(uint32_t Value) { return __builtin_bswap32(Value); }

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

bool StrToIPv6(std::string_view Text, TIPv6Address& Address) {
  // The longest text form is 45 characters (eight groups with an IPv4 tail).
  if (Text.size() > 45 || Text.find(':') == std::string_view::npos) return false;
  char text[46];
  Text.copy(text, Text.size());
  text[Text.size()] = '\0';
  unsigned char bytes[16];
  if (::inet_pton(AF_INET6, text, bytes) != 1) return false;
  Address = IPv6FromBytes(bytes);
  return true;
}

void IPv6ToBytes(TIPv6Address Address, unsigned char* Bytes) {
  const uint64_t half[2] = {__builtin_bswap64(static_cast<uint64_t>(Address >> 64)),
                            __builtin_bswap64(static_cast<uint64_t>(Address))};
  std::memcpy(Bytes, half, 16);
}

TIPv6Address IPv6FromBytes(const unsigned char* Bytes) {
  uint64_t half[2];
  std::memcpy(half, Bytes, 16);
  return TIPv6Address{__builtin_bswap64(half[0])} << 64 | __builtin_bswap64(half[1]);
}

std::string IPv6ToStr(TIPv6Address Address) {
  uint16_t group[8];
  for (int i = 7; i >= 0; --i, Address >>= 16) group[i] = static_cast<uint16_t>(Address);
  // ::ffff:0:0/96 holds IPv4 addresses, which are written as such.
  const bool mapped = group[0] == 0 && group[1] == 0 && group[2] == 0 && group[3] == 0 &&
                      group[4] == 0 && group[5] == 0xFFFF;
  const int groups = mapped ? 6 : 8;
  int best = -1, bestLength = 1;  // a lone zero group is not shortened
  for (int i = 0; i < groups;) {
    int j = i;
    while (j < groups && group[j] == 0) ++j;
    if (j - i > bestLength) {
      best = i;
      bestLength = j - i;
    }
    i = j > i ? j : i + 1;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < groups; ++i) {
    if (i == best) {
      s += "::";
      i += bestLength - 1;
      continue;
    }
    if (!s.empty() && s.back() != ':') s += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int digit = (group[i] >> shift) & 15;
      if (digit || started || shift == 0) {
        s += kHex[digit];
        started = true;
      }
    }
  }
  if (mapped) {
    if (s.back() != ':') s += ':';
    const uint32_t v4 = static_cast<uint32_t>(group[6]) << 16 | group[7];
    s += IPToStr(v4);
  }
  return s;
}

namespace {

// Trailing zero bits of a non-zero address, and the highest set bit.
int TrailingZeros(TIPv6Address V) {
  const auto low = static_cast<uint64_t>(V);
  return low ? __builtin_ctzll(low) : 64 + __builtin_ctzll(static_cast<uint64_t>(V >> 64));
}
int HighestBit(TIPv6Address V) {
  const auto high = static_cast<uint64_t>(V >> 64);
  return high ? 127 - __builtin_clzll(high) : 63 - __builtin_clzll(static_cast<uint64_t>(V));
}

}  // namespace

std::vector<TIPv6Prefix> IPv6Prefixes(TIPv6Address First, TIPv6Address Last) {
  std::vector<TIPv6Prefix> out;
  if (Last < First) return out;
  for (;;) {
    // The largest aligned prefix at First that ends at or before Last: as
    // many host bits as First's alignment and the addresses left allow.
    const TIPv6Address left = Last - First;  // addresses left, less one
    int hostBits = left == ~TIPv6Address{0} ? 128 : HighestBit(left + 1);
    if (First != 0) hostBits = std::min(hostBits, TrailingZeros(First));
    out.push_back({First, 128 - hostBits});
    if (hostBits == 128) return out;
    const TIPv6Address end = First + ((TIPv6Address{1} << hostBits) - 1);
    if (end >= Last) return out;
    First = end + 1;
  }
}

std::string IPv6PrefixText(const TIPv6Prefix& Prefix) {
  return IPv6ToStr(Prefix.Start) + "/" + std::to_string(Prefix.Bits);
}
