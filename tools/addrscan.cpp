#include "tools/addrscan.h"

#include <array>
#include <cstring>

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

}  // namespace

void TAddressScanner::Feed(const char* Data, size_t Size) {
  size_t i = 0;
  if (FInRun) {
    size_t j = 0;
    while (j < Size && IsRun(Data[j])) ++j;
    Hold(Data, j);
    if (j == Size) return;
    EndRun(Byte(Data[j]));
    i = j;
  }
  while (i < Size) {
    size_t j = i;
    while (j < Size && !IsRun(Data[j])) ++j;
    if (j > i) {
      FSink.Text(Data + i, j - i);
      FPrev = Byte(Data[j - 1]);
    }
    if (j == Size) return;
    size_t k = j + 1;
    while (k < Size && IsRun(Data[k])) ++k;
    const bool leftOk = !IsWord(FPrev);
    if (k < Size && k - j <= kMaxRun) {
      // The common case: a short run that ends in this piece.
      Run(Data + j, k - j, leftOk, !IsWord(Byte(Data[k])));
      FPrev = Byte(Data[k - 1]);
      i = k;
      continue;
    }
    FInRun = true;
    FRunLeftOk = leftOk;
    FLong = false;
    FHeld.clear();
    Hold(Data + j, k - j);
    if (k == Size) return;
    EndRun(Byte(Data[k]));
    i = k;
  }
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
    if (!FPartDead) Part(FHeld.data(), FHeld.size(), FPartLeftOk, true);
    FHeld.clear();
    FPartDead = false;
    FPartLeftOk = true;
    FSink.Text(colon, 1);
    i = end + 1;
  }
}

void TAddressScanner::EndRun(int Next) {
  const bool rightOk = !IsWord(Next);
  if (!FLong) {
    Run(FHeld.data(), FHeld.size(), FRunLeftOk, rightOk);
  } else if (!FPartDead) {
    Part(FHeld.data(), FHeld.size(), FPartLeftOk, rightOk);
  }
  FHeld.clear();
  FInRun = FLong = FPartDead = false;
}

void TAddressScanner::Run(const char* Text, size_t Size, bool LeftOk, bool RightOk) {
  size_t colons = 0;
  for (size_t i = 0; i < Size; ++i) colons += Text[i] == ':';
  if (colons >= 2) {
    // An IPv6 address, maybe after a label's colon ("ip:") or before a
    // colon or a full stop that ends a clause.
    const bool canLead = Size >= 2 && Text[0] == ':' && Text[1] != ':';
    const char last = Text[Size - 1];
    const bool canTrail = Size >= 2 && ((last == ':' && Text[Size - 2] != ':') || last == '.');
    for (int lead = 0; lead <= canLead; ++lead) {
      for (int trail = 0; trail <= canTrail; ++trail) {
        if ((!LeftOk && !lead) || (!RightOk && !trail)) continue;
        const std::string_view address(Text + lead, Size - static_cast<size_t>(lead + trail));
        TFoundAddress found;
        // "::" alone is no address worth a note.
        if (address.size() < 3 || !StrToIPv6(address, found.IPv6)) continue;
        found.IsIPv6 = true;
        if (lead) FSink.Text(Text, 1);
        FSink.Address(address, found);
        if (trail) FSink.Text(Text + Size - 1, 1);
        return;
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
    FSink.Text(colon, 1);
    a = b + 1;
  }
}

void TAddressScanner::Part(const char* Text, size_t Size, bool LeftOk, bool RightOk) {
  if (LeftOk && RightOk && Size >= 7) {
    // A single full stop after an address ends a sentence.
    const size_t n = Text[Size - 1] == '.' ? Size - 1 : Size;
    TFoundAddress found;
    if (ParseQuad(Text, n, found.IPv4)) {
      FSink.Address(std::string_view(Text, n), found);
      if (n < Size) FSink.Text(Text + n, 1);
      return;
    }
  }
  if (Size) FSink.Text(Text, Size);
}
