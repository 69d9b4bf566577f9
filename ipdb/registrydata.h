// What the registries' extended files say beside the country: each block's
// status and holder, the AS numbers, and the space a registry holds but has
// not delegated (available and reserved). It lives in four trailer entries
// of a binary body (docs/country-ip4-format.md) and is read where its bytes
// lie: in the mapping of a file searched in place, or in the copy a full
// load keeps, by the same code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/address.h"

// A record's status in the registries' files. alUnknown: the data does not
// say (range files, standard files).
enum TAllocation : uint8_t { alUnknown, alAllocated, alAssigned, alAvailable, alReserved };
// "allocated", "assigned", "available", "reserved"; "" for alUnknown.
std::string_view AllocationName(TAllocation Status);
// The status a file's field names, in any case; alUnknown for another.
TAllocation AllocationOf(std::string_view Field);

// A holder number: an index into the database's holders. None: no holder.
constexpr uint32_t kNoHolder = UINT32_MAX;
// The most holders a database can number (24 bits stored).
constexpr uint32_t kMaxHolders = (1u << 24) - 1;

// A block's status and holder.
struct THolding {
  TAllocation Status = alUnknown;
  uint32_t Holder = kNoHolder;
};

// A run of AS numbers First .. First + Count - 1 as one record lists it.
// An available or reserved run has no country (0).
struct TASNRecord {
  uint32_t First = 0;
  uint32_t Count = 0;
  uint32_t Date = 0;
  uint16_t CountryCode = 0;
  uint16_t CenterID = 0;
  THolding Holding;
  uint32_t Last() const { return First + (Count - 1); }
};

// Space a registry holds but has not delegated: its available and reserved
// records, First .. Last.
template <typename TAddress>
struct TFreeRange {
  TAddress First = 0;
  TAddress Last = 0;
  uint32_t Date = 0;
  uint16_t CenterID = 0;
  TAllocation Status = alUnknown;
};
using TFreeRange4 = TFreeRange<uint32_t>;
using TFreeRange6 = TFreeRange<TIPv6Address>;

// Everything the writer puts in the entries. The holdings follow the order
// of the file's blocks, one per block; the AS and free records ascend
// without overlapping.
struct TRegistryTables {
  // Each holder's registry. A registry's extended file names a holder by
  // an opaque id that ties its records together within that one file; a
  // database keeps no id: there a holder is its number.
  std::vector<uint16_t> Holders;
  std::vector<THolding> Holdings4, Holdings6;
  std::vector<TASNRecord> ASNs;
  std::vector<TFreeRange4> Free4;
  std::vector<TFreeRange6> Free6;
  bool Empty() const { return Holders.empty() && ASNs.empty() && Free4.empty() && Free6.empty(); }
};

// The four entries' data, by trailer tag order: holders, holdings, AS
// numbers, free space. Empty views for entries a file lacks.
struct TRegistryEntries {
  std::string_view Holders, Holdings, ASNs, Free;
  bool Empty() const { return Holders.empty() && Holdings.empty() && ASNs.empty() && Free.empty(); }
};
// The entries' data as the writer puts them in the trailer.
TRegistryEntries EncodeRegistryTables(const TRegistryTables& Tables, std::string& Storage);

// The entries read where they lie. Every size is checked when they are
// attached; a record that names a holder the file does not have has none.
// Records out of order can make a search miss, never read outside them.
class TRegistryData {
 public:
  TRegistryData() = default;
  TRegistryData(const TRegistryData&) = delete;
  TRegistryData& operator=(const TRegistryData&) = delete;

  // Takes the entries of a file with that many blocks of each family: the
  // bytes stay the caller's and must live as long as this, or Own keeps
  // them. False, leaving it empty, when an entry is malformed or its
  // holdings do not count the file's blocks: the blocks still answer.
  bool Attach(const TRegistryEntries& Entries, uint32_t Blocks4, uint32_t Blocks6);
  // Own: the four entries' bytes one after another, of these sizes.
  bool Own(std::string Bytes, const size_t (&Sizes)[4], uint32_t Blocks4, uint32_t Blocks6);
  void Clear();
  // Whether the data says anything (a file from range or standard files
  // does not).
  bool Empty() const {
    return FHolderCount == 0 && FASNCount == 0 && FFree4Count == 0 && FFree6Count == 0;
  }
  bool HasHoldings() const { return FHoldings != nullptr; }

  // The status and holder of the file's block at Index of its family.
  THolding Holding4(uint32_t Index) const;
  THolding Holding6(uint32_t Index) const;

  uint32_t HolderCount() const { return FHolderCount; }
  // The registry of a holder; 0 for none.
  uint16_t HolderRegistry(uint32_t Number) const;
  // The answers' text for a holder: its registry's name and its number
  // from 1 in this database ("RIPE:1234"), the same for all its records and
  // for no other holder's. Empty for kNoHolder.
  std::string HolderText(uint32_t Number) const;

  uint32_t ASNCount() const { return FASNCount; }
  TASNRecord ASNAt(uint32_t Index) const;
  // The record that lists AS, of any status; false for none.
  bool FindASN(uint32_t AS, TASNRecord& Record) const;
  // The AS records of a holder, ascending.
  std::vector<TASNRecord> HolderASNs(uint32_t Holder) const;

  // The available or reserved record that holds an address; false for none.
  bool FindFree(uint32_t IP, TFreeRange4& Range) const;
  bool FindFree(TIPv6Address IP, TFreeRange6& Range) const;
  uint32_t Free4Count() const { return FFree4Count; }
  uint32_t Free6Count() const { return FFree6Count; }
  TFreeRange4 Free4At(uint32_t Index) const;
  TFreeRange6 Free6At(uint32_t Index) const;

 private:
  THolding HoldingAt(const unsigned char* P) const;
  // Drops the views, not the kept bytes.
  void Forget();

  std::string FOwned;
  const unsigned char* FHolders = nullptr;  // u16 registry per holder
  uint32_t FHolderCount = 0;
  const unsigned char* FHoldings = nullptr;
  uint32_t FBlocks4 = 0, FBlocks6 = 0;
  const unsigned char* FASNs = nullptr;
  const unsigned char* FASNsByHolder = nullptr;
  uint32_t FASNCount = 0, FByHolderCount = 0;
  const unsigned char* FFree4 = nullptr;
  const unsigned char* FFree6 = nullptr;
  uint32_t FFree4Count = 0, FFree6Count = 0;
};

// The AS numbers of records, as their lines show them: "AS64500", or
// "AS64500 - AS64510" for a run.
std::string ASNText(const TASNRecord& Record);
// "AS15169" or "as15169" as a number; false for any other text.
bool ReadASNQuery(std::string_view Text, uint32_t& AS);
