// The codec of the file's header and records.
#include "ipdb/format.h"

#include "streams/stream.h"
#include "tools/tools.h"

namespace {

void ReadExact(TStream& Stream, void* Buffer, int32_t Count) {
  if (Stream.Read(Buffer, Count) != Count) throw ETruncatedRecord();
}

uint16_t Read16(TStream& Stream) {
  unsigned char b[2];
  ReadExact(Stream, b, 2);
  return Get16(b);
}

std::string ReadCountedText(TStream& Stream) {
  unsigned char n;
  ReadExact(Stream, &n, 1);
  std::string text(n, '\0');
  if (n) ReadExact(Stream, text.data(), n);
  return text;
}

void PutText(std::string& Out, const std::string& Text) {
  const size_t n = Text.size() > kMaxRecordText ? kMaxRecordText : Text.size();
  Out += static_cast<char>(n);
  Out.append(Text, 0, n);
}

// The size of the counted texts at P, Texts of them, or 0 when they do not
// end within Left bytes.
size_t CountedTextsSize(const unsigned char* P, size_t Left, int Texts) {
  size_t at = 0;
  for (int i = 0; i < Texts; ++i) {
    if (at >= Left) return 0;
    at += 1 + size_t{P[at]};
  }
  return at <= Left ? at : 0;
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

bool DecodeHeader(const unsigned char* Bytes, THeader& Header) {
  const bool text = std::memcmp(Bytes, kTextMagic, kMagicSize) == 0;
  if (!text && std::memcmp(Bytes, kBinaryMagic, kMagicSize) != 0) return false;
  const auto compression = static_cast<TCompression>(Bytes[kCompressionOffset]);
  if (Bytes[kVersionOffset] != kVersionMajor || Bytes[kVersionOffset + 1] != kVersionMinor ||
      (compression != cmNone && compression != cmZLib && compression != cmBZip2)) {
    return false;
  }
  Header.Binary = !text;
  Header.Compression = compression;
  Header.Created = Date8Bytes(Bytes + kDateOffset);
  return true;
}

void EncodeBlockRecord(std::string& Out, const TIPv4Block& B) {
  for (const uint32_t v : {B.StartIP, B.Count, B.Date}) Put32(Out, v);
  Put16(Out, B.CountryCode);
  Put16(Out, B.CenterID);
}

void EncodeIPv6Record(std::string& Out, const TIPv6Block& B) {
  unsigned char bytes[16];
  for (const TIPv6Address a : {B.Start, B.Last}) {
    IPv6ToBytes(a, bytes);
    Out.append(reinterpret_cast<const char*>(bytes), 16);
  }
  Put32(Out, B.Date);
  Put16(Out, B.CountryCode);
  Put16(Out, B.CenterID);
}

void EncodeCenterRecord(std::string& Out, const TNewCenter& C) {
  Put16(Out, C.ID);
  PutText(Out, C.Name);
}

void ReadCenterRecord(TStream& Stream, TIPv4Center& C) {
  C.ID = Read16(Stream);
  C.Name = ReadCountedText(Stream);
}

void EncodeCountryRecord(std::string& Out, const TNewCountry& C) {
  Put16(Out, C.Code);
  for (const std::string* text : {&C.Name, &C.Capital, &C.Region, &C.Currency}) PutText(Out, *text);
  uint64_t bits;
  std::memcpy(&bits, &C.Population, sizeof bits);
  Put32(Out, static_cast<uint32_t>(bits));
  Put32(Out, static_cast<uint32_t>(bits >> 32));
}

void ReadCountryRecord(TStream& Stream, TIPv4Country& C) {
  C.Code = Read16(Stream);
  C.Name = ReadCountedText(Stream);
  C.Capital = ReadCountedText(Stream);
  C.Region = ReadCountedText(Stream);
  C.Currency = ReadCountedText(Stream);
  unsigned char b[8];
  ReadExact(Stream, b, 8);
  const uint64_t bits = Get32(b) | (static_cast<uint64_t>(Get32(b + 4)) << 32);
  std::memcpy(&C.Population, &bits, sizeof C.Population);
}

size_t CenterRecordSize(const unsigned char* P, size_t Left) {
  if (Left < 2) return 0;
  const size_t texts = CountedTextsSize(P + 2, Left - 2, 1);
  return texts ? 2 + texts : 0;
}

size_t CountryRecordSize(const unsigned char* P, size_t Left) {
  if (Left < 2) return 0;
  const size_t texts = CountedTextsSize(P + 2, Left - 2, 4);
  return texts && 2 + texts + 8 <= Left ? 2 + texts + 8 : 0;
}

void DecodeCenterRecord(const unsigned char* P, size_t Size, TIPv4Center& C) {
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(P), Size));
  ReadCenterRecord(stream, C);
}

void DecodeCountryRecord(const unsigned char* P, size_t Size, TIPv4Country& C) {
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(P), Size));
  ReadCountryRecord(stream, C);
}

void EncodeTrailerHead(std::string& Out, uint32_t Entries) {
  Out.append(kTrailerMagic, kMagicSize);
  Put32(Out, Entries);
}

bool DecodeTrailerHead(const unsigned char* P, uint32_t& Entries) {
  if (std::memcmp(P, kTrailerMagic, kMagicSize) != 0) return false;
  Entries = Get32(P + kMagicSize);
  return true;
}

void EncodeEntryHead(std::string& Out, uint16_t Tag, uint32_t Length) {
  Put16(Out, Tag);
  Put32(Out, Length);
}

// The record readers that the model names: each one the codec's.
void TIPv4Center::LoadFromStream(TStream& Stream) { ReadCenterRecord(Stream, *this); }

void TIPv4Country::LoadFromStream(TStream& Stream) { ReadCountryRecord(Stream, *this); }

void TIPv4Block::LoadFromStream(TStream& Stream) {
  unsigned char b[kBlockRecordSize];
  ReadExact(Stream, b, kBlockRecordSize);
  DecodeBlockRecord(b, *this);
}
