#include "cli/streamsearch.h"

#include "ipdb/inplace.h"

TStreamSearch::TStreamSearch(const TInPlaceDatabase* Mapped, const TIPv4Database* Db)
    : FMapped(Mapped), FDb(Db) {}

void TStreamSearch::Search() {
  F4.Ready();
  F6.Ready();
  const size_t n4 = F4.IPs.size(), n6 = F6.IPs.size();
  if (!FMapped) {
    for (size_t i = 0; i < n4; ++i) {
      const int at = FDb->FindBlock(F4.IPs[i]);
      F4.Held[i] = at >= 0;
      if (at >= 0) F4.Blocks[i] = FDb->Blocks[static_cast<size_t>(at)];
    }
    for (size_t i = 0; i < n6; ++i) {
      const int at = FDb->IPv6.Find(F6.IPs[i]);
      F6.Held[i] = at >= 0;
      if (at >= 0) F6.Blocks[i] = FDb->IPv6.Blocks[static_cast<size_t>(at)];
    }
    return;
  }
  // A long stream is searched faster with the mapping's index.
  const uint64_t before = FSearched;
  FSearched += n4 + n6;
  if (before < kIndexAfterSearches && FSearched >= kIndexAfterSearches) FMapped->BuildIndex();
  FMapped->FindMany(F4.IPs.data(), n4, F4.Blocks.data(), F4.Held.get());
  FMapped->FindMany(F6.IPs.data(), n6, F6.Blocks.data(), F6.Held.get());
}
