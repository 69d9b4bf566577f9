// Text forms of block lists, as the window copies them and kesl-lookup
// lists them. A block's own text is its AsText and AsLines; address text is
// in tools/address.h.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/address.h"

class TIPv4Block;
class TIPv6Block;

// A block as the fewest aligned prefixes that cover it exactly, ascending,
// each as its text: "192.0.2.0/24" (nmCIDR) or "192.0.2.0 / 255.255.255.0"
// (nmMask, IPv4 only); none for an IPv4 block that holds nothing. The one
// way a block is written as prefixes, for lists, sets and exports.
std::vector<std::string> PrefixTexts(const TIPv4Block& Block, TNotation Mode = nmCIDR);
std::vector<std::string> PrefixTexts(const TIPv6Block& Block);

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
