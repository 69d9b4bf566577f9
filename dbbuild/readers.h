// The database compiler's input readers: what kind of data an input holds,
// and the readers of registry delegation files and range files. They hand
// what they find to a sink, line by line, and keep nothing themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "ipdb/registrydata.h"
#include "tools/address.h"

// Inputs, and what they inflate to, are read whole: bounded so that a
// compressed bomb cannot take the machine's memory.
constexpr uint64_t kMaxInputSize = uint64_t{1} << 30;

// The largest blocks a registry delegates: a /8 of IPv4, a /12 of IPv6.
// A record larger than that is refused as malformed.
constexpr uint64_t kLargestIPv4Count = uint64_t{1} << 24;
constexpr int kShortestIPv6Prefix = 12;

// The most AS numbers one allocated or assigned record may list: no
// registry delegates more to one holder at once.
constexpr uint32_t kLargestASNRun = 1u << 16;
// The longest holder id kept; a longer one, or one with other than visible
// ASCII, makes the record's holder unknown.
constexpr size_t kMaxHolderId = 64;

// One block as read from an input, with where it came from. Status and
// Holder are what an extended delegation file says (an available or
// reserved range is a block without a country).
struct TInputBlock {
  uint32_t Start = 0;
  uint32_t Count = 0;
  uint32_t Date = 0;
  uint16_t Country = 0;
  uint16_t Registry = 0;
  uint32_t File = 0;
  uint32_t Line = 0;
  uint32_t Holder = kNoHolder;
  TAllocation Status = alUnknown;
};

// The same for an IPv6 block: Start .. Last.
struct TInputBlock6 {
  TIPv6Address Start = 0;
  TIPv6Address Last = 0;
  uint32_t Date = 0;
  uint16_t Country = 0;
  uint16_t Registry = 0;
  uint32_t File = 0;
  uint32_t Line = 0;
  uint32_t Holder = kNoHolder;
  TAllocation Status = alUnknown;
};

// A run of AS numbers from a delegation file: Start .. Start + Count - 1.
struct TInputASN {
  uint32_t Start = 0;
  uint32_t Count = 0;
  uint32_t Date = 0;
  uint16_t Country = 0;  // 0 for none
  uint16_t Registry = 0;
  uint32_t File = 0;
  uint32_t Line = 0;
  uint32_t Holder = kNoHolder;
  TAllocation Status = alUnknown;
};

// Where the readers put what they read: each is called as a line is read.
struct TInputSink {
  std::function<void(const TInputBlock& Block)> Block;
  std::function<void(const TInputBlock6& Block)> Block6;
  // Available and reserved ranges (no country), and AS number records;
  // optional.
  std::function<void(const TInputBlock& Range)> Free;
  std::function<void(const TInputBlock6& Range)> Free6;
  std::function<void(const TInputASN& Record)> ASN;
  // The number of the holder of an opaque id in a registry's file; kNoHolder
  // when holders are not kept. Optional.
  std::function<uint32_t(uint16_t Registry, std::string_view Id)> HolderOf;
  // A line that made no block, by reason ("comment", "malformed", ...); an
  // available, reserved or AS line is counted here too after it went to
  // Free or ASN.
  std::function<void(const char* Reason)> Skipped;
  // The ID of a registry as a file names it ("ripencc", "RIPE").
  std::function<uint16_t(std::string_view Name)> RegistryOf;
  // The date (yyyymmdd) of the data, from a version line.
  std::function<void(uint32_t Date)> DataDate;
  // Lines read so far of the input Name; Done after its last.
  std::function<void(const std::string& Name, uint64_t Lines, bool Done)> Lines;
  // The registry a delegation file came from ("" when not known: then its
  // version line tells). Records of any other registry are skipped.
  std::string_view OwnRegistry;
  // The latest date (yyyymmdd) a record or a version line may carry: no
  // registry publishes data dated after tomorrow.
  uint32_t LatestDate = 0xFFFFFFFFu;
};

// What an input holds, from its first bytes and its first line that is
// neither blank nor a comment.
enum TInputKind {
  ikGzip,
  ikBzip2,
  ikDelegation,  // registry delegation statistics, "registry|cc|type|start|value|date|status"
  ikRanges,      // "low,high,CC" with decimal 32-bit addresses (tor's geoip)
  ikRanges6,     // "first,last,CC" with IPv6 addresses (tor's geoip6)
  ikEmpty,       // no line with data
  ikUnknown,
};
TInputKind SniffInput(std::string_view Data);

// The readers of the three kinds of text. Name is the input's, for
// progress; File its index, which each block keeps with its line number.
// An extended file's opaque ids number the holders of its records
// (Sink.HolderOf). A delegation file is refused whole (EKeslError naming it and the
// reason) when its version line is dated after Sink.LatestDate, names
// another registry than Sink.OwnRegistry, or its summary lines disagree
// with the records it holds.
void ReadDelegationText(const std::string& Name, uint32_t File, std::string_view Text,
                        const TInputSink& Sink);
// Ranges carry no registry: each block gets the one that administers its
// part of the space (dbbuild/allocations.h), a range split where that
// changes.
void ReadRangeText(const std::string& Name, uint32_t File, std::string_view Text,
                   const TInputSink& Sink);
void ReadRangeText6(const std::string& Name, uint32_t File, std::string_view Text,
                    const TInputSink& Sink);
