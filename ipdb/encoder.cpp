#include "ipdb/encoder.h"

#include "ipdb/countries.h"
#include "ipdb/registries.h"
#include "streams/compress.h"
#include "tools/address.h"

namespace {

// A section: its count, then each record as Put writes it.
template <typename T, typename PutRecord>
void PutSection(std::string& Out, const std::vector<T>& Items, PutRecord Put) {
  Put32(Out, static_cast<uint32_t>(Items.size()));
  for (const T& item : Items) Put(Out, item);
}

}  // namespace

std::string EncodeBinBody(const std::vector<TNewCenter>& Centers,
                          const std::vector<TNewCountry>& Countries,
                          const std::vector<TIPv4Block>& Blocks) {
  std::string out;
  out.reserve(12 + Blocks.size() * 16);
  PutSection(out, Centers, EncodeCenterRecord);
  PutSection(out, Countries, EncodeCountryRecord);
  PutSection(out, Blocks, EncodeBlockRecord);
  return out;
}

std::string EncodeTrailer(const std::vector<TTrailerEntry>& Entries) {
  std::string out;
  AppendTrailer(out, Entries);
  return out;
}

void AppendTrailer(std::string& Out, const std::vector<TTrailerEntry>& Entries) {
  size_t size = kTrailerHeadSize;
  for (const TTrailerEntry& e : Entries) size += kEntryHeadSize + e.Data.size();
  Out.reserve(Out.size() + size);
  EncodeTrailerHead(Out, static_cast<uint32_t>(Entries.size()));
  for (const TTrailerEntry& e : Entries) {
    EncodeEntryHead(Out, e.Tag, static_cast<uint32_t>(e.Data.size()));
    Out += e.Data;
  }
}

std::string EncodeIPv6Blocks(const std::vector<TIPv6Block>& Blocks) {
  std::string out;
  out.reserve(4 + Blocks.size() * kIPv6RecordSize);
  PutSection(out, Blocks, EncodeIPv6Record);
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
