#include "cli/streamsearch.h"

#include "cli/lookupdb.h"
#include "ipdb/inplace.h"

TStreamSearch::TStreamSearch(TLookupDatabase& Db, std::ostream& Err) : FDb(Db), FErr(Err) {}

void TStreamSearch::Search() {
  F4.Ready();
  F6.Ready();
  FDb.Follow(FErr);
  FDb.Read(
      [&] {
        // Another database than the last searched has no index yet.
        if (FDb.Generation() != FGeneration) {
          FGeneration = FDb.Generation();
          FSearched4 = FSearched6 = 0;
        }
        SearchOnce();
      },
      FErr);
}

void TStreamSearch::SearchOnce() {
  const size_t n4 = F4.IPs.size(), n6 = F6.IPs.size();
  const TInPlaceDatabase* mapped = FDb.Mapped();
  if (!mapped) {
    for (size_t i = 0; i < n4; ++i) F4.Held[i] = FDb.Find(F4.IPs[i], F4.Blocks[i]);
    for (size_t i = 0; i < n6; ++i) F6.Held[i] = FDb.Find(F6.IPs[i], F6.Blocks[i]);
    return;
  }
  // A long stream is searched faster with the mapping's index: each
  // family's, once that family has been searched often enough.
  if (FSearched4 < kIndexAfterSearches && FSearched4 + n4 >= kIndexAfterSearches)
    mapped->BuildIndex4();
  if (FSearched6 < kIndexAfterSearches && FSearched6 + n6 >= kIndexAfterSearches)
    mapped->BuildIndex6();
  FSearched4 += n4;
  FSearched6 += n6;
  mapped->FindMany(F4.IPs.data(), n4, F4.Blocks.data(), F4.Held.get());
  mapped->FindMany(F6.IPs.data(), n6, F6.Blocks.data(), F6.Held.get());
}
