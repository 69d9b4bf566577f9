#include "tools/addrscan.h"

#include <algorithm>
#include <array>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The parts of a long run worth keeping: a dotted quad and a dot after it.
constexpr size_t kMaxPart = 16;

enum : uint8_t { kRunChar = 1, kWordChar = 2 };

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> c{};
  for (int i = '0'; i <= '9'; ++i) c[i] = kRunChar | kWordChar;
  for (int i = 'a'; i <= 'z'; ++i) c[i] = kWordChar | (i <= 'f' ? kRunChar : 0);
  for (int i = 'A'; i <= 'Z'; ++i) c[i] = kWordChar | (i <= 'F' ? kRunChar : 0);
  c['_'] = kWordChar;
  c[':'] = kRunChar;
  c['.'] = kRunChar;
  return c;
}
constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

inline int Byte(char C) { return static_cast<unsigned char>(C); }
inline bool IsRun(char C) { return kClasses[static_cast<unsigned char>(C)] & kRunChar; }
// -1, no character (the start or the end of the text), is no word.
inline bool IsWord(int C) { return C >= 0 && (kClasses[static_cast<size_t>(C)] & kWordChar); }
inline bool IsLetter(int C) { return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z'); }

// Four parts of 0 to 255 without leading zeros, and nothing else.
bool ParseQuad(const char* P, size_t N, uint32_t& IP) {
  if (N < 7 || N > 15) return false;
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0;; ++part) {
    const size_t start = i;
    uint32_t x = 0;
    while (i < N && P[i] >= '0' && P[i] <= '9' && i - start < 3) x = x * 10 + (P[i++] - '0');
    const size_t length = i - start;
    if (length == 0 || (length > 1 && P[start] == '0') || x > 255) return false;
    value = value << 8 | x;
    if (part == 3) break;
    if (i >= N || P[i] != '.') return false;
    ++i;
  }
  if (i != N) return false;
  IP = value;
  return true;
}

// Whether Text has the shape of an IPv6 address: groups of one to four hex
// digits between colons, at most one "::", eight groups without it (the
// last two may be a dotted IPv4 tail). Most runs with two colons (times,
// MAC addresses) fail here, before the full parse.
bool MayBeIPv6(std::string_view Text) {
  int groups = 0, digits = 0;
  bool doubled = false, dotted = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == ':') {
      if (dotted) return false;
      if (i + 1 < Text.size() && Text[i + 1] == ':') {
        if (doubled) return false;
        doubled = true;
        groups += digits > 0;
        digits = 0;
        ++i;
        continue;
      }
      if (digits == 0 && i > 0) return false;
      groups += digits > 0;
      digits = 0;
    } else if (c == '.') {
      dotted = true;
    } else if (++digits > 4 && !dotted) {
      return false;
    }
  }
  groups += dotted ? 2 : digits > 0;
  return doubled ? groups <= 7 : groups == 8;
}

// Which of 64 bytes are address characters, and which of them dots and
// colons, one bit a byte (bit 0 the first byte).
struct TBlock {
  uint64_t Run = 0, Dots = 0, Colons = 0;
};

TBlock Classify(const char* P) {
  TBlock b;
#ifdef __SSE2__
  const __m128i zero = _mm_set1_epi8('0'), a = _mm_set1_epi8('a'), ten = _mm_set1_epi8(10),
                five = _mm_set1_epi8(5), lower = _mm_set1_epi8(0x20), dot = _mm_set1_epi8('.'),
                colon = _mm_set1_epi8(':');
  for (int q = 0; q < 4; ++q) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 16 * q));
    // '0' to ':' and 'a' to 'f' in either case: unsigned ranges from 0.
    const __m128i d = _mm_sub_epi8(v, zero);
    const __m128i h = _mm_sub_epi8(_mm_or_si128(v, lower), a);
    const __m128i isDot = _mm_cmpeq_epi8(v, dot);
    const __m128i run = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(d, ten), d),
                                                  _mm_cmpeq_epi8(_mm_min_epu8(h, five), h)),
                                     isDot);
    const int shift = 16 * q;
    b.Run |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(run))) << shift;
    b.Dots |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(isDot))) << shift;
    b.Colons |=
        static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, colon))))
        << shift;
  }
#else
  for (int i = 0; i < 64; ++i) {
    const uint64_t bit = uint64_t{1} << i;
    if (IsRun(P[i])) b.Run |= bit;
    if (P[i] == '.') b.Dots |= bit;
    if (P[i] == ':') b.Colons |= bit;
  }
#endif
  return b;
}

// Whether X has N bits set or more (without a population count, which
// the baseline instruction set lacks).
template <int N>
bool AtLeast(uint64_t X) {
  for (int i = 1; i < N; ++i) X &= X - 1;
  return X != 0;
}

// The same for the N < 64 bytes at P: the bytes past them count as none.
TBlock ClassifyShort(const char* P, size_t N) {
  char padded[64] = {};
  std::memcpy(padded, P, N);
  return Classify(padded);
}

}  // namespace

void TAddressScanner::Found(const char* Text, size_t Size, const TFoundAddress& Address) {
  Pending(Text);
  FSink.Address(std::string_view(Text, Size), Address);
  FFrom = Text + Size;
}

void TAddressScanner::Pending(const char* Upto) {
  if (FFrom && Upto > FFrom) FSink.Text(FFrom, static_cast<size_t>(Upto - FFrom));
  FFrom = Upto;
}

void TAddressScanner::Feed(const char* Data, size_t Size) {
  if (Size == 0) return;
  size_t i = 0;
  if (FInRun) {
    size_t j = 0;
    while (j < Size && IsRun(Data[j])) ++j;
    Hold(Data, j);
    if (j == Size) return;
    EndRun(Byte(Data[j]));
    i = j;
  }
  FFrom = Data + i;
  // A run at the end of the piece may go on in the next: it is held.
  size_t tail = Size;
  while (tail > i && IsRun(Data[tail - 1])) --tail;
  // Every address holds a dot or a colon: the text is classified 64 bytes
  // at a time, and runs are looked at only around those; the text between
  // them (words, hex letters among them) is passed over fast. No run
  // crosses i or tail, and a run once looked at ends at or before the
  // next one's start (from).
  size_t from = i;
  for (size_t at = i; at < tail;) {
    const size_t n = std::min<size_t>(64, tail - at);
    const TBlock b = n == 64 ? Classify(Data + at) : ClassifyShort(Data + at, n);
    size_t next = at + n;
    for (uint64_t anchors = b.Dots | b.Colons; anchors;) {
      const unsigned p = static_cast<unsigned>(__builtin_ctzll(anchors));
      const uint64_t before = ~b.Run & ((uint64_t{1} << p) - 1);
      const uint64_t after = ~b.Run >> p;
      size_t j, k;
      if (before) {
        j = at + 64 - static_cast<size_t>(__builtin_clzll(before));
      } else {
        for (j = at; j > from && IsRun(Data[j - 1]);) --j;
      }
      if (after) {
        k = at + p + static_cast<size_t>(__builtin_ctzll(after));
      } else {
        for (k = at + 64; k < tail && IsRun(Data[k]);) ++k;
      }
      // A run within the block is looked at only if it may hold an
      // address: an IPv4 one (or an IPv6 one's dotted tail) takes three
      // dots, an IPv6 one without either a "::" or seven colons. Most runs
      // with colons are times.
      bool may = true, dotsOnly = false;
      if (before && after) {
        const uint64_t span = (~uint64_t{0} >> (64 - (k - j))) << (j - at);
        const uint64_t colons = b.Colons & span;
        may = AtLeast<3>(b.Dots & span) || (colons & colons >> 1) || AtLeast<7>(colons);
        dotsOnly = colons == 0;
      }
      if (may) Look(Data, j, k, dotsOnly);
      from = k;
      if (k >= at + n) {
        next = k;
        break;
      }
      anchors &= ~uint64_t{0} << (k - at);
    }
    at = next;
  }
  if (tail < Size) {
    Pending(Data + tail);
    FInRun = true;
    const int before = tail > 0 ? Byte(Data[tail - 1]) : FPrev;
    FRunLeftOk = !IsWord(before);
    FRunLeftLetter = IsLetter(before);
    FLong = false;
    FHeld.clear();
    Hold(Data + tail, Size - tail);
  } else {
    Pending(Data + Size);
  }
  FFrom = nullptr;
  FPrev = Byte(Data[Size - 1]);
}

void TAddressScanner::Look(const char* Data, size_t From, size_t To, bool DotsOnly) {
  const int before = From > 0 ? Byte(Data[From - 1]) : FPrev;
  const bool leftOk = !IsWord(before);
  const int next = Byte(Data[To]);  // To is before the piece's end: a byte that ends the run
  if (To - From <= kMaxRun) {
    // A run without colons can only be an IPv4 address whole.
    if (DotsOnly) return Part(Data + From, To - From, leftOk, !IsWord(next));
    if (To - From >= 3) Run(Data + From, To - From, leftOk, !IsWord(next), IsLetter(before));
    return;
  }
  Pending(Data + From);
  FInRun = true;
  FRunLeftOk = leftOk;
  FRunLeftLetter = IsLetter(before);
  FLong = false;
  FHeld.clear();
  Hold(Data + From, To - From);
  EndRun(next);
  FFrom = Data + To;
}

void TAddressScanner::Finish() {
  if (FInRun) EndRun(-1);
}

void TAddressScanner::Hold(const char* Text, size_t Size) {
  if (Size == 0) return;
  FPrev = Byte(Text[Size - 1]);
  if (!FLong) {
    if (FHeld.size() + Size <= kMaxRun) {
      FHeld.append(Text, Size);
      return;
    }
    // Too long for an IPv6 address: from here on only its parts count, and
    // only the current one is held.
    FLong = true;
    FPartLeftOk = FRunLeftOk;
    FPartDead = false;
    std::string held;
    held.swap(FHeld);
    HoldLong(held.data(), held.size());
  }
  HoldLong(Text, Size);
}

void TAddressScanner::HoldLong(const char* Text, size_t Size) {
  size_t i = 0;
  while (i < Size) {
    const auto* colon = static_cast<const char*>(std::memchr(Text + i, ':', Size - i));
    const size_t end = colon ? static_cast<size_t>(colon - Text) : Size;
    if (FPartDead) {
      FSink.Text(Text + i, end - i);
    } else if (FHeld.size() + (end - i) <= kMaxPart) {
      FHeld.append(Text + i, end - i);
    } else {
      // No address is this long: what there is goes out as it is.
      FSink.Text(FHeld.data(), FHeld.size());
      FSink.Text(Text + i, end - i);
      FHeld.clear();
      FPartDead = true;
    }
    if (!colon) return;
    if (!FPartDead) {
      FFrom = FHeld.data();
      Part(FHeld.data(), FHeld.size(), FPartLeftOk, true);
      Pending(FHeld.data() + FHeld.size());
      FFrom = nullptr;
    }
    FHeld.clear();
    FPartDead = false;
    FPartLeftOk = true;
    FSink.Text(colon, 1);
    i = end + 1;
  }
}

void TAddressScanner::EndRun(int Next) {
  const bool rightOk = !IsWord(Next);
  // The held text is the pending text now.
  FFrom = FHeld.data();
  if (!FLong) {
    Run(FHeld.data(), FHeld.size(), FRunLeftOk, rightOk, FRunLeftLetter);
  } else if (!FPartDead) {
    Part(FHeld.data(), FHeld.size(), FPartLeftOk, rightOk);
  }
  Pending(FHeld.data() + FHeld.size());
  FFrom = nullptr;
  FHeld.clear();
  FInRun = FLong = FPartDead = false;
}

void TAddressScanner::Run(const char* Text, size_t Size, bool LeftOk, bool RightOk,
                          bool LeftLetter) {
  // Most runs are numbers, or hex letters of a word: an IPv6 address takes
  // two colons, an IPv4 one three dots.
  size_t colons = 0, dots = 0;
  for (size_t i = 0; i < Size; ++i) {
    colons += Text[i] == ':';
    dots += Text[i] == '.';
  }
  if (colons < 2 && dots < 3) return;
  if (colons >= 2) {
    // An IPv6 address, maybe after a label's colon ("ip:", and "src:" or
    // "ipv6:", whose last letters or digits the run begins with) or before
    // a colon or full stops that end a clause.
    size_t lead = 0;
    if (Size >= 2 && Text[0] == ':' && Text[1] != ':') {
      lead = 1;
    } else if (LeftLetter) {
      // A label is letters and at most one digit after them ("ipv6"):
      // within the run, hex letters and that digit.
      size_t label = 0;
      while (label < Size && IsLetter(Byte(Text[label]))) ++label;
      if (label < Size && Text[label] >= '0' && Text[label] <= '9') ++label;
      // "v6:::1" is the label and "::1".
      const bool single = label + 1 < Size &&
                          (Text[label + 1] != ':' || (label + 2 < Size && Text[label + 2] == ':'));
      if (label < Size && Text[label] == ':' && single) lead = label + 1;
    }
    size_t trail = 0;
    if (Size >= 2 && Text[Size - 1] == ':' && Text[Size - 2] != ':') trail = 1;
    while (Text[Size - 1 - trail] == '.' && trail + 1 < Size) ++trail;
    for (const size_t l : {size_t{0}, lead}) {
      for (const size_t t : {size_t{0}, trail}) {
        if ((!LeftOk && !l) || (!RightOk && !t) || l + t >= Size) continue;
        const std::string_view address(Text + l, Size - l - t);
        TFoundAddress found;
        // "::" alone is no address worth a note.
        if (address.size() < 3 || !MayBeIPv6(address) || !StrToIPv6(address, found.IPv6)) continue;
        found.IsIPv6 = true;
        return Found(address.data(), address.size(), found);
      }
    }
  }
  if (colons == 0) return Part(Text, Size, LeftOk, RightOk);
  size_t a = 0;
  for (;;) {
    const auto* colon = static_cast<const char*>(std::memchr(Text + a, ':', Size - a));
    const size_t b = colon ? static_cast<size_t>(colon - Text) : Size;
    Part(Text + a, b - a, a == 0 ? LeftOk : true, b == Size ? RightOk : true);
    if (!colon) return;
    a = b + 1;
  }
}

void TAddressScanner::Part(const char* Text, size_t Size, bool LeftOk, bool RightOk) {
  if (LeftOk && RightOk && Size >= 7) {
    // Full stops after an address end a sentence ("...", "..").
    size_t n = Size;
    while (n > 7 && Text[n - 1] == '.') --n;
    TFoundAddress found;
    if (ParseQuad(Text, n, found.IPv4)) Found(Text, n, found);
  }
}
