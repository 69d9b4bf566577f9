#include "ipv4base/ipv4writer.h"

#include <cstring>

#include "ipv4base/registries.h"
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

// A section: its count, then each record as Put writes it.
template <typename T, typename PutRecord>
void PutSection(std::string& Out, const std::vector<T>& Items, PutRecord Put) {
  Put32(Out, static_cast<uint32_t>(Items.size()));
  for (const T& item : Items) Put(Out, item);
}

}  // namespace

std::string EncodeHeader(bool Binary, TCompression Compression, std::string_view Date8) {
  std::string h(kHeaderSize, ' ');
  h.replace(0, kMagicSize, Binary ? kBinaryMagic : kTextMagic);
  h[kVersionOffset] = kVersionMajor;
  h[kVersionOffset + 1] = kVersionMinor;
  h[kCompressionOffset] = static_cast<char>(Compression);
  std::string date(Date8.substr(0, kDateSize));
  date.resize(kDateSize, '0');
  h.replace(kDateOffset, kDateSize, date);
  return h;
}

std::string EncodeBinBody(const std::vector<TNewCenter>& Centers,
                          const std::vector<TNewCountry>& Countries,
                          const std::vector<TIPv4Block>& Blocks) {
  std::string out;
  out.reserve(12 + Blocks.size() * 16);
  PutSection(out, Centers, [](std::string& Out, const TNewCenter& C) {
    Put16(Out, C.ID);
    PutText(Out, C.Name);
  });
  PutSection(out, Countries, [](std::string& Out, const TNewCountry& C) {
    Put16(Out, C.Code);
    for (const std::string* text : {&C.Name, &C.Capital, &C.Region, &C.Currency})
      PutText(Out, *text);
    uint64_t bits;
    std::memcpy(&bits, &C.Population, sizeof bits);
    Put32(Out, static_cast<uint32_t>(bits));
    Put32(Out, static_cast<uint32_t>(bits >> 32));
  });
  PutSection(out, Blocks, [](std::string& Out, const TIPv4Block& B) {
    for (const uint32_t v : {B.StartIP, B.Count, B.Date}) Put32(Out, v);
    Put16(Out, B.CountryCode);
    Put16(Out, B.CenterID);
  });
  return out;
}

std::string EncodeTrailer(const std::vector<TTrailerEntry>& Entries) {
  std::string out(kTrailerMagic, kMagicSize);
  PutSection(out, Entries, [](std::string& Out, const TTrailerEntry& E) {
    Put16(Out, E.Tag);
    Put32(Out, static_cast<uint32_t>(E.Data.size()));
    Out += E.Data;
  });
  return out;
}

std::string EncodeIPv6Blocks(const std::vector<TIPv6Block>& Blocks) {
  std::string out;
  out.reserve(4 + Blocks.size() * kIPv6RecordSize);
  PutSection(out, Blocks, [](std::string& Out, const TIPv6Block& B) {
    unsigned char bytes[16];
    for (const TIPv6Address a : {B.Start, B.Last}) {
      IPv6ToBytes(a, bytes);
      Out.append(reinterpret_cast<const char*>(bytes), 16);
    }
    Put32(Out, B.Date);
    Put16(Out, B.CountryCode);
    Put16(Out, B.CenterID);
  });
  return out;
}

std::string_view TextRegistryToken(uint16_t CenterID) {
  const TRegistryInfo* r = RegistryByID(CenterID);
  return r && r->BuiltIn ? r->Token : std::string_view();
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
