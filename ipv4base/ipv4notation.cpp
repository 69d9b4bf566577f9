// Text forms of addresses, blocks and country codes.
#include "ipv4base/ipv4notation.h"

#include <array>
#include <cstring>
#include <limits>

#include "ipv4base/ipv4base.h"
#include "tools/tools.h"

namespace {

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

// Mask of a prefix length 0..32.
uint32_t MaskOf(int Bits) { return Bits == 0 ? 0 : ~uint32_t{0} << (32 - Bits); }

// Prefix length that nmCIDR shows for a Count: the shortest prefix whose
// range holds at least Count addresses (Count 0 counts as 2^32).
int ShortestBits(uint32_t Count) {
  uint32_t n = Count - 1;
  int bits = 32;
  while (n > 0) {
    n >>= 1;
    --bits;
  }
  return bits;
}

// One aligned prefix exactly: a power of two in size, start aligned to it.
bool IsOnePrefix(const TIPv4Block& B) {
  return B.Count != 0 && (B.Count & (B.Count - 1)) == 0 && (B.StartIP & (B.Count - 1)) == 0;
}

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

}  // namespace

bool ReadInteger(std::string_view Text, int64_t& Value) {
  // Plain decimal digits that cannot overflow: the common case, in one pass.
  if (!Text.empty() && Text.size() <= 18) {
    int64_t v = 0;
    size_t i = 0;
    for (; i < Text.size() && static_cast<unsigned>(Text[i] - '0') < 10; ++i) {
      v = v * 10 + (Text[i] - '0');
    }
    if (i == Text.size()) {
      Value = v;
      return true;
    }
  }
  size_t i = 0;
  const size_t n = Text.size();
  while (i < n && Text[i] == ' ') ++i;
  bool negative = false;
  if (i < n && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
  int base = 10;
  if (i < n && Text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < n && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == n) return false;
  // Magnitude up to 2^63, which only a negative number may reach.
  const uint64_t limit = uint64_t{1} << 63;
  uint64_t v = 0;
  for (; i < n; ++i) {
    const int d = HexDigit(Text[i]);
    if (d < 0 || d >= base) return false;
    // Only a value this large can overflow with one more digit.
    if (v >= (uint64_t{1} << 59) &&
        v > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) {
      return false;
    }
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  if (v == limit && !negative) return false;
  Value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

namespace {

// The common form, four parts of one to three decimal digits: read in one
// pass. False for anything else, which the general reader then decides.
bool PlainDottedQuad(std::string_view Text, uint32_t& Result) {
  const char* p = Text.data();
  const char* const end = p + Text.size();
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

uint32_t TIPv4Block::LastIP() const {
  if (Count == 0) return StartIP - 1;
  const uint64_t last = static_cast<uint64_t>(StartIP) + Count - 1;
  return last > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(last);
}

std::vector<TPrefix> TIPv4Block::Prefixes() const {
  std::vector<TPrefix> out;
  if (Count == 0) return out;
  uint64_t lo = StartIP;
  const uint64_t hi = LastIP();
  while (lo <= hi) {
    // The largest aligned prefix that starts at lo and stays within hi.
    int bits = lo == 0 ? 0 : 32 - __builtin_ctz(static_cast<uint32_t>(lo));
    while ((lo + (uint64_t{1} << (32 - bits)) - 1) > hi) ++bits;
    out.push_back({static_cast<uint32_t>(lo), bits});
    lo += uint64_t{1} << (32 - bits);
  }
  return out;
}

std::string TIPv4Block::AsText(TNotation Mode) const {
  if (Mode == nmCIDR || Mode == nmMask) {
    if (IsOnePrefix(*this) || Count == 0) return PrefixOrMask(StartIP, ShortestBits(Count), Mode);
    std::string text;
    for (const TPrefix& p : Prefixes()) {
      if (!text.empty()) text += ", ";
      text += PrefixOrMask(p.Start, p.Bits, Mode);
    }
    return text;
  }
  char buf[40];
  char* p = FormatIP(StartIP, buf);
  std::memcpy(p, " - ", 3);
  p = FormatIP(StartIP + Count - 1, p + 3);
  return std::string(buf, p);
}

std::vector<std::string> TIPv4Block::AsLines(TNotation Mode) const {
  std::vector<std::string> lines;
  if ((Mode == nmCIDR || Mode == nmMask) && Count != 0) {
    for (const TPrefix& p : Prefixes()) lines.push_back(PrefixOrMask(p.Start, p.Bits, Mode));
  } else {
    lines.push_back(AsText(Mode));
  }
  return lines;
}

std::string CodeToStr(uint16_t Code) {
  const char text[2] = {static_cast<char>(Code >> 8), static_cast<char>(Code & 255)};
  return std::string(text, 2);
}

std::string TIPv4Block::CountryStr() const { return CodeToStr(CountryCode); }

std::string BlocksText(const std::vector<const TIPv4Block*>& Blocks, TNotation Mode,
                       std::string_view LineEnd, const std::function<bool(size_t)>& Progress) {
  return BlocksTextOf(Blocks, Mode, LineEnd, Progress);
}

uint32_t SwapBytes(uint32_t Value) { return __builtin_bswap32(Value); }

std::string Latin1ToUtf8(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (const char c : Text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return out;
}
