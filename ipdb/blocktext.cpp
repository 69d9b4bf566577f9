// Text forms of blocks and of lists of blocks, both families.
#include "ipdb/blocktext.h"

#include <cstring>

#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "tools/address.h"

namespace {

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

}  // namespace

uint32_t TIPv4Block::LastIP() const {
  if (Count == 0) return StartIP - 1;
  const uint64_t last = static_cast<uint64_t>(StartIP) + Count - 1;
  return last > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(last);
}

std::vector<TPrefix> TIPv4Block::Prefixes() const {
  if (Count == 0) return {};
  return IPv4Prefixes(StartIP, LastIP());
}

std::string TIPv4Block::AsText(TNotation Mode) const {
  if (Mode == nmCIDR || Mode == nmMask) {
    if (IsOnePrefix(*this) || Count == 0) return PrefixText({StartIP, ShortestBits(Count)}, Mode);
    std::string text;
    for (const TPrefix& p : Prefixes()) {
      if (!text.empty()) text += ", ";
      text += PrefixText(p, Mode);
    }
    return text;
  }
  char buf[kMaxRangeText];
  return std::string(buf, FormatRange(buf));
}

char* TIPv4Block::FormatRange(char* Out) const {
  Out = FormatIP(StartIP, Out);
  std::memcpy(Out, " - ", 3);
  return FormatIP(StartIP + Count - 1, Out + 3);
}

std::vector<std::string> PrefixTexts(const TIPv4Block& Block, TNotation Mode) {
  std::vector<std::string> texts;
  for (const TPrefix& p : Block.Prefixes()) texts.push_back(PrefixText(p, Mode));
  return texts;
}

std::vector<std::string> PrefixTexts(const TIPv6Block& Block) {
  std::vector<std::string> texts;
  for (const TIPv6Prefix& p : Block.Prefixes()) texts.push_back(IPv6PrefixText(p));
  return texts;
}

std::vector<std::string> TIPv4Block::AsLines(TNotation Mode) const {
  if ((Mode == nmCIDR || Mode == nmMask) && Count != 0) return PrefixTexts(*this, Mode);
  return {AsText(Mode)};
}

std::string TIPv4Block::CountryStr() const { return CodeToStr(CountryCode); }

std::vector<std::string> TIPv6Block::AsLines(TNotation Mode) const {
  if (Mode != nmCIDR && Mode != nmMask) return {IPv6ToStr(Start) + " - " + IPv6ToStr(Last)};
  return PrefixTexts(*this);
}

std::string TIPv6Block::AsText(TNotation Mode) const {
  std::string text;
  for (const std::string& line : AsLines(Mode)) {
    if (!text.empty()) text += ", ";
    text += line;
  }
  return text;
}

std::string BlocksText(const std::vector<const TIPv4Block*>& Blocks, TNotation Mode,
                       std::string_view LineEnd, const std::function<bool(size_t)>& Progress) {
  return BlocksTextOf(Blocks, Mode, LineEnd, Progress);
}
