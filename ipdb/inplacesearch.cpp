// The searches of a file in place: halving over the block records, or
// over the index of their starts once it is built, one address at a time
// or several side by side.
#include <algorithm>

#include "ipdb/by16index.h"
#include "ipdb/format.h"
#include "ipdb/inplace.h"

void TInPlaceDatabase::BuildIndex() const {
  BuildIndex4();
  BuildIndex6();
}

void TInPlaceDatabase::BuildIndex4() const {
  if (!FBy16.empty()) return;
  // Whatever order the records are really in, the index stays within them,
  // so a file that lies about its order can only make a search miss, never
  // read outside the mapping.
  TLargeVector<uint32_t> starts(FCount);
  uint32_t* const to = starts.data();
  ReadMapped([&] {
    for (uint32_t i = 0; i < FCount; ++i)
      to[i] = DecodeBlockStart(FRecords + size_t{i} * kBlockRecordSize);
  });
  FBy16 = MakeBy16Index(starts.size(), [&starts](size_t i) { return starts[i]; });
  FStarts = std::move(starts);
}

void TInPlaceDatabase::BuildIndex6() const {
  if (!FBy16Six.empty()) return;
  // The starts' upper halves, indexed by their first 16 bits. As for IPv4,
  // an index made from counts stays within the records whatever their
  // order.
  TLargeVector<uint64_t> highs(FCount6);
  uint64_t* const high = highs.data();
  ReadMapped([&] {
    for (uint32_t i = 0; i < FCount6; ++i) {
      high[i] =
          static_cast<uint64_t>(DecodeIPv6Start(FRecords6 + size_t{i} * kIPv6RecordSize) >> 64);
    }
  });
  FBy16Six = MakeBy16Index(highs.size(), [&highs](size_t i) { return IPv6IndexKey(highs[i]); });
  FSample6.clear();
  for (size_t i = 0; i < highs.size(); i += kSampleRun) FSample6.push_back(highs[i]);
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

bool TInPlaceDatabase::FindRecord(uint32_t IP, TIPv4Block& Block, size_t* Index) const {
  // The last record whose start is at or below IP, by halving: over all
  // records, or with the index over those of IP's /16 and the one before.
  size_t lo = 0, n = FCount;
  if (!FBy16.empty()) {
    By16Range(FBy16, IP, lo, n);
    const uint32_t* starts = FStarts.data();
    if (!LastAtOrBelow(IP, lo, n, [starts](size_t i) { return starts[i]; })) return false;
  } else {
    const unsigned char* records = FRecords;
    auto startAt = [records](size_t i) { return DecodeBlockStart(records + i * kBlockRecordSize); };
    if (!LastAtOrBelow(IP, lo, n, startAt)) return false;
  }
  DecodeBlockRecord(FRecords + lo * kBlockRecordSize, Block);
  if (Index) *Index = lo;
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
  // In groups, the searches side by side: first over every 32nd upper
  // half (a list small enough for the caches, the same steps for every
  // address), then within the run of 32 that this leads to, whose four
  // lines are asked for at once rather than met one miss after another.
  constexpr size_t kGroup = 16;
  const uint64_t* highs = FHighs6.data();
  const uint64_t* sample = FSample6.data();
  ReadMapped([&] {
    for (size_t g = 0; g < N; g += kGroup) {
      const size_t m = std::min(kGroup, N - g);
      size_t lo[kGroup], n[kGroup];
      uint64_t high[kGroup];
      for (size_t j = 0; j < m; ++j) {
        high[j] = static_cast<uint64_t>(IPs[g + j] >> 64);
        lo[j] = 0;
      }
      for (size_t left = FSample6.size(); left > 1; left -= left / 2) {
        const size_t half = left / 2;
        for (size_t j = 0; j < m; ++j)
          lo[j] = sample[lo[j] + half] <= high[j] ? lo[j] + half : lo[j];
      }
      size_t longest = 0;
      for (size_t j = 0; j < m; ++j) {
        lo[j] *= kSampleRun;
        n[j] = std::min<size_t>(kSampleRun, FCount6 - lo[j]);
        for (size_t line = 0; line < n[j]; line += 8) __builtin_prefetch(highs + lo[j] + line);
        longest = std::max(longest, n[j]);
      }
      for (; longest > 1; longest -= longest / 2) {
        for (size_t j = 0; j < m; ++j) {
          if (n[j] <= 1) continue;
          const size_t half = n[j] / 2;
          lo[j] = highs[lo[j] + half] <= high[j] ? lo[j] + half : lo[j];
          n[j] -= half;
        }
      }
      for (size_t j = 0; j < m; ++j) {
        const size_t i = g + j;
        Held[i] = n[j] > 0 && highs[lo[j]] <= high[j];
        if (Held[i] && highs[lo[j]] == high[j] && lo[j] > 0 && highs[lo[j] - 1] == high[j]) {
          // Several starts share the address's upper half: the single
          // search sorts them out.
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
        if (IPs[i] < Blocks[i].Start) {
          // The one start with the address's upper half lies above it: the
          // block before, whose upper half is lower, is the last start
          // below the address.
          if (lo[j] == 0) {
            Held[i] = false;
            continue;
          }
          DecodeIPv6Record(FRecords6 + (lo[j] - 1) * kIPv6RecordSize, Blocks[i]);
        }
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

bool TInPlaceDatabase::FindRecord(TIPv6Address IP, TIPv6Block& Block, size_t* Index) const {
  const unsigned char* records = FRecords6;
  auto startAt = [records](size_t i) { return DecodeIPv6Start(records + i * kIPv6RecordSize); };
  size_t lo = 0, n = FCount6;
  if (!FBy16Six.empty()) {
    // The last start whose upper half is at or below the address's, among
    // those of its first 16 bits and the one before; where several share
    // that upper half (blocks smaller than a /64), the last of them at or
    // below the address, by halving over their whole starts.
    const auto high = static_cast<uint64_t>(IP >> 64);
    By16Range(FBy16Six, IPv6IndexKey(high), lo, n);
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
  if (Index) *Index = lo;
  return Block.Start <= IP && IP <= Block.Last;
}

int64_t TInPlaceDatabase::IndexOf(uint32_t Start) const {
  TIPv4Block b;
  size_t at = 0;
  return FindRecord(Start, b, &at) && b.StartIP == Start ? static_cast<int64_t>(at) : -1;
}

int64_t TInPlaceDatabase::IndexOf(TIPv6Address Start) const {
  TIPv6Block b;
  size_t at = 0;
  return FindRecord(Start, b, &at) && b.Start == Start ? static_cast<int64_t>(at) : -1;
}
