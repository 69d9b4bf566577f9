// The layout of a country.ip4 file, as docs/country-ip4-format.md describes
// it, and the one codec of its header and records: the loader, the in-place
// reader and the writer all encode and decode them here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "ipdb/database.h"
#include "ipdb/ipv6blocks.h"
#include "tools/errors.h"

class TStream;

// The 16-byte header, never compressed.
constexpr int kHeaderSize = 16;
constexpr char kTextMagic[] = "IPDB";    // bytes 0-3: a text body follows
constexpr char kBinaryMagic[] = "IPBB";  // bytes 0-3: a binary body follows
constexpr int kMagicSize = 4;
constexpr int kVersionOffset = 4;  // two version bytes, '1' '0'
constexpr char kVersionMajor = '1';
constexpr char kVersionMinor = '0';
constexpr int kCompressionOffset = 6;
constexpr int kDateOffset = 8;  // YYYYMMDD
constexpr int kDateSize = 8;

// The compression byte.
enum TCompression : char { cmNone = '0', cmZLib = '1', cmBZip2 = '2' };

// A binary body's block record: u32 start, u32 count, u32 date, u16
// country code, u16 registry ID, all little-endian.
constexpr int kBlockRecordSize = 16;

// The largest number of records one section of a binary body, or one text
// body, may hold: 4,194,304. Real databases hold well under half a million
// blocks; a larger count marks a broken or hostile file.
constexpr int32_t kMaxSectionCount = 1 << 22;
// The registry and country sections are keyed by 16-bit values: no more than
// 65,536 records each.
constexpr int32_t kMaxKeyedCount = 1 << 16;

// The trailer that may follow the three sections of a binary body: "KTRL",
// a u32 entry count, then per entry a u16 tag, a u32 length and that many
// bytes. A reader of the three sections never reaches it.
constexpr char kTrailerMagic[] = "KTRL";
constexpr int32_t kMaxTrailerEntries = 256;
enum TTrailerTag : uint16_t {
  // No data: the blocks are sorted by start, none holds nothing, none
  // reaches into the next, and each names a country and a registry the
  // file knows. Such a plain file can be searched where it lies.
  ttSortedDisjoint = 1,
  // Where the data came from: UTF-8 lines of tab-separated source name,
  // date, MD5 and licence (ipdb/provenance.h).
  ttProvenance = 2,
  // The IPv6 blocks: a u32 count, then that many 40-byte records, sorted by
  // start and disjoint.
  ttIPv6Blocks = 3,
  // What each source's countries are: UTF-8 lines in the order of the
  // provenance, "registered", "located" or empty (ipdb/provenance.h).
  ttCountryKinds = 4,
  // What the registries' extended files say beside the country
  // (ipdb/registrydata.h): the holders, each block's status and holder, the
  // AS numbers, and the available and reserved space.
  ttHolders = 5,
  ttHoldings = 6,
  ttASNs = 7,
  ttFreeSpace = 8,
};
// The largest of those four entries a reader takes: 256 MB, some thirty
// times what the registries' files make.
constexpr uint32_t kMaxRegistryEntrySize = 1u << 28;
// The largest provenance a reader takes; a longer entry is passed over.
constexpr uint32_t kMaxProvenanceSize = 1 << 16;

// An IPv6 block record: the first and the last address, 16 bytes each in
// network order, then u32 date, u16 country code and u16 registry ID,
// little-endian as the IPv4 record.
constexpr int kIPv6RecordSize = 40;
// The most IPv6 blocks a file may hold: 1,048,576, some four times what
// today's data has. Each costs 64 bytes loaded, so a hostile count cannot
// take more than 64 MB beside the IPv4 part.
constexpr uint32_t kMaxIPv6Count = 1 << 20;

// Registry and country records hold texts of at most 255 bytes.
constexpr size_t kMaxRecordText = 255;

// --- Little-endian fields ---

inline uint16_t Get16(const unsigned char* P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }
inline uint32_t Get32(const unsigned char* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) |
         (static_cast<uint32_t>(P[2]) << 16) | (static_cast<uint32_t>(P[3]) << 24);
}
inline void Put16(std::string& Out, uint16_t V) {
  Out += static_cast<char>(V & 255);
  Out += static_cast<char>(V >> 8);
}
inline void Put32(std::string& Out, uint32_t V) {
  for (int i = 0; i < 4; ++i) Out += static_cast<char>((V >> (8 * i)) & 255);
}

// A body that ends inside a record (or an IPv6 entry that breaks its
// rules); the loader turns it into the "not valid" message with the file's
// name.
class ETruncatedRecord : public EDatabaseError {
 public:
  ETruncatedRecord() : EDatabaseError("The database body ends inside a record") {}
};

// --- The header ---

// The 16-byte header. Date8 is eight characters YYYYMMDD.
std::string EncodeHeader(bool Binary, TCompression Compression, std::string_view Date8);
struct THeader {
  bool Binary = false;
  TCompression Compression = cmNone;
  double Created = 0;  // the date as a day number; -1 when it is no valid date
};
// False for bytes that are no header of a version this program reads: a
// wrong magic or version, or an unknown compression.
bool DecodeHeader(const unsigned char* Bytes, THeader& Header);

// --- Records ---
// Decoders of fixed-size records read exactly their size from P; the
// stream readers raise ETruncatedRecord for a stream that ends inside one.

// What the writer puts in a registry and a country record.
struct TNewCenter {
  uint16_t ID = 0;
  std::string Name;
};
struct TNewCountry {
  uint16_t Code = 0;
  std::string Name;
  std::string Capital;
  std::string Region;
  std::string Currency;
  double Population = 0;
};

// A section's record count: u32.
constexpr int kCountSize = 4;
inline uint32_t DecodeCount(const unsigned char* P) { return Get32(P); }

// A block record: u32 start, u32 count, u32 date, u16 country, u16 registry.
// Its start alone, for searches that read no more of a record.
inline uint32_t DecodeBlockStart(const unsigned char* P) { return Get32(P); }
inline void DecodeBlockRecord(const unsigned char* P, TIPv4Block& B) {
  B.StartIP = Get32(P);
  B.Count = Get32(P + 4);
  B.Date = Get32(P + 8);
  B.CountryCode = Get16(P + 12);
  B.CenterID = Get16(P + 14);
}
void EncodeBlockRecord(std::string& Out, const TIPv4Block& B);

// An IPv6 block record: first and last address in network order, then as
// the block record's last three fields.
inline TIPv6Address DecodeIPv6Start(const unsigned char* P) { return IPv6FromBytes(P); }
inline void DecodeIPv6Record(const unsigned char* P, TIPv6Block& B) {
  B.Start = IPv6FromBytes(P);
  B.Last = IPv6FromBytes(P + 16);
  B.Date = Get32(P + 32);
  B.CountryCode = Get16(P + 36);
  B.CenterID = Get16(P + 38);
}
void EncodeIPv6Record(std::string& Out, const TIPv6Block& B);

// A registry record: u16 ID, counted name. Texts longer than 255 bytes are
// written cut to 255. Both keyed records start with their u16 key.
constexpr size_t kMaxCenterRecordSize = 2 + (1 + kMaxRecordText);
inline uint16_t DecodeRecordKey(const unsigned char* P) { return Get16(P); }
void EncodeCenterRecord(std::string& Out, const TNewCenter& C);
void ReadCenterRecord(TStream& Stream, TIPv4Center& C);
// A country record: u16 code, counted name, capital, region and currency,
// the population as an 8-byte IEEE double.
constexpr size_t kMaxCountryRecordSize = 2 + 4 * (1 + kMaxRecordText) + 8;
void EncodeCountryRecord(std::string& Out, const TNewCountry& C);
void ReadCountryRecord(TStream& Stream, TIPv4Country& C);
// The size of the registry or country record at P, or 0 when it does not
// end within the Left bytes there.
size_t CenterRecordSize(const unsigned char* P, size_t Left);
size_t CountryRecordSize(const unsigned char* P, size_t Left);
// The record of that Size at P (as measured above) into C.
void DecodeCenterRecord(const unsigned char* P, size_t Size, TIPv4Center& C);
void DecodeCountryRecord(const unsigned char* P, size_t Size, TIPv4Country& C);

// --- The trailer ---

constexpr int kTrailerHeadSize = 8;  // "KTRL", u32 entry count
constexpr int kEntryHeadSize = 6;    // u16 tag, u32 length
void EncodeTrailerHead(std::string& Out, uint32_t Entries);
// False when the bytes do not start a trailer.
bool DecodeTrailerHead(const unsigned char* P, uint32_t& Entries);
void EncodeEntryHead(std::string& Out, uint16_t Tag, uint32_t Length);
inline void DecodeEntryHead(const unsigned char* P, uint16_t& Tag, uint32_t& Length) {
  Tag = Get16(P);
  Length = Get32(P + 2);
}
