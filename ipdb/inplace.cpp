#include "ipdb/inplace.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ipdb/by16index.h"
#include "ipdb/countries.h"
#include "ipdb/format.h"
#include "ipdb/registries.h"
#include "streams/stream.h"
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
    if (FLeft < 4) return false;
    N = Get32(FData);
    FData += 4;
    FLeft -= 4;
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

// A mapped file that another program truncates under us (cp over it, a
// copy cut short) makes reads past its new end raise SIGBUS. The mappings
// of open files are noted here; a SIGBUS inside one marks it damaged and
// puts a page of zeros where the read failed, so that the read goes on and
// ends, and the search that made it sees the mark and fails. That costs a
// search nothing but the look at the mark. The slots are written outside
// the handler and only read inside it.
struct TMappingSlot {
  std::atomic<uintptr_t> Start{0};
  std::atomic<size_t> Size{0};
  std::atomic<std::atomic<bool>*> Damaged{nullptr};
};
constexpr int kMappingSlots = 64;
TMappingSlot gMappings[kMappingSlots];
struct sigaction gPreviousBus;
uintptr_t gPageSize = 4096;

void OnBus(int Signal, siginfo_t* Info, void* Context) {
  const auto at = reinterpret_cast<uintptr_t>(Info->si_addr);
  for (TMappingSlot& slot : gMappings) {
    const uintptr_t start = slot.Start.load(std::memory_order_acquire);
    if (start == 0 || at < start || at - start >= slot.Size.load(std::memory_order_relaxed)) {
      continue;
    }
    void* page = reinterpret_cast<void*>(at & ~(gPageSize - 1));
    if (::mmap(page, gPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
        MAP_FAILED) {
      break;
    }
    slot.Damaged.load(std::memory_order_relaxed)->store(true, std::memory_order_relaxed);
    return;
  }
  // Not a mapping of ours: what would have happened without us.
  if (gPreviousBus.sa_flags & SA_SIGINFO && gPreviousBus.sa_sigaction) {
    return gPreviousBus.sa_sigaction(Signal, Info, Context);
  }
  sigaction(SIGBUS, &gPreviousBus, nullptr);
  raise(Signal);
}

void InstallBusHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    gPageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = OnBus;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &gPreviousBus);
  });
}

// Notes a mapping; its slot, or -1 when all are taken (that mapping is then
// not watched, and a truncation ends the process as it would without us).
int WatchMapping(const void* Start, size_t Size, std::atomic<bool>* Damaged) {
  InstallBusHandler();
  for (int i = 0; i < kMappingSlots; ++i) {
    uintptr_t empty = 0;
    // Taken with a placeholder first, so that the handler never sees a
    // start without its size and mark.
    if (!gMappings[i].Start.compare_exchange_strong(empty, 1)) continue;
    gMappings[i].Size.store(Size, std::memory_order_relaxed);
    gMappings[i].Damaged.store(Damaged, std::memory_order_relaxed);
    gMappings[i].Start.store(reinterpret_cast<uintptr_t>(Start), std::memory_order_release);
    return i;
  }
  return -1;
}

// The largest registry or country record: a key, four counted texts of at
// most 255 bytes, the population.
constexpr size_t kMaxKeyedRecord = 2 + 4 * 256 + 8;

// Copies the record of Key out of a section of Count records from Records
// to End (bounds checked when the file was opened) into Out; its size, or
// 0 when there is none. Runs under the guard: it only reads and copies.
size_t FindInSection(const unsigned char* Records, const unsigned char* End, uint32_t Count,
                     uint16_t Key, bool (TCursor::*SkipRecord)(), unsigned char* Out) {
  TCursor c(Records, static_cast<size_t>(End - Records));
  for (uint32_t i = 0; i < Count; ++i) {
    const unsigned char* at = c.At();
    if (!(c.*SkipRecord)()) return 0;
    const size_t size = static_cast<size_t>(c.At() - at);
    if (Get16(at) != Key || size > kMaxKeyedRecord) continue;
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
  if (FSlot >= 0) gMappings[FSlot].Start.store(0, std::memory_order_release);
  if (FMapping) ::munmap(FMapping, FMappingSize);
}

template <typename TRead>
void TInPlaceDatabase::ReadMapped(TRead Read) const {
  if (FDamaged.load(std::memory_order_relaxed)) Unreadable();
  Read();
  // The reads stay before the look at the mark: a read that failed has
  // set it by the time it returns, on this same thread.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (FDamaged.load(std::memory_order_relaxed)) Unreadable();
}

std::unique_ptr<TInPlaceDatabase> TInPlaceDatabase::Open(const std::string& FileName) {
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  const TFinally closeFile([fd] { ::close(fd); });
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
  // A file cut short while it is parsed is left to the full load, which
  // says what is wrong with it.
  const bool parsed = db->Parse(static_cast<const unsigned char*>(map), size);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (!parsed || db->FDamaged.load(std::memory_order_relaxed)) return nullptr;
  return db;
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
    if (length <= kMaxProvenanceSize && tag == ttProvenance) provenance = {data, length};
    if (length <= kMaxProvenanceSize && tag == ttCountryKinds) kinds = {data, length};
  }
  if (!marked) return false;
  std::vector<TSource> sources = DecodeSources(provenance);
  DecodeCountryKinds(kinds, sources);
  FCountryKind = DatabaseCountryKind(sources);
  FCreated = header.Created;
  return true;
}

void TInPlaceDatabase::BuildIndex() const {
  if (!FBy16.empty()) return;
  // Whatever order the records are really in, the index stays within them,
  // so a file that lies about its order can only make a search miss, never
  // read outside the mapping.
  std::vector<uint32_t> starts(FCount);
  uint32_t* const to = starts.data();
  ReadMapped([&] {
    for (uint32_t i = 0; i < FCount; ++i) to[i] = Get32(FRecords + size_t{i} * kBlockRecordSize);
  });
  FBy16 = MakeBy16Index(starts.size(), [&starts](size_t i) { return starts[i]; });
  FStarts = std::move(starts);
  // IPv6: the starts' upper halves, indexed by their first 16 bits. As for
  // IPv4, an index made from counts stays within the records whatever
  // their order.
  std::vector<uint64_t> highs(FCount6);
  uint64_t* const high = highs.data();
  ReadMapped([&] {
    for (uint32_t i = 0; i < FCount6; ++i) {
      high[i] = static_cast<uint64_t>(IPv6FromBytes(FRecords6 + size_t{i} * kIPv6RecordSize) >> 64);
    }
  });
  FBy16Six = MakeBy16Index(highs.size(),
                           [&highs](size_t i) { return static_cast<uint32_t>(highs[i] >> 32); });
  FHighs6 = std::move(highs);
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

bool TInPlaceDatabase::Find(uint32_t IP, TIPv4Block& Block) const {
  bool held = false;
  ReadMapped([&] { held = FindRecord(IP, Block); });
  return held && LinkFound(Block);
}

bool TInPlaceDatabase::FindRecord(uint32_t IP, TIPv4Block& Block) const {
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
  DecodeBlockRecord(FRecords + lo * kBlockRecordSize, Block);
  return IP - Block.StartIP < Block.Count;
}

void TInPlaceDatabase::FindMany(const uint32_t* IPs, size_t N, TIPv4Block* Blocks,
                                bool* Held) const {
  if (FBy16.empty()) {
    for (size_t i = 0; i < N; ++i) Held[i] = Find(IPs[i], Blocks[i]);
    return;
  }
  // In groups: the index entries of all first, then their starts, then the
  // records, each read asked for ahead of its use.
  constexpr size_t kGroup = 16;
  const uint32_t* starts = FStarts.data();
  auto startAt = [starts](size_t i) { return starts[i]; };
  ReadMapped([&] {
    for (size_t g = 0; g < N; g += kGroup) {
      const size_t m = std::min(kGroup, N - g);
      size_t lo[kGroup], n[kGroup];
      for (size_t j = 0; j < m; ++j) __builtin_prefetch(&FBy16[IPs[g + j] >> 16]);
      for (size_t j = 0; j < m; ++j) {
        By16Range(FBy16, IPs[g + j], lo[j], n[j]);
        __builtin_prefetch(starts + lo[j]);
        __builtin_prefetch(starts + lo[j] + n[j] / 2);
      }
      for (size_t j = 0; j < m; ++j) {
        Held[g + j] = LastAtOrBelow(IPs[g + j], lo[j], n[j], startAt);
        if (Held[g + j]) __builtin_prefetch(FRecords + lo[j] * kBlockRecordSize);
      }
      for (size_t j = 0; j < m; ++j) {
        if (!Held[g + j]) continue;
        TIPv4Block& b = Blocks[g + j];
        DecodeBlockRecord(FRecords + lo[j] * kBlockRecordSize, b);
        Held[g + j] = IPs[g + j] - b.StartIP < b.Count;
      }
    }
  });
  for (size_t i = 0; i < N; ++i) {
    if (Held[i]) Held[i] = LinkFound(Blocks[i]);
  }
}

void TInPlaceDatabase::FindMany(const TIPv6Address* IPs, size_t N, TIPv6Block* Blocks,
                                bool* Held) const {
  if (FBy16Six.empty()) {
    for (size_t i = 0; i < N; ++i) Held[i] = Find(IPs[i], Blocks[i]);
    return;
  }
  // In groups, the halvings over the upper halves in step, each asking
  // for its next read before the group's others are done.
  constexpr size_t kGroup = 16;
  const uint64_t* highs = FHighs6.data();
  ReadMapped([&] {
    for (size_t g = 0; g < N; g += kGroup) {
      const size_t m = std::min(kGroup, N - g);
      size_t lo[kGroup], n[kGroup];
      uint64_t high[kGroup];
      for (size_t j = 0; j < m; ++j) {
        high[j] = static_cast<uint64_t>(IPs[g + j] >> 64);
        __builtin_prefetch(&FBy16Six[high[j] >> 48]);
      }
      size_t longest = 0;
      for (size_t j = 0; j < m; ++j) {
        By16Range(FBy16Six, static_cast<uint32_t>(high[j] >> 32), lo[j], n[j]);
        __builtin_prefetch(highs + lo[j] + n[j] / 2);
        longest = std::max(longest, n[j]);
      }
      for (; longest > 1; longest -= longest / 2) {
        for (size_t j = 0; j < m; ++j) {
          if (n[j] <= 1) continue;
          const size_t half = n[j] / 2;
          lo[j] = highs[lo[j] + half] <= high[j] ? lo[j] + half : lo[j];
          n[j] -= half;
          __builtin_prefetch(highs + lo[j] + n[j] / 2);
        }
      }
      for (size_t j = 0; j < m; ++j) {
        const size_t i = g + j;
        Held[i] = n[j] > 0 && highs[lo[j]] <= high[j];
        if (Held[i] && highs[lo[j]] == high[j]) {
          // Starts that share the upper half: the single search sorts
          // them out.
          Held[i] = FindRecord(IPs[i], Blocks[i]);
          n[j] = 0;
        } else if (Held[i]) {
          __builtin_prefetch(FRecords6 + lo[j] * kIPv6RecordSize);
        }
      }
      for (size_t j = 0; j < m; ++j) {
        const size_t i = g + j;
        if (!Held[i] || n[j] == 0) continue;
        DecodeIPv6Record(FRecords6 + lo[j] * kIPv6RecordSize, Blocks[i]);
        Held[i] = Blocks[i].Start <= IPs[i] && IPs[i] <= Blocks[i].Last;
      }
    }
  });
  for (size_t i = 0; i < N; ++i) {
    if (Held[i]) Held[i] = LinkFound(Blocks[i]);
  }
}

bool TInPlaceDatabase::Find(TIPv6Address IP, TIPv6Block& Block) const {
  bool held = false;
  ReadMapped([&] { held = FindRecord(IP, Block); });
  return held && LinkFound(Block);
}

bool TInPlaceDatabase::FindRecord(TIPv6Address IP, TIPv6Block& Block) const {
  const unsigned char* records = FRecords6;
  auto startAt = [records](size_t i) { return IPv6FromBytes(records + i * kIPv6RecordSize); };
  size_t lo = 0, n = FCount6;
  if (!FBy16Six.empty()) {
    // The last start whose upper half is at or below the address's, among
    // those of its first 16 bits and the one before; where several share
    // that upper half (blocks smaller than a /64), the last of them at or
    // below the address, by halving over their whole starts.
    const auto high = static_cast<uint64_t>(IP >> 64);
    By16Range(FBy16Six, static_cast<uint32_t>(high >> 32), lo, n);
    const size_t bucket = lo;
    const uint64_t* highs = FHighs6.data();
    auto highAt = [highs](size_t i) { return highs[i]; };
    if (!LastAtOrBelow(high, lo, n, highAt)) return false;
    if (highs[lo] == high) {
      // The run of equal upper halves ends at lo and begins after the last
      // start whose upper half is below the address's: within the same
      // first 16 bits, so not before the bucket.
      size_t first = bucket, below = bucket;
      if (high > 0 && LastAtOrBelow(high - 1, below, lo - bucket, highAt)) first = below + 1;
      size_t at = first;
      if (!LastAtOrBelow(IP, at, lo - first + 1, startAt)) {
        if (first == 0) return false;
        at = first - 1;
      }
      lo = at;
    }
  } else if (!LastAtOrBelow(IP, lo, n, startAt)) {
    return false;
  }
  DecodeIPv6Record(records + lo * kIPv6RecordSize, Block);
  return Block.Start <= IP && IP <= Block.Last;
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
  unsigned char record[kMaxKeyedRecord];
  size_t size = 0;
  ReadMapped([&] {
    size = FindInSection(Records, End, Count, Key,
                         country ? &TCursor::SkipCountry : &TCursor::SkipCenter, record);
  });
  if (size == 0) return nullptr;
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(record), size));
  auto item = std::make_unique<T>();
  item->LoadFromStream(stream);
  return item;
}
