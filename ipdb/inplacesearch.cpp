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
  // In groups of 16, the searches side by side, in three steps a group
  // apart, so that what a step asks for ahead arrives while the next
  // group's step runs:
  // 1. the index narrows each search to the upper halves of the address's
  //    first 16 bits (most of the space holds no block, and there it leaves
  //    one); a longer range is narrowed again by halving over its every
  //    32nd upper half, a list small enough for the caches, to a run of 32.
  //    Their lines are asked for.
  // 2. halving within them finds the record, which is asked for.
  // 3. the record is read.
  constexpr size_t kGroup = 16;
  struct TGroup {
    size_t From = 0, Size = 0;  // which addresses
    size_t Lo[kGroup], N[kGroup];
    uint64_t High[kGroup];
  };
  TGroup groups[3];
  const uint64_t* highs = FHighs6.data();
  const uint64_t* sample = FSample6.data();
  auto highAt = [highs](size_t i) { return highs[i]; };
  auto sampleAt = [sample](size_t k) { return sample[k]; };
  const auto narrow = [&](TGroup& G) {
    for (size_t j = 0; j < G.Size; ++j) {
      G.High[j] = static_cast<uint64_t>(IPs[G.From + j] >> 64);
      __builtin_prefetch(&FBy16Six[IPv6IndexKey(G.High[j]) >> 16]);
    }
    for (size_t j = 0; j < G.Size; ++j) {
      size_t& lo = G.Lo[j];
      size_t& n = G.N[j];
      By16Range(FBy16Six, IPv6IndexKey(G.High[j]), lo, n);
      if (n > kSampleRun) {
        // The runs of 32 that meet the range; if none starts at or below
        // the address, the first, whose start decides.
        size_t k = lo / kSampleRun;
        LastAtOrBelow(G.High[j], k, (lo + n - 1) / kSampleRun - k + 1, sampleAt);
        const size_t from = std::max(lo, k * kSampleRun);
        n = std::min(lo + n, (k + 1) * kSampleRun) - from;
        lo = from;
      }
      for (size_t at = 0; at < n; at += 8) __builtin_prefetch(highs + lo + at);
      if (n > 0) __builtin_prefetch(highs + lo + n - 1);
    }
  };
  const auto search = [&](TGroup& G) {
    for (size_t j = 0; j < G.Size; ++j) {
      const size_t i = G.From + j;
      size_t& lo = G.Lo[j];
      size_t& n = G.N[j];
      Held[i] = LastAtOrBelow(G.High[j], lo, n, highAt);
      if (Held[i] && highs[lo] == G.High[j] && lo > 0 && highs[lo - 1] == G.High[j]) {
        // Several starts share the address's upper half: the single
        // search sorts them out.
        Held[i] = FindRecord(IPs[i], Blocks[i]);
        n = 0;
      } else if (Held[i]) {
        // A record of 40 bytes may cross into the next line.
        __builtin_prefetch(FRecords6 + lo * kIPv6RecordSize);
        __builtin_prefetch(FRecords6 + lo * kIPv6RecordSize + kIPv6RecordSize - 1);
      }
    }
  };
  const auto read = [&](const TGroup& G) {
    for (size_t j = 0; j < G.Size; ++j) {
      const size_t i = G.From + j, lo = G.Lo[j];
      if (!Held[i] || G.N[j] == 0) continue;
      DecodeIPv6Record(FRecords6 + lo * kIPv6RecordSize, Blocks[i]);
      if (IPs[i] < Blocks[i].Start) {
        // The one start with the address's upper half lies above it: the
        // block before, whose upper half is lower, is the last start
        // below the address.
        if (lo == 0) {
          Held[i] = false;
          continue;
        }
        DecodeIPv6Record(FRecords6 + (lo - 1) * kIPv6RecordSize, Blocks[i]);
      }
      Held[i] = Blocks[i].Start <= IPs[i] && IPs[i] <= Blocks[i].Last;
    }
  };
  ReadMapped([&] {
    const size_t count = (N + kGroup - 1) / kGroup;
    for (size_t step = 0; step < count + 2; ++step) {
      if (step < count) {
        TGroup& g = groups[step % 3];
        g.From = step * kGroup;
        g.Size = std::min(kGroup, N - g.From);
        narrow(g);
      }
      if (step >= 1 && step - 1 < count) search(groups[(step - 1) % 3]);
      if (step >= 2) read(groups[(step - 2) % 3]);
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
