#include "ipv4base/ipv4mapped.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ipv4base/by16index.h"
#include "ipv4base/countries.h"
#include "ipv4base/ipv4format.h"
#include "ipv4base/registries.h"
#include "streams/stream.h"
#include "tools/tools.h"

namespace {

uint32_t Get32(const unsigned char* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) |
         (static_cast<uint32_t>(P[2]) << 16) | (static_cast<uint32_t>(P[3]) << 24);
}

// Walks bytes without ever stepping past their end.
class TCursor {
 public:
  TCursor(const unsigned char* Data, size_t Size) : FData(Data), FLeft(Size) {}
  bool Skip(size_t N) {
    if (N > FLeft) return false;
    FData += N;
    FLeft -= N;
    return true;
  }
  bool Count(int64_t Bound, uint32_t& N) {
    if (FLeft < 4) return false;
    N = Get32(FData);
    FData += 4;
    FLeft -= 4;
    return static_cast<int64_t>(static_cast<int32_t>(N)) >= 0 && N <= Bound;
  }
  // A counted text.
  bool SkipText() { return FLeft >= 1 && Skip(1 + size_t{*FData}); }
  bool SkipCenter() { return Skip(2) && SkipText(); }
  bool SkipCountry() {
    return Skip(2) && SkipText() && SkipText() && SkipText() && SkipText() && Skip(8);
  }
  const unsigned char* At() const { return FData; }
  size_t Left() const { return FLeft; }

 private:
  const unsigned char* FData;
  size_t FLeft;
};

// Reads the record of Key from a section of Count records that starts at
// Records (bounds checked when the file was opened); nullptr when none.
template <typename T>
std::unique_ptr<T> FromSection(const unsigned char* Records, uint32_t Count, uint16_t Key,
                               bool (TCursor::*SkipRecord)()) {
  TCursor c(Records, SIZE_MAX);
  for (uint32_t i = 0; i < Count; ++i) {
    const unsigned char* at = c.At();
    (c.*SkipRecord)();
    if (static_cast<uint16_t>(at[0] | (at[1] << 8)) != Key) continue;
    TMemoryStream record(
        std::string(reinterpret_cast<const char*>(at), static_cast<size_t>(c.At() - at)));
    auto item = std::make_unique<T>();
    item->LoadFromStream(record);
    return item;
  }
  return nullptr;
}

}  // namespace

TMappedDatabase::~TMappedDatabase() {
  if (FMapping) ::munmap(FMapping, FMappingSize);
}

std::unique_ptr<TMappedDatabase> TMappedDatabase::Open(const std::string& FileName) {
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  const TFinally closeFile([fd] { ::close(fd); });
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < kHeaderSize) return nullptr;
  // A plain binary header is checked before anything is mapped.
  char header[kHeaderSize];
  if (::pread(fd, header, kHeaderSize, 0) != kHeaderSize ||
      std::memcmp(header, kBinaryMagic, kMagicSize) != 0 || header[kCompressionOffset] != cmNone) {
    return nullptr;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) return nullptr;
  std::unique_ptr<TMappedDatabase> db(new TMappedDatabase());
  db->FMapping = map;
  db->FMappingSize = size;
  if (!db->Parse(static_cast<const unsigned char*>(map), size)) return nullptr;
  return db;
}

std::unique_ptr<TMappedDatabase> TMappedDatabase::FromMemory(const void* Data, size_t Size) {
  std::unique_ptr<TMappedDatabase> db(new TMappedDatabase());
  if (!db->Parse(static_cast<const unsigned char*>(Data), Size)) return nullptr;
  return db;
}

bool TMappedDatabase::Parse(const unsigned char* Data, size_t Size) {
  if (Size < static_cast<size_t>(kHeaderSize) || std::memcmp(Data, kBinaryMagic, kMagicSize) != 0 ||
      Data[kVersionOffset] != static_cast<unsigned char>(kVersionMajor) ||
      Data[kVersionOffset + 1] != static_cast<unsigned char>(kVersionMinor) ||
      Data[kCompressionOffset] != static_cast<unsigned char>(cmNone)) {
    return false;
  }
  // Find where each section lies, bounds checked, before anything is read.
  TCursor c(Data + kHeaderSize, Size - kHeaderSize);
  if (!c.Count(kMaxKeyedCount, FCenterCount)) return false;
  FCenters = c.At();
  for (uint32_t i = 0; i < FCenterCount; ++i) {
    if (!c.SkipCenter()) return false;
  }
  if (!c.Count(kMaxKeyedCount, FCountryCount)) return false;
  FCountries = c.At();
  for (uint32_t i = 0; i < FCountryCount; ++i) {
    if (!c.SkipCountry()) return false;
  }
  if (!c.Count(kMaxSectionCount, FCount)) return false;
  FRecords = c.At();
  if (!c.Skip(size_t{FCount} * kBlockRecordSize)) return false;
  // The trailer must say that the blocks can be searched as they lie.
  uint32_t entries = 0;
  if (c.Left() < static_cast<size_t>(kMagicSize) ||
      std::memcmp(c.At(), kTrailerMagic, kMagicSize) != 0 || !c.Skip(kMagicSize) ||
      !c.Count(kMaxTrailerEntries, entries)) {
    return false;
  }
  bool marked = false;
  for (uint32_t i = 0; i < entries; ++i) {
    if (c.Left() < 6) return false;
    const uint16_t tag = static_cast<uint16_t>(c.At()[0] | (c.At()[1] << 8));
    const uint32_t length = Get32(c.At() + 2);
    if (!c.Skip(6)) return false;
    if (tag == ttIPv6Blocks) {
      // One entry, whose count fits its length and bound, or the full load
      // says why not.
      if (FRecords6 || length < 4 || c.Left() < length || !c.Count(kMaxIPv6Count, FCount6) ||
          length != 4 + uint64_t{FCount6} * kIPv6RecordSize) {
        return false;
      }
      FRecords6 = c.At();
      if (!c.Skip(length - 4)) return false;
      continue;
    }
    if (!c.Skip(length)) return false;
    marked |= tag == ttSortedDisjoint;
  }
  if (!marked) return false;
  FCreated = DecodeHeaderDate(Data);
  return true;
}

void TMappedDatabase::BuildIndex() const {
  if (!FBy16.empty()) return;
  // Whatever order the records are really in, the index stays within them,
  // so a file that lies about its order can only make a search miss, never
  // read outside the mapping.
  std::vector<uint32_t> starts(FCount);
  for (uint32_t i = 0; i < FCount; ++i) starts[i] = Get32(FRecords + size_t{i} * kBlockRecordSize);
  FBy16 = MakeBy16Index(starts.size(), [&starts](size_t i) { return starts[i]; });
  FStarts = std::move(starts);
}

namespace {

// Of the N entries from Lo, sorted by their starts (StartAt), the last whose
// start is at or below IP, in Lo; false when there is none.
template <typename TAddress, typename TStartAt>
bool LastAtOrBelow(TAddress IP, size_t& Lo, size_t N, TStartAt StartAt) {
  if (N == 0 || StartAt(Lo) > IP) return false;
  while (N > 1) {
    const size_t half = N / 2;
    Lo = StartAt(Lo + half) <= IP ? Lo + half : Lo;
    N -= half;
  }
  return true;
}

}  // namespace

bool TMappedDatabase::Find(uint32_t IP, TIPv4Block& Block) const {
  // The last record whose start is at or below IP, by halving: over all
  // records, or with the index over those of IP's /16 and the one before.
  size_t lo = 0, n = FCount;
  if (!FBy16.empty()) {
    By16Range(FBy16, IP, lo, n);
    const uint32_t* starts = FStarts.data();
    if (!LastAtOrBelow(IP, lo, n, [starts](size_t i) { return starts[i]; })) return false;
  } else {
    const unsigned char* records = FRecords;
    auto startAt = [records](size_t i) { return Get32(records + i * kBlockRecordSize); };
    if (!LastAtOrBelow(IP, lo, n, startAt)) return false;
  }
  const unsigned char* r = FRecords + lo * kBlockRecordSize;
  Block.StartIP = Get32(r);
  Block.Count = Get32(r + 4);
  if (IP - Block.StartIP >= Block.Count) return false;
  Block.Date = Get32(r + 8);
  Block.CountryCode = static_cast<uint16_t>(r[12] | (r[13] << 8));
  Block.CenterID = static_cast<uint16_t>(r[14] | (r[15] << 8));
  return LinkFound(Block);
}

bool TMappedDatabase::Find(TIPv6Address IP, TIPv6Block& Block) const {
  const unsigned char* records = FRecords6;
  size_t lo = 0;
  auto startAt = [records](size_t i) { return IPv6FromBytes(records + i * kIPv6RecordSize); };
  if (!LastAtOrBelow(IP, lo, FCount6, startAt)) return false;
  const unsigned char* r = records + lo * kIPv6RecordSize;
  Block.Start = IPv6FromBytes(r);
  Block.Last = IPv6FromBytes(r + 16);
  if (IP < Block.Start || IP > Block.Last) return false;
  Block.Date = Get32(r + 32);
  Block.CountryCode = static_cast<uint16_t>(r[36] | (r[37] << 8));
  Block.CenterID = static_cast<uint16_t>(r[38] | (r[39] << 8));
  return LinkFound(Block);
}

template <typename TBlock>
bool TMappedDatabase::LinkFound(TBlock& Block) const {
  // A block naming what the file does not know would have failed the full
  // load; a file that says otherwise lies, and gets no answer.
  Block.Country = const_cast<TIPv4Country*>(CountryFor(Block.CountryCode));
  Block.Center = const_cast<TIPv4Center*>(CenterFor(Block.CenterID));
  return Block.Country && Block.Center;
}

const TIPv4Country* TMappedDatabase::CountryFor(uint16_t Code) const {
  auto& slot = FCountryCache.RecentSlot(Code);
  if (slot.Item && slot.Key == Code) return slot.Item;
  auto& made = FCountryCache.Made[Code];
  if (!made)
    made = FromSection<TIPv4Country>(FCountries, FCountryCount, Code, &TCursor::SkipCountry);
  for (size_t i = 0; !made && i < std::size(kCountryTable); ++i) {
    const TCountryRec& rec = kCountryTable[i];
    if (strnlen(rec.ISO2, 2) == 2 && StrToCode(rec.ISO2[0], rec.ISO2[1]) == Code) {
      made = MakeBuiltInCountry(rec);
    }
  }
  if (made) slot = {Code, made.get()};
  return made.get();
}

const TIPv4Center* TMappedDatabase::CenterFor(uint16_t ID) const {
  auto& slot = FCenterCache.RecentSlot(ID);
  if (slot.Item && slot.Key == ID) return slot.Item;
  auto& made = FCenterCache.Made[ID];
  if (!made) made = FromSection<TIPv4Center>(FCenters, FCenterCount, ID, &TCursor::SkipCenter);
  const TRegistryInfo* r = RegistryByID(ID);
  if (!made && r && r->BuiltIn) {
    made = std::make_unique<TIPv4Center>();
    made->ID = ID;
    made->Name = r->Name;
  }
  if (made) slot = {ID, made.get()};
  return made.get();
}
