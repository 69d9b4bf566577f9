// Text forms of addresses, prefixes, blocks and country codes, and the
// integer reader that the text body and the command lines share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tools.h"

class TIPv4Block;

// Notation modes of TIPv4Block::AsText; any other value writes the range form.
enum TNotation : int { nmRange = 0, nmCIDR = 1, nmMask = 2 };

// One aligned prefix: Bits leading bits of Start are fixed.
struct TPrefix {
  uint32_t Start;
  int Bits;
  bool operator==(const TPrefix&) const = default;
};

// Integer text: optional leading blanks, one sign, decimal digits or hex
// after "$" or "0x"/"0X", running to the end; false when it does not read
// or does not fit a signed 64-bit value.
bool ReadInteger(std::string_view Text, int64_t& Value);
// Dotted quad to address; 4294967295 (also 255.255.255.255) on failure.
uint32_t StrToIP(std::string_view Text);
inline uint32_t StrToIP(const std::string& Text) { return StrToIP(std::string_view(Text)); }
inline uint32_t StrToIP(const char* Text) { return StrToIP(std::string_view(Text)); }
// Dotted form of an address, without leading zeros.
std::string IPToStr(uint32_t IP);
// Writes the dotted form at Out (room for 15 characters); returns its end.
char* FormatIP(uint32_t IP, char* Out);
// Text of one prefix in nmCIDR ("a.b.c.d/n") or nmMask ("a.b.c.d / m.m.m.m").
std::string PrefixText(const TPrefix& Prefix, TNotation Mode);
// The blocks in a notation, each line ended by LineEnd: one line per block
// in the range form, one per prefix in nmCIDR and nmMask, so that the text
// goes into an access list as it is. Progress, when given, gets each block's
// index before it is written and returns true to stop there.
std::string BlocksText(const std::vector<const TIPv4Block*>& Blocks, TNotation Mode,
                       std::string_view LineEnd, const std::function<bool(size_t)>& Progress = {});
// The same for blocks of either family (TIPv6Block writes its prefixes
// under nmMask).
template <typename TBlock>
std::string BlocksTextOf(const std::vector<const TBlock*>& Blocks, TNotation Mode,
                         std::string_view LineEnd, const std::function<bool(size_t)>& Progress) {
  std::string text;
  text.reserve(Blocks.size() * (Mode == nmCIDR ? 20 : 33));
  for (size_t i = 0; i < Blocks.size(); ++i) {
    if (Progress && Progress(i)) break;
    for (const std::string& line : Blocks[i]->AsLines(Mode)) {
      text += line;
      text += LineEnd;
    }
  }
  return text;
}

std::string CodeToStr(uint16_t Code);
// Packs two characters, the first in the high byte; no case change.
constexpr uint16_t StrToCode(char First, char Second) {
  return static_cast<uint16_t>((static_cast<uint8_t>(First) << 8) | static_cast<uint8_t>(Second));
}
// A country code as data and users write it: exactly two characters, any
// case; UK stands for GB. False for any other length. Inline: the text
// reader calls it for every line.
inline bool ParseCountryCode(std::string_view Text, uint16_t& Code) {
  if (Text.size() != 2) return false;
  Code = StrToCode(AsciiUpper(Text[0]), AsciiUpper(Text[1]));
  if (Code == StrToCode('U', 'K')) Code = StrToCode('G', 'B');
  return true;
}
uint32_t SwapBytes(uint32_t Value);

// Latin-1 text as UTF-8, for display.
std::string Latin1ToUtf8(std::string_view Text);
