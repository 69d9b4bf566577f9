// Opening a database file in place: mapping it, finding its sections and
// its trailer's notes, and linking the blocks found to their countries and
// registries.
#include "ipdb/inplace.h"

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ipdb/countries.h"
#include "ipdb/format.h"
#include "ipdb/mapguard.h"
#include "ipdb/registries.h"
#include "tools/files.h"
#include "tools/finally.h"

namespace {

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
    if (FLeft < kCountSize) return false;
    N = DecodeCount(FData);
    FData += kCountSize;
    FLeft -= kCountSize;
    return static_cast<int64_t>(static_cast<int32_t>(N)) >= 0 && N <= Bound;
  }
  // A registry or country record, as the codec measures it.
  bool SkipCenter() { return SkipRecord(CenterRecordSize(FData, FLeft)); }
  bool SkipCountry() { return SkipRecord(CountryRecordSize(FData, FLeft)); }
  const unsigned char* At() const { return FData; }
  size_t Left() const { return FLeft; }

 private:
  bool SkipRecord(size_t Size) { return Size != 0 && Skip(Size); }

  const unsigned char* FData;
  size_t FLeft;
};

// Copies the record of Key out of a section of Count records from Records
// to End (bounds checked when the file was opened) into Out, which has
// room for MaxSize bytes; its size, or 0 when there is none. Runs under the guard: it only reads
// and copies.
size_t FindInSection(const unsigned char* Records, const unsigned char* End, uint32_t Count,
                     uint16_t Key, bool (TCursor::*SkipRecord)(), size_t MaxSize,
                     unsigned char* Out) {
  TCursor c(Records, static_cast<size_t>(End - Records));
  for (uint32_t i = 0; i < Count; ++i) {
    const unsigned char* at = c.At();
    if (!(c.*SkipRecord)()) return 0;
    const size_t size = static_cast<size_t>(c.At() - at);
    if (DecodeRecordKey(at) != Key || size > MaxSize) continue;
    std::memcpy(Out, at, size);
    return size;
  }
  return 0;
}

}  // namespace

void TInPlaceDatabase::Unreadable() const {
  throw EDatabaseError("The file " + FFileName +
                       " changed while it was read: it is shorter than when it was opened");
}

TInPlaceDatabase::~TInPlaceDatabase() {
  UnwatchMapping(FSlot);
  if (FFd >= 0) ::close(FFd);
  if (FMapping) ::munmap(FMapping, FMappingSize);
}

std::unique_ptr<TInPlaceDatabase> TInPlaceDatabase::Open(const std::string& FileName) {
  int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // Kept open when the file is searched in place: Changed looks at it.
  const TFinally closeFile([&fd] {
    if (fd >= 0) ::close(fd);
  });
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < kHeaderSize) return nullptr;
  // A plain binary header is checked before anything is mapped.
  unsigned char bytes[kHeaderSize];
  THeader header;
  if (::pread(fd, bytes, kHeaderSize, 0) != kHeaderSize || !DecodeHeader(bytes, header) ||
      !header.Binary || header.Compression != cmNone) {
    return nullptr;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (map == MAP_FAILED) return nullptr;
  std::unique_ptr<TInPlaceDatabase> db(new TInPlaceDatabase());
  db->FMapping = map;
  db->FMappingSize = size;
  db->FFileName = FileName;
  db->FSlot = WatchMapping(map, size, &db->FDamaged);
  if (!StampOf(fd, db->FStamp)) return nullptr;
  std::swap(db->FFd, fd);
  // A file cut short while it is parsed is left to the full load, which
  // says what is wrong with it.
  const bool parsed = db->Parse(static_cast<const unsigned char*>(map), size);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (!parsed || db->FDamaged.load(std::memory_order_relaxed)) return nullptr;
  return db;
}

bool TInPlaceDatabase::Changed() const {
  TFileStamp now;
  return FFd >= 0 && (!StampOf(FFd, now) || !(now == FStamp));
}

std::unique_ptr<TInPlaceDatabase> TInPlaceDatabase::FromMemory(const void* Data, size_t Size) {
  std::unique_ptr<TInPlaceDatabase> db(new TInPlaceDatabase());
  if (!db->Parse(static_cast<const unsigned char*>(Data), Size)) return nullptr;
  return db;
}

bool TInPlaceDatabase::Parse(const unsigned char* Data, size_t Size) {
  THeader header;
  if (Size < static_cast<size_t>(kHeaderSize) || !DecodeHeader(Data, header) || !header.Binary ||
      header.Compression != cmNone) {
    return false;
  }
  // Find where each section lies, bounds checked, before anything is read.
  TCursor c(Data + kHeaderSize, Size - kHeaderSize);
  if (!c.Count(kMaxKeyedCount, FCenterCount)) return false;
  FCenters = c.At();
  for (uint32_t i = 0; i < FCenterCount; ++i) {
    if (!c.SkipCenter()) return false;
  }
  FCentersEnd = c.At();
  if (!c.Count(kMaxKeyedCount, FCountryCount)) return false;
  FCountries = c.At();
  for (uint32_t i = 0; i < FCountryCount; ++i) {
    if (!c.SkipCountry()) return false;
  }
  FCountriesEnd = c.At();
  if (!c.Count(kMaxSectionCount, FCount)) return false;
  FRecords = c.At();
  if (!c.Skip(size_t{FCount} * kBlockRecordSize)) return false;
  // The trailer must say that the blocks can be searched as they lie.
  uint32_t entries = 0;
  if (c.Left() < static_cast<size_t>(kTrailerHeadSize) || !DecodeTrailerHead(c.At(), entries) ||
      !c.Skip(kMagicSize) || !c.Count(kMaxTrailerEntries, entries)) {
    return false;
  }
  bool marked = false;
  // The notes that tell what the countries are.
  std::string_view provenance, kinds;
  std::string_view registry[4];
  for (uint32_t i = 0; i < entries; ++i) {
    if (c.Left() < static_cast<size_t>(kEntryHeadSize)) return false;
    uint16_t tag = 0;
    uint32_t length = 0;
    DecodeEntryHead(c.At(), tag, length);
    if (!c.Skip(kEntryHeadSize)) return false;
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
    const auto* data = reinterpret_cast<const char*>(c.At());
    if (!c.Skip(length)) return false;
    marked |= tag == ttSortedDisjoint;
    if (tag >= ttHolders && tag <= ttFreeSpace) registry[tag - ttHolders] = {data, length};
    if (length <= kMaxProvenanceSize && tag == ttProvenance) provenance = {data, length};
    if (length <= kMaxProvenanceSize && tag == ttCountryKinds) kinds = {data, length};
  }
  if (!marked) return false;
  // Damage there costs only what the registries said beside the country.
  FRegistry.Attach({registry[0], registry[1], registry[2], registry[3]}, FCount, FCount6);
  std::vector<TSource> sources = DecodeSources(provenance);
  DecodeCountryKinds(kinds, sources);
  FCountryKind = DatabaseCountryKind(sources);
  FCreated = header.Created;
  return true;
}

template <typename TBlock>
bool TInPlaceDatabase::LinkFound(TBlock& Block) const {
  // A block naming what the file does not know would have failed the full
  // load; a file that says otherwise lies, and gets no answer.
  Block.Country = const_cast<TIPv4Country*>(CountryFor(Block.CountryCode));
  Block.Center = const_cast<TIPv4Center*>(CenterFor(Block.CenterID));
  return Block.Country && Block.Center;
}

const TIPv4Country* TInPlaceDatabase::CountryFor(uint16_t Code) const {
  auto& slot = FCountryCache.RecentSlot(Code);
  if (slot.Item && slot.Key == Code) return slot.Item;
  auto& made = FCountryCache.Made[Code];
  if (!made) made = FromSection<TIPv4Country>(FCountries, FCountriesEnd, FCountryCount, Code);
  for (size_t i = 0; !made && i < std::size(kCountryTable); ++i) {
    const TCountryRec& rec = kCountryTable[i];
    if (strnlen(rec.ISO2, 2) == 2 && StrToCode(rec.ISO2[0], rec.ISO2[1]) == Code) {
      made = MakeBuiltInCountry(rec);
    }
  }
  if (made) slot = {Code, made.get()};
  return made.get();
}

const TIPv4Center* TInPlaceDatabase::CenterFor(uint16_t ID) const {
  auto& slot = FCenterCache.RecentSlot(ID);
  if (slot.Item && slot.Key == ID) return slot.Item;
  auto& made = FCenterCache.Made[ID];
  if (!made) made = FromSection<TIPv4Center>(FCenters, FCentersEnd, FCenterCount, ID);
  const TRegistryInfo* r = RegistryByID(ID);
  if (!made && r && r->BuiltIn) {
    made = std::make_unique<TIPv4Center>();
    made->ID = ID;
    made->Name = r->Name;
  }
  if (made) slot = {ID, made.get()};
  return made.get();
}

template <typename T>
std::unique_ptr<T> TInPlaceDatabase::FromSection(const unsigned char* Records,
                                                 const unsigned char* End, uint32_t Count,
                                                 uint16_t Key) const {
  constexpr bool country = std::is_same_v<T, TIPv4Country>;
  constexpr size_t kMax = country ? kMaxCountryRecordSize : kMaxCenterRecordSize;
  unsigned char record[kMax];
  size_t size = 0;
  ReadMapped([&] {
    size = FindInSection(Records, End, Count, Key,
                         country ? &TCursor::SkipCountry : &TCursor::SkipCenter, kMax, record);
  });
  if (size == 0) return nullptr;
  auto item = std::make_unique<T>();
  if constexpr (country) {
    DecodeCountryRecord(record, size, *item);
  } else {
    DecodeCenterRecord(record, size, *item);
  }
  return item;
}

// The searches (inplacesearch.cpp) link what they find.
template bool TInPlaceDatabase::LinkFound(TIPv4Block&) const;
template bool TInPlaceDatabase::LinkFound(TIPv6Block&) const;
