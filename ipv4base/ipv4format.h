// The layout of a country.ip4 file, as docs/country-ip4-format.md describes
// it: the one place the loader and the writer take it from.
#pragma once

#include <cstdint>

#include "tools/tools.h"

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

// The header's date as a day number; -1 when it is not a valid date.
inline double DecodeHeaderDate(const unsigned char* Header) {
  int32_t d[kDateSize];
  for (int i = 0; i < kDateSize; ++i) d[i] = Header[kDateOffset + i] - '0';
  return EncodeDayNumber(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3], d[4] * 10 + d[5],
                         d[6] * 10 + d[7]);
}

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
  // date, MD5 and licence (ipv4base/provenance.h).
  ttProvenance = 2,
  // The IPv6 blocks: a u32 count, then that many 40-byte records, sorted by
  // start and disjoint.
  ttIPv6Blocks = 3,
};
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
