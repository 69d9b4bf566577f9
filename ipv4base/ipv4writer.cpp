#include "ipv4base/ipv4writer.h"

#include <cstring>

#include "streams/compress.h"

namespace {

void Put16(std::string& Out, uint16_t V) {
  Out += static_cast<char>(V & 255);
  Out += static_cast<char>(V >> 8);
}

void Put32(std::string& Out, uint32_t V) {
  for (int i = 0; i < 4; ++i) Out += static_cast<char>((V >> (8 * i)) & 255);
}

void PutText(std::string& Out, const std::string& Text) {
  const size_t n = Text.size() > 255 ? 255 : Text.size();
  Out += static_cast<char>(n);
  Out.append(Text, 0, n);
}

}  // namespace

std::string EncodeHeader(bool Binary, TCompression Compression, std::string_view Date8) {
  std::string h = Binary ? "IPBB" : "IPDB";
  h += '1';
  h += '0';
  h += static_cast<char>(Compression);
  h += ' ';
  h += std::string(Date8.substr(0, 8));
  h.resize(16, '0');
  return h;
}

std::string EncodeBinBody(const std::vector<TNewCenter>& Centers,
                          const std::vector<TNewCountry>& Countries,
                          const std::vector<TIPv4Block>& Blocks) {
  std::string out;
  out.reserve(12 + Blocks.size() * 16);
  Put32(out, static_cast<uint32_t>(Centers.size()));
  for (const TNewCenter& c : Centers) {
    Put16(out, c.ID);
    PutText(out, c.Name);
  }
  Put32(out, static_cast<uint32_t>(Countries.size()));
  for (const TNewCountry& c : Countries) {
    Put16(out, c.Code);
    PutText(out, c.Name);
    PutText(out, c.Capital);
    PutText(out, c.Region);
    PutText(out, c.Currency);
    uint64_t bits;
    std::memcpy(&bits, &c.Population, sizeof bits);
    Put32(out, static_cast<uint32_t>(bits));
    Put32(out, static_cast<uint32_t>(bits >> 32));
  }
  Put32(out, static_cast<uint32_t>(Blocks.size()));
  for (const TIPv4Block& b : Blocks) {
    Put32(out, b.StartIP);
    Put32(out, b.Count);
    Put32(out, b.Date);
    Put16(out, b.CountryCode);
    Put16(out, b.CenterID);
  }
  return out;
}

std::string_view TextRegistryToken(uint16_t CenterID) {
  static constexpr std::string_view kTokens[] = {"", "iana", "arin", "ripencc", "apnic", "lacnic"};
  return CenterID < 6 ? kTokens[CenterID] : std::string_view();
}

std::string EncodeTextLine(const TIPv4Block& Block, std::string_view RegistryToken) {
  std::string line(RegistryToken);
  line += '|';
  line += CodeToStr(Block.CountryCode);
  line += "|ipv4|";
  line += IPToStr(Block.StartIP);
  line += '|';
  line += std::to_string(Block.Count);
  line += '|';
  if (Block.Date) line += std::to_string(Block.Date);
  line += "|allocated";
  return line;
}

std::string EncodeDatabaseFile(bool Binary, TCompression Compression, std::string_view Date8,
                               std::string_view Body) {
  std::string file = EncodeHeader(Binary, Compression, Date8);
  if (Compression == cmZLib) {
    file += ZLibCompress(Body);
  } else if (Compression == cmBZip2) {
    file += BZ2Compress(Body);
  } else {
    file += Body;
  }
  return file;
}
