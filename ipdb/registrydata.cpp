#include "ipdb/registrydata.h"

#include <algorithm>
#include <charconv>

#include "ipdb/format.h"
#include "ipdb/registries.h"
#include "tools/tools.h"

namespace {

// Record sizes of the four entries (docs/country-ip4-format.md).
constexpr size_t kHolderRecord = 2;   // u16 registry
constexpr size_t kHoldingRecord = 4;  // status in the high byte, holder + 1 below
// u32 first, u16 count - 1, u16 country, u16 date as a day number (0 when
// unknown), u16 registry, u32 holding.
constexpr size_t kASNRecord = 16;
// The most AS numbers one record holds; longer runs are written as several.
constexpr uint32_t kMaxASNRecordCount = 1u << 16;
constexpr size_t kFree4Record = 16;  // u32 first, last, date, u16 registry, u8 status, u8 0
constexpr size_t kFree6Record = 40;  // 16 first, 16 last, u32 date, u16 registry, u8 status, u8 0

// A date yyyymmdd as the u16 of a record: its day number, 0 when unknown
// or outside 1900 to 2079.
uint16_t PackDate(uint32_t Date) {
  const int32_t day =
      EncodeDayNumber(static_cast<int32_t>(Date / 10000), static_cast<int32_t>(Date / 100 % 100),
                      static_cast<int32_t>(Date % 100));
  return day > 0 && day <= 0xFFFF ? static_cast<uint16_t>(day) : 0;
}

uint32_t UnpackDate(uint16_t Day) {
  int32_t y = 0, m = 0, d = 0;
  if (Day == 0 || !DecodeDayNumber(Day, y, m, d)) return 0;
  return static_cast<uint32_t>(y * 10000 + m * 100 + d);
}

const unsigned char* Bytes(std::string_view V) {
  return reinterpret_cast<const unsigned char*>(V.data());
}

uint32_t PackHolding(const THolding& H) {
  const uint32_t holder = H.Holder == kNoHolder || H.Holder >= kMaxHolders ? 0 : H.Holder + 1;
  return (static_cast<uint32_t>(H.Status) << 24) | holder;
}

void PutFree(std::string& Out, uint16_t CenterID, TAllocation Status, uint32_t Date) {
  Put32(Out, Date);
  Put16(Out, CenterID);
  Out += static_cast<char>(Status);
  Out += '\0';
}

// A u32 count at the start of V, and whether N records of Size fit after it.
bool CountFits(std::string_view V, size_t At, size_t Size, uint32_t& N) {
  if (V.size() < At + 4) return false;
  N = Get32(Bytes(V) + At);
  return (V.size() - At - 4) / Size >= N;
}

template <typename TRange, typename TAddress>
bool FindRange(const unsigned char* Records, uint32_t Count, size_t Size, TAddress Key, TRange& Out,
               TRange (*Decode)(const unsigned char*)) {
  // The last record that starts at or below Key.
  size_t lo = 0, n = Count;
  if (n == 0) return false;
  auto first = [&](size_t i) { return Decode(Records + i * Size).First; };
  if (first(0) > Key) return false;
  while (n > 1) {
    const size_t half = n / 2;
    lo = first(lo + half) <= Key ? lo + half : lo;
    n -= half;
  }
  Out = Decode(Records + lo * Size);
  return Out.First <= Key && Key <= Out.Last;
}

TFreeRange4 DecodeFree4(const unsigned char* P) {
  TFreeRange4 r;
  r.First = Get32(P);
  r.Last = Get32(P + 4);
  r.Date = Get32(P + 8);
  r.CenterID = Get16(P + 12);
  r.Status = P[14] <= alReserved ? static_cast<TAllocation>(P[14]) : alUnknown;
  return r;
}

TFreeRange6 DecodeFree6(const unsigned char* P) {
  TFreeRange6 r;
  r.First = IPv6FromBytes(P);
  r.Last = IPv6FromBytes(P + 16);
  r.Date = Get32(P + 32);
  r.CenterID = Get16(P + 36);
  r.Status = P[38] <= alReserved ? static_cast<TAllocation>(P[38]) : alUnknown;
  return r;
}

}  // namespace

std::string_view AllocationName(TAllocation Status) {
  switch (Status) {
    case alAllocated:
      return "allocated";
    case alAssigned:
      return "assigned";
    case alAvailable:
      return "available";
    case alReserved:
      return "reserved";
    case alUnknown:
      break;
  }
  return {};
}

TAllocation AllocationOf(std::string_view Field) {
  for (const TAllocation a : {alAllocated, alAssigned, alAvailable, alReserved}) {
    const std::string_view name = AllocationName(a);
    if (Field.size() == name.size() &&
        std::equal(Field.begin(), Field.end(), name.begin(),
                   [](char c, char n) { return (c >= 'A' && c <= 'Z' ? c + 32 : c) == n; })) {
      return a;
    }
  }
  return alUnknown;
}

TRegistryEntries EncodeRegistryTables(const TRegistryTables& T, std::string& Storage) {
  Storage.clear();
  size_t at[5] = {};
  // Holders: each one's registry. Their opaque ids are not kept: a holder
  // is its number, which ties its records together as the id did within
  // one file.
  Put32(Storage, static_cast<uint32_t>(T.Holders.size()));
  for (const uint16_t registry : T.Holders) Put16(Storage, registry);
  at[1] = Storage.size();
  if (!T.Holdings4.empty() || !T.Holdings6.empty()) {
    Put32(Storage, static_cast<uint32_t>(T.Holdings4.size()));
    Put32(Storage, static_cast<uint32_t>(T.Holdings6.size()));
    for (const auto* list : {&T.Holdings4, &T.Holdings6}) {
      for (const THolding& h : *list) Put32(Storage, PackHolding(h));
    }
  }
  at[2] = Storage.size();
  // AS records, a run longer than a record holds as several; then the
  // indexes of those with a holder, by holder.
  std::vector<TASNRecord> records;
  for (const TASNRecord& r : T.ASNs) {
    for (uint64_t first = r.First; first <= r.Last(); first += kMaxASNRecordCount) {
      TASNRecord piece = r;
      piece.First = static_cast<uint32_t>(first);
      piece.Count =
          static_cast<uint32_t>(std::min<uint64_t>(kMaxASNRecordCount, r.Last() - first + 1));
      records.push_back(piece);
    }
  }
  Put32(Storage, static_cast<uint32_t>(records.size()));
  std::vector<uint32_t> byHolder;
  for (uint32_t i = 0; i < records.size(); ++i) {
    const TASNRecord& r = records[i];
    Put32(Storage, r.First);
    Put16(Storage, static_cast<uint16_t>(r.Count - 1));
    Put16(Storage, r.CountryCode);
    Put16(Storage, PackDate(r.Date));
    Put16(Storage, r.CenterID);
    Put32(Storage, PackHolding(r.Holding));
    if (r.Holding.Holder != kNoHolder) byHolder.push_back(i);
  }
  std::stable_sort(byHolder.begin(), byHolder.end(), [&records](uint32_t a, uint32_t b) {
    return records[a].Holding.Holder < records[b].Holding.Holder;
  });
  Put32(Storage, static_cast<uint32_t>(byHolder.size()));
  for (const uint32_t i : byHolder) Put32(Storage, i);
  at[3] = Storage.size();
  Put32(Storage, static_cast<uint32_t>(T.Free4.size()));
  for (const TFreeRange4& r : T.Free4) {
    Put32(Storage, r.First);
    Put32(Storage, r.Last);
    PutFree(Storage, r.CenterID, r.Status, r.Date);
  }
  Put32(Storage, static_cast<uint32_t>(T.Free6.size()));
  unsigned char bytes[16];
  for (const TFreeRange6& r : T.Free6) {
    for (const TIPv6Address a : {r.First, r.Last}) {
      IPv6ToBytes(a, bytes);
      Storage.append(reinterpret_cast<const char*>(bytes), 16);
    }
    PutFree(Storage, r.CenterID, r.Status, r.Date);
  }
  at[4] = Storage.size();
  const std::string_view s(Storage);
  return {s.substr(0, at[1]), s.substr(at[1], at[2] - at[1]), s.substr(at[2], at[3] - at[2]),
          s.substr(at[3], at[4] - at[3])};
}

void TRegistryData::Clear() {
  FOwned.clear();
  Forget();
}

void TRegistryData::Forget() {
  FHolders = FHoldings = FASNs = FASNsByHolder = FFree4 = FFree6 = nullptr;
  FHolderCount = FBlocks4 = FBlocks6 = FASNCount = FByHolderCount = FFree4Count = FFree6Count = 0;
}

bool TRegistryData::Own(std::string Bytes, const size_t (&Sizes)[4], uint32_t Blocks4,
                        uint32_t Blocks6) {
  // The entries lie one after another in Bytes: cut them from the kept
  // copy, by size (a short string's bytes move with it).
  Clear();
  FOwned = std::move(Bytes);
  std::string_view views[4];
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    if (Sizes[i] > FOwned.size() - at) return Clear(), false;
    views[i] = std::string_view(FOwned).substr(at, Sizes[i]);
    at += Sizes[i];
  }
  if (Attach({views[0], views[1], views[2], views[3]}, Blocks4, Blocks6)) return true;
  Clear();
  return false;
}

bool TRegistryData::Attach(const TRegistryEntries& E, uint32_t Blocks4, uint32_t Blocks6) {
  Forget();
  bool ok = true;
  if (!E.Holders.empty()) {
    uint32_t n = 0;
    ok = CountFits(E.Holders, 0, kHolderRecord, n) &&
         E.Holders.size() == 4 + size_t{n} * kHolderRecord && n <= kMaxHolders;
    if (ok) {
      FHolders = Bytes(E.Holders) + 4;
      FHolderCount = n;
    }
  }
  if (ok && !E.Holdings.empty()) {
    const unsigned char* p = Bytes(E.Holdings);
    ok = E.Holdings.size() >= 8 && Get32(p) == Blocks4 && Get32(p + 4) == Blocks6 &&
         E.Holdings.size() == 8 + (uint64_t{Blocks4} + Blocks6) * kHoldingRecord;
    if (ok) {
      FHoldings = p + 8;
      FBlocks4 = Blocks4;
      FBlocks6 = Blocks6;
    }
  }
  if (ok && !E.ASNs.empty()) {
    uint32_t n = 0, m = 0;
    ok = CountFits(E.ASNs, 0, kASNRecord, n);
    const size_t index = 4 + size_t{n} * kASNRecord;
    ok = ok && CountFits(E.ASNs, index, 4, m) && E.ASNs.size() == index + 4 + size_t{m} * 4;
    if (ok) {
      FASNs = Bytes(E.ASNs) + 4;
      FASNCount = n;
      FASNsByHolder = Bytes(E.ASNs) + index + 4;
      FByHolderCount = m;
    }
  }
  if (ok && !E.Free.empty()) {
    uint32_t n4 = 0, n6 = 0;
    ok = CountFits(E.Free, 0, kFree4Record, n4);
    const size_t six = 4 + size_t{n4} * kFree4Record;
    ok = ok && CountFits(E.Free, six, kFree6Record, n6) &&
         E.Free.size() == six + 4 + size_t{n6} * kFree6Record;
    if (ok) {
      FFree4 = Bytes(E.Free) + 4;
      FFree4Count = n4;
      FFree6 = Bytes(E.Free) + six + 4;
      FFree6Count = n6;
    }
  }
  if (!ok) Forget();
  return ok;
}

THolding TRegistryData::HoldingAt(const unsigned char* P) const {
  const uint32_t v = Get32(P);
  THolding h;
  const uint32_t status = v >> 24;
  h.Status = status <= alReserved ? static_cast<TAllocation>(status) : alUnknown;
  const uint32_t holder = v & 0xFFFFFF;
  h.Holder = holder != 0 && holder <= FHolderCount ? holder - 1 : kNoHolder;
  return h;
}

THolding TRegistryData::Holding4(uint32_t Index) const {
  if (!FHoldings || Index >= FBlocks4) return {};
  return HoldingAt(FHoldings + size_t{Index} * kHoldingRecord);
}

THolding TRegistryData::Holding6(uint32_t Index) const {
  if (!FHoldings || Index >= FBlocks6) return {};
  return HoldingAt(FHoldings + (size_t{FBlocks4} + Index) * kHoldingRecord);
}

uint16_t TRegistryData::HolderRegistry(uint32_t Number) const {
  return Number < FHolderCount ? Get16(FHolders + size_t{Number} * kHolderRecord) : 0;
}

std::string TRegistryData::HolderText(uint32_t Number) const {
  if (Number >= FHolderCount) return {};
  const uint16_t id = HolderRegistry(Number);
  const TRegistryInfo* r = RegistryByID(id);
  return (r ? std::string(r->Name) : std::to_string(id)) + ":" + std::to_string(Number + 1);
}

TASNRecord TRegistryData::ASNAt(uint32_t Index) const {
  TASNRecord r;
  if (Index >= FASNCount) return r;
  const unsigned char* p = FASNs + size_t{Index} * kASNRecord;
  r.First = Get32(p);
  // A run that would pass AS4294967295 ends there.
  r.Count = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{Get16(p + 4)} + 1, uint64_t{0xFFFFFFFFu} - r.First + 1));
  r.CountryCode = Get16(p + 6);
  r.Date = UnpackDate(Get16(p + 8));
  r.CenterID = Get16(p + 10);
  r.Holding = HoldingAt(p + 12);
  return r;
}

bool TRegistryData::FindASN(uint32_t AS, TASNRecord& Record) const {
  if (FASNCount == 0 || ASNAt(0).First > AS) return false;
  size_t lo = 0, n = FASNCount;
  while (n > 1) {
    const size_t half = n / 2;
    lo = ASNAt(static_cast<uint32_t>(lo + half)).First <= AS ? lo + half : lo;
    n -= half;
  }
  Record = ASNAt(static_cast<uint32_t>(lo));
  return Record.Count != 0 && AS - Record.First < Record.Count;
}

std::vector<TASNRecord> TRegistryData::HolderASNs(uint32_t Holder) const {
  std::vector<TASNRecord> out;
  if (Holder == kNoHolder) return out;
  auto holderAt = [this](size_t i) { return ASNAt(Get32(FASNsByHolder + i * 4)).Holding.Holder; };
  // The first entry whose holder is not below Holder, then its run.
  size_t lo = 0, n = FByHolderCount;
  while (n > 0) {
    const size_t half = n / 2;
    if (holderAt(lo + half) < Holder) {
      lo += half + 1;
      n -= half + 1;
    } else {
      n = half;
    }
  }
  for (; lo < FByHolderCount && holderAt(lo) == Holder; ++lo) {
    out.push_back(ASNAt(Get32(FASNsByHolder + lo * 4)));
  }
  std::sort(out.begin(), out.end(),
            [](const TASNRecord& a, const TASNRecord& b) { return a.First < b.First; });
  return out;
}

bool TRegistryData::FindFree(uint32_t IP, TFreeRange4& Range) const {
  return FindRange(FFree4, FFree4Count, kFree4Record, IP, Range, DecodeFree4);
}

bool TRegistryData::FindFree(TIPv6Address IP, TFreeRange6& Range) const {
  return FindRange(FFree6, FFree6Count, kFree6Record, IP, Range, DecodeFree6);
}

TFreeRange4 TRegistryData::Free4At(uint32_t Index) const {
  return Index < FFree4Count ? DecodeFree4(FFree4 + size_t{Index} * kFree4Record) : TFreeRange4();
}

TFreeRange6 TRegistryData::Free6At(uint32_t Index) const {
  return Index < FFree6Count ? DecodeFree6(FFree6 + size_t{Index} * kFree6Record) : TFreeRange6();
}

std::string ASNText(const TASNRecord& Record) {
  std::string text = "AS" + std::to_string(Record.First);
  if (Record.Count > 1) text += " - AS" + std::to_string(Record.Last());
  return text;
}

bool ReadASNQuery(std::string_view Text, uint32_t& AS) {
  if (Text.size() < 3 || Text.size() > 12 || (Text[0] != 'A' && Text[0] != 'a') ||
      (Text[1] != 'S' && Text[1] != 's') || Text[2] < '0' || Text[2] > '9') {
    return false;
  }
  const char* end = Text.data() + Text.size();
  const auto r = std::from_chars(Text.data() + 2, end, AS);
  return r.ec == std::errc() && r.ptr == end;
}
