// Looking addresses up in a database file where it lies: the file is mapped
// read-only, its registry and country sections are read (a few kilobytes),
// and the block records are searched in the mapping. Only a plain binary
// file whose trailer says its blocks are sorted and disjoint qualifies;
// every other file takes the full load (TIPv4Database::LoadFromFile).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ipdb/database.h"
#include "ipdb/provenance.h"
#include "tools/files.h"
#include "tools/pages.h"

class TInPlaceDatabase {
 public:
  // Maps FileName; nullptr when it cannot be searched in place for any
  // reason (missing, compressed, text, unmarked, damaged), so that the
  // caller's full load gives the file's own error.
  static std::unique_ptr<TInPlaceDatabase> Open(const std::string& FileName);
  // The same over bytes that the caller keeps alive as long as the result.
  static std::unique_ptr<TInPlaceDatabase> FromMemory(const void* Data, size_t Size);

  TInPlaceDatabase(const TInPlaceDatabase&) = delete;
  TInPlaceDatabase& operator=(const TInPlaceDatabase&) = delete;
  ~TInPlaceDatabase();

  // The block holding IP, decoded into Block and linked to its country and
  // registry (which live as long as this object); false when no block holds
  // it. Over a file whose mark lies the answer may be wrong, but it is
  // always a block of the file that holds IP. EDatabaseError when the file
  // has been cut short since it was opened (another program rewrote it in
  // place): the process goes on.
  bool Find(uint32_t IP, TIPv4Block& Block) const;
  // The same for an IPv6 address, among the file's IPv6 blocks.
  bool Find(TIPv6Address IP, TIPv6Block& Block) const;
  // Find for N addresses at once: Held[i] tells whether Blocks[i] holds
  // IPs[i]. With the index built, the searches of a few addresses go side
  // by side, so that their reads of memory overlap instead of waiting each
  // for the last: for streams of addresses.
  void FindMany(const uint32_t* IPs, size_t N, TIPv4Block* Blocks, bool* Held) const;
  void FindMany(const TIPv6Address* IPs, size_t N, TIPv6Block* Blocks, bool* Held) const;
  // Builds the indexes of both families (one pass over the records; 4 bytes
  // an IPv4 record and 8.25 an IPv6 one, and 256 kB each), after which a search
  // reads a few starts side by side near the address and then one record,
  // instead of halving over all the records. For many lookups.
  // EDatabaseError as Find.
  void BuildIndex() const;
  // The same for one family: a stream of one family's addresses does not
  // pay for the other's index.
  void BuildIndex4() const;
  void BuildIndex6() const;
  // Whether the file has been written to since it was opened (its size or
  // modification time changed, as a cp over it does): what was read from
  // the mapping since then cannot be trusted. False for bytes in memory.
  bool Changed() const;
  // The file as it was opened.
  const TFileStamp& Stamp() const { return FStamp; }
  const std::string& FileName() const { return FFileName; }
  int BlockCount() const { return static_cast<int>(FCount); }
  int IPv6BlockCount() const { return static_cast<int>(FCount6); }
  double Created() const { return FCreated; }
  // The country or registry of a key as the full load finds it: the file's
  // own record, else the built-in one; made when first asked for; nullptr
  // for one the file does not know. Unguarded: within Guarded.
  const TIPv4Country* CountryFor(uint16_t Code) const;
  const TIPv4Center* CenterFor(uint16_t ID) const;
  // What the registries' extended files said, read in the mapping: call
  // its methods within Guarded.
  const TRegistryData& Registry() const { return FRegistry; }
  // Runs Read, which reads the mapping, as the searches do: EDatabaseError
  // when the file has been cut short under it.
  template <typename TRead>
  void Guarded(TRead Read) const {
    ReadMapped(Read);
  }
  // The index of the file's block that starts at Start (as a found block
  // does), or -1. Unguarded: within Guarded.
  int64_t IndexOf(uint32_t Start) const;
  int64_t IndexOf(TIPv6Address Start) const;
  // What the file's countries are, from its sources (ckUnknown when it does
  // not record them).
  TCountryKind CountryKind() const { return FCountryKind; }

 private:
  TInPlaceDatabase() = default;
  bool Parse(const unsigned char* Data, size_t Size);
  // Runs Read, which reads the mapping; EDatabaseError when the file has
  // been cut short under it (a SIGBUS marked the mapping damaged).
  template <typename TRead>
  void ReadMapped(TRead Read) const;
  // The searches themselves, over the mapping.
  // Index, when given, gets the record's index.
  bool FindRecord(uint32_t IP, TIPv4Block& Block, size_t* Index = nullptr) const;
  bool FindRecord(TIPv6Address IP, TIPv6Block& Block, size_t* Index = nullptr) const;
  // The record of Key in the registry or country section from Records to
  // End, made into an object; nullptr when the section has none.
  template <typename T>
  std::unique_ptr<T> FromSection(const unsigned char* Records, const unsigned char* End,
                                 uint32_t Count, uint16_t Key) const;
  [[noreturn]] void Unreadable() const;
  // Links a found block to its country and registry; false when the file
  // knows neither (a full load would have failed).
  template <typename TBlock>
  bool LinkFound(TBlock& Block) const;

  void* FMapping = nullptr;  // owned when mapped from a file
  size_t FMappingSize = 0;
  // Set by the SIGBUS handler when a read of the mapping failed; the slot
  // in which the handler finds the mapping, -1 for none.
  std::atomic<bool> FDamaged{false};
  int FSlot = -1;
  std::string FFileName;  // for messages
  int FFd = -1;           // the file searched, open as long as it is
  TFileStamp FStamp;
  TCountryKind FCountryKind = ckUnknown;
  TRegistryData FRegistry;
  // The registry and the country records, from their first to their end.
  const unsigned char* FCenters = nullptr;
  const unsigned char* FCentersEnd = nullptr;
  uint32_t FCenterCount = 0;
  const unsigned char* FCountries = nullptr;
  const unsigned char* FCountriesEnd = nullptr;
  uint32_t FCountryCount = 0;
  const unsigned char* FRecords = nullptr;  // the first block record
  uint32_t FCount = 0;
  const unsigned char* FRecords6 = nullptr;  // the first IPv6 block record
  uint32_t FCount6 = 0;
  double FCreated = 0;
  // FBy16[h]: how many records start below h << 16; FStarts: every
  // record's start, in file order. Empty until built.
  mutable std::vector<uint32_t> FBy16;
  mutable TLargeVector<uint32_t> FStarts;
  // The same for the IPv6 records: FBy16Six by the first 16 bits of the
  // starts, FHighs6 the upper 64 bits of every start.
  mutable std::vector<uint32_t> FBy16Six;
  mutable TLargeVector<uint64_t> FHighs6;
  // Every 32nd of those, for the searches of many addresses at once
  // (FindMany): where the index leaves more than 32 upper halves, a search
  // over these ends in a run of 32 of them.
  static constexpr size_t kSampleRun = 32;
  mutable std::vector<uint64_t> FSample6;
  // Countries and registries made so far, by key, with a small table of
  // recent ones in front, so that most lookups cost one read.
  template <typename T>
  struct TCache {
    struct TSlot {
      uint16_t Key = 0;
      const T* Item = nullptr;
    };
    std::map<uint16_t, std::unique_ptr<T>> Made;
    TSlot Recent[1024];
    TSlot& RecentSlot(uint16_t Key) { return Recent[((Key >> 8) * 32u + Key) % 1024]; }
  };
  mutable TCache<TIPv4Country> FCountryCache;
  mutable TCache<TIPv4Center> FCenterCache;
};

template <typename TRead>
void TInPlaceDatabase::ReadMapped(TRead Read) const {
  if (FDamaged.load(std::memory_order_relaxed)) Unreadable();
  Read();
  // The reads stay before the look at the mark: a read that failed has
  // set it by the time it returns, on this same thread.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (FDamaged.load(std::memory_order_relaxed)) Unreadable();
}
