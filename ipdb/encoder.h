// Writes database files that LoadFromFile reads: bodies, trailer, compression.
// The header and the records are the codec's (ipdb/format.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ipdb/database.h"
#include "ipdb/format.h"
#include "ipdb/ipv6blocks.h"

// A binary body: registry, country and block sections. Texts longer than
// 255 bytes are cut to 255.
std::string EncodeBinBody(const std::vector<TNewCenter>& Centers,
                          const std::vector<TNewCountry>& Countries,
                          const std::vector<TIPv4Block>& Blocks);
struct TTrailerEntry {
  uint16_t Tag = 0;
  std::string Data;
};
// The trailer that follows a binary body's sections (append it to the body).
std::string EncodeTrailer(const std::vector<TTrailerEntry>& Entries);
// The same appended to Out, without a copy of the whole.
void AppendTrailer(std::string& Out, const std::vector<TTrailerEntry>& Entries);
// The data of a ttIPv6Blocks trailer entry: the count and the records, in
// the order given (a reader needs them sorted and disjoint).
std::string EncodeIPv6Blocks(const std::vector<TIPv6Block>& Blocks);
// One delegation line: "arin|US|ipv4|3.0.0.0|16777216|19880223|allocated".
std::string EncodeTextLine(const TIPv4Block& Block, std::string_view RegistryToken);
// The registry token of the text format for a built-in registry, or "".
std::string_view TextRegistryToken(uint16_t CenterID);
// Header plus body, the body compressed as the header says.
std::string EncodeDatabaseFile(bool Binary, TCompression Compression, std::string_view Date8,
                               std::string_view Body);
