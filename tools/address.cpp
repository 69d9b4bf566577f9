// Addresses of both families: numeric values, text forms and prefixes.
#include "tools/address.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <limits>

#include "tools/text.h"

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

bool ReadDottedQuad(std::string_view Text, uint32_t& IP) {
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (i >= Text.size() || Text[i++] != '.')) return false;
    const size_t start = i;
    uint32_t n = 0;
    while (i < Text.size() && i - start < 3 && Text[i] >= '0' && Text[i] <= '9') {
      n = n * 10 + static_cast<uint32_t>(Text[i++] - '0');
    }
    if (i == start || n > 255 || (Text[start] == '0' && i - start > 1)) return false;
    value = value << 8 | n;
  }
  if (i != Text.size()) return false;
  IP = value;
  return true;
}

bool IsAllOnesIPv4(std::string_view Text) {
  if (Text.find('\0') != std::string_view::npos) return false;
  in_addr a{};
  return inet_aton(std::string(Text).c_str(), &a) != 0 && a.s_addr == 0xFFFFFFFFu;
}

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

namespace {

constexpr std::array<int8_t, 256> MakeHexValues() {
  std::array<int8_t, 256> v{};
  for (auto& x : v) x = -1;
  for (int c = '0'; c <= '9'; ++c) v[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) v[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) v[c] = static_cast<int8_t>(c - 'A' + 10);
  return v;
}
constexpr std::array<int8_t, 256> kHexValues = MakeHexValues();

inline int HexValue(char C) { return kHexValues[static_cast<unsigned char>(C)]; }

// A dotted quad as the tail of an IPv6 address: four parts of 0 to 255,
// no leading zeros, nothing after.
bool ParseIPv4Tail(std::string_view Text, uint32_t& IP) {
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part) {
      if (i >= Text.size() || Text[i] != '.') return false;
      ++i;
    }
    const size_t start = i;
    uint32_t x = 0;
    while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9' && i - start < 3) {
      x = x * 10 + static_cast<uint32_t>(Text[i++] - '0');
    }
    if (i == start || (i - start > 1 && Text[start] == '0') || x > 255) return false;
    value = value << 8 | x;
  }
  if (i != Text.size()) return false;
  IP = value;
  return true;
}

// Of the zero groups whose bits are set in Zeros (group i in bit i), the
// first longest run of two or more: where it starts (Best, -1 for none)
// and how long it is (Length, 1 for none). Most addresses have no zero
// group at all.
inline void LongestZeroRun(unsigned Zeros, int& Best, int& Length) {
  Best = -1;
  Length = 1;
  for (int i = 0; Zeros >> i;) {
    i += std::countr_zero(Zeros >> i);
    const int length = std::countr_one(Zeros >> i);
    if (length > Length) {
      Best = i;
      Length = length;
    }
    i += length;
  }
}

}  // namespace

#if defined(__SSE2__)
namespace {

// The full form alone, eight groups of four hex digits (39 characters, as
// most addresses of a log or a stream are written): read 16 bytes at a
// time. False for any other text, which the general reader then takes.
bool ReadFullIPv6(std::string_view Text, TIPv6Address& Address, bool* Canonical) {
  const char* p = Text.data();
  const auto load = [p](size_t At) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + At));
  };
  // Bytes 0-15, 16-31 and 23-38: the last overlaps the second.
  const __m128i part[3] = {load(0), load(16), load(23)};
  __m128i nibbles[3];
  uint64_t hex = 0, colon = 0, upper = 0;
  for (int k = 0; k < 3; ++k) {
    const __m128i c = part[k];
    const __m128i lower = _mm_or_si128(c, _mm_set1_epi8(0x20));
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)),
                                        _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)),
                                         _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
    const __m128i big =
        _mm_and_si128(letter, _mm_cmpeq_epi8(c, _mm_andnot_si128(_mm_set1_epi8(0x20), c)));
    // A digit's value is its low four bits; a letter's, those plus 9.
    nibbles[k] = _mm_add_epi8(_mm_and_si128(c, _mm_set1_epi8(0x0F)),
                              _mm_and_si128(letter, _mm_set1_epi8(9)));
    const int shift = k == 2 ? 23 : 16 * k;
    hex |= uint64_t(unsigned(_mm_movemask_epi8(_mm_or_si128(digit, letter)))) << shift;
    colon |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(c, _mm_set1_epi8(':'))))) << shift;
    upper |= uint64_t(unsigned(_mm_movemask_epi8(big))) << shift;
  }
  constexpr uint64_t kColons = 0x0421084210ull;  // after each group: 4, 9, ... 34
  constexpr uint64_t kAll = (uint64_t{1} << 39) - 1;
  if (colon != kColons || hex != (kAll & ~kColons)) return false;
  alignas(16) unsigned char n[48];
  _mm_store_si128(reinterpret_cast<__m128i*>(n), nibbles[0]);
  _mm_store_si128(reinterpret_cast<__m128i*>(n + 16), nibbles[1]);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(n + 23), nibbles[2]);
  uint64_t half[2] = {0, 0};
  bool padded = false;
  for (int g = 0; g < 8; ++g) {
    uint32_t w;  // the group's four digit values, the first lowest
    std::memcpy(&w, n + 5 * g, 4);
    const uint32_t pairs = (w & 0x000F000F) << 4 | (w >> 8 & 0x000F000F);
    half[g / 4] = half[g / 4] << 16 | (pairs & 0xFF) << 8 | (pairs >> 16 & 0xFF);
    padded |= p[5 * g] == '0';
  }
  Address = TIPv6Address{half[0]} << 64 | half[1];
  // Four digits a group, the first not 0: as written, unless in upper case.
  // (No group is zero, so no "::" was due.)
  if (Canonical) *Canonical = !upper && !padded;
  return true;
}

}  // namespace
#endif

bool StrToIPv6(std::string_view Text, TIPv6Address& Address, bool* Canonical) {
  // RFC 4291's text forms: eight groups of one to four hex digits, a "::"
  // once for one or more zero groups, the last 32 bits maybe as a dotted
  // quad. Read by hand: the library's reader took half the time of a
  // stream of IPv6 queries.
  if (Text.size() < 2 || Text.size() > 45 || Text.find(':') == std::string_view::npos) return false;
#if defined(__SSE2__)
  if (Text.size() == 39 && ReadFullIPv6(Text, Address, Canonical)) return true;
#endif
  uint16_t group[8];
  int count = 0, gap = -1;  // groups read; where "::" stands
  size_t i = 0;
  if (Text[0] == ':') {
    if (Text[1] != ':') return false;
    gap = 0;
    i = 2;
    if (i == Text.size()) {
      Address = 0;
      if (Canonical) *Canonical = true;
      return true;
    }
  }
  // What makes a text other than the address as written: an upper-case
  // digit (a letter without the lower-case bit), a group with a leading
  // zero, a dotted quad.
  unsigned upper = 0, zeros = 0;  // zeros: the zero groups as the text has them
  bool padded = false, dotted = false;
  for (;;) {
    // A group, or a dotted quad that ends the text.
    const size_t start = i;
    uint32_t value = 0;
    while (i < Text.size() && i - start < 5) {
      const int h = HexValue(Text[i]);
      if (h < 0) break;
      value = value << 4 | static_cast<uint32_t>(h);
      upper |= ~static_cast<unsigned>(Text[i]) & 0x20;
      ++i;
    }
    if (i < Text.size() && Text[i] == '.') {
      dotted = true;
      uint32_t v4 = 0;
      if (count > 6 || !ParseIPv4Tail(Text.substr(start), v4)) return false;
      group[count++] = static_cast<uint16_t>(v4 >> 16);
      group[count++] = static_cast<uint16_t>(v4);
      break;
    }
    if (i == start || i - start > 4 || count == 8) return false;
    zeros |= unsigned{value == 0} << count;
    group[count++] = static_cast<uint16_t>(value);
    padded |= i - start > 1 && Text[start] == '0';
    if (i == Text.size()) break;
    if (Text[i] != ':') return false;
    ++i;
    if (i < Text.size() && Text[i] == ':') {
      if (gap >= 0) return false;
      gap = count;
      ++i;
      if (i == Text.size()) break;
    } else if (i == Text.size()) {
      return false;  // a single colon at the end
    }
  }
  if (gap < 0 ? count != 8 : count > 7) return false;
  // The groups after "::" move to the end; the halves are put together in
  // 64 bits each.
  uint16_t all[8] = {};
  const int after = gap < 0 ? count : gap;
  for (int g = 0; g < after; ++g) all[g] = group[g];
  for (int g = after; g < count; ++g) all[8 - count + g] = group[g];
  uint64_t high = 0, low = 0;
  for (int g = 0; g < 4; ++g) {
    high = high << 16 | all[g];
    low = low << 16 | all[g + 4];
  }
  Address = TIPv6Address{high} << 64 | low;
  if (Canonical) {
    // As written, a "::" stands for the first longest run of zero groups
    // and only for it: with the zeros it stands for, the run must be
    // exactly that. A mapped address is written ::ffff:a.b.c.d, its quad
    // as it is read.
    const int stood = gap < 0 ? 0 : 8 - count;
    const unsigned zeroGroups = gap < 0 ? zeros
                                        : (zeros & ((1u << gap) - 1)) | ((1u << stood) - 1) << gap |
                                              (zeros >> gap) << (gap + stood);
    const bool mapped = IsMappedIPv4(Address);
    int best = -1, length = 1;
    if (!dotted) LongestZeroRun(zeroGroups, best, length);
    *Canonical = !upper && !padded &&
                 (dotted ? mapped && gap == 0 && count == 3
                         : !mapped && (gap < 0 ? best < 0 : best == gap && length == stood));
  }
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

namespace {

// The 32 hex digits of an address's 16 bytes (High, then Low, most
// significant first) in lower case, leading zeros and all: four a group.
void HexDigits(uint64_t High, uint64_t Low, char* Digits) {
#if defined(__SSE2__)
  const uint64_t big[2] = {__builtin_bswap64(High), __builtin_bswap64(Low)};
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(big));
  const __m128i nibble = _mm_set1_epi8(0x0F);
  const __m128i hi = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
  const __m128i lo = _mm_and_si128(bytes, nibble);
  const auto ascii = [](__m128i N) {
    const __m128i letters =
        _mm_and_si128(_mm_cmpgt_epi8(N, _mm_set1_epi8(9)), _mm_set1_epi8('a' - '0' - 10));
    return _mm_add_epi8(_mm_add_epi8(N, _mm_set1_epi8('0')), letters);
  };
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Digits), ascii(_mm_unpacklo_epi8(hi, lo)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(Digits + 16), ascii(_mm_unpackhi_epi8(hi, lo)));
#else
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    Digits[i] = kHex[(High >> (60 - 4 * i)) & 15];
    Digits[i + 16] = kHex[(Low >> (60 - 4 * i)) & 15];
  }
#endif
}

// Group G of an address whose digits are Digits, without leading zeros.
// Writes four bytes whatever the group's length: Out has room for them.
char* HexGroup(uint16_t G, const char* Digits, char* Out) {
  const int length = std::max(1, (std::bit_width(G) + 3) / 4);
  std::memcpy(Out, Digits + 4 - length, 4);
  return Out + length;
}

}  // namespace

char* FormatIPv6(TIPv6Address Address, char* Out) {
  uint16_t group[8];
  const auto high = static_cast<uint64_t>(Address >> 64), low = static_cast<uint64_t>(Address);
  for (int i = 0; i < 4; ++i) {
    group[i] = static_cast<uint16_t>(high >> (48 - 16 * i));
    group[i + 4] = static_cast<uint16_t>(low >> (48 - 16 * i));
  }
  // ::ffff:0:0/96 holds IPv4 addresses, which are written as such; the
  // first longest run of two or more zero groups is written "::".
  const bool mapped = IsMappedIPv4(Address);
  const int groups = mapped ? 6 : 8;
  unsigned zeros = 0;
  for (int i = 0; i < groups; ++i) zeros |= unsigned{group[i] == 0} << i;
  int best, bestLength;
  LongestZeroRun(zeros, best, bestLength);
  // Four bytes more than the digits: a group's copy reads four bytes from
  // its first significant digit on.
  char digits[36] = {};
  HexDigits(high, low, digits);
  for (int i = 0; i < groups; ++i) {
    if (i == best) {
      *Out++ = ':';
      *Out++ = ':';
      i += bestLength - 1;
      continue;
    }
    if (i > 0 && i != best + bestLength) *Out++ = ':';
    Out = HexGroup(group[i], digits + 4 * i, Out);
  }
  if (mapped) {
    if (best + bestLength != 6) *Out++ = ':';
    Out = FormatIP(static_cast<uint32_t>(group[6]) << 16 | group[7], Out);
  }
  return Out;
}

std::string IPv6ToStr(TIPv6Address Address) {
  char text[kMaxIPv6Text];
  return std::string(text, FormatIPv6(Address, text));
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
