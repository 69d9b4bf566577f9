#include "cli/streamsearch.h"

#include "cli/lookupdb.h"
#include "ipdb/inplace.h"
#include "tools/errors.h"

TStreamSearch::TStreamSearch(TLookupDatabase& Db, std::ostream& Err) : FDb(Db), FErr(Err) {}

void TStreamSearch::Search() {
  F4.Ready();
  F6.Ready();
  uint64_t generation = FDb.Generation();
  FDb.Follow(FErr);
  // Searched in place, the answers count only if the file stayed as it was
  // opened until they were read: else they are searched again in the file
  // loaded anew.
  for (;;) {
    if (FDb.Generation() != generation) {
      generation = FDb.Generation();
      FSearched = 0;
    }
    try {
      SearchOnce();
    } catch (const EDatabaseError&) {
      // Cut short under the search: written over, as below.
      if (FDb.Unchanged()) throw;
    }
    if (FDb.Unchanged()) return;
    FDb.Reload(FErr);
  }
}

void TStreamSearch::SearchOnce() {
  const size_t n4 = F4.IPs.size(), n6 = F6.IPs.size();
  const TInPlaceDatabase* mapped = FDb.Mapped();
  if (!mapped) {
    const TIPv4Database& db = *FDb.Loaded();
    for (size_t i = 0; i < n4; ++i) {
      const int at = db.FindBlock(F4.IPs[i]);
      F4.Held[i] = at >= 0;
      if (at >= 0) F4.Blocks[i] = db.Blocks[static_cast<size_t>(at)];
    }
    for (size_t i = 0; i < n6; ++i) {
      const int at = db.IPv6.Find(F6.IPs[i]);
      F6.Held[i] = at >= 0;
      if (at >= 0) F6.Blocks[i] = db.IPv6.Blocks[static_cast<size_t>(at)];
    }
    return;
  }
  // A long stream is searched faster with the mapping's index.
  const uint64_t before = FSearched;
  FSearched += n4 + n6;
  if (before < kIndexAfterSearches && FSearched >= kIndexAfterSearches) mapped->BuildIndex();
  mapped->FindMany(F4.IPs.data(), n4, F4.Blocks.data(), F4.Held.get());
  mapped->FindMany(F6.IPs.data(), n6, F6.Blocks.data(), F6.Held.get());
}
