// What every fuzz target checks after it has run: the invariants of a
// loaded database, and a crash for any error that is not one of ours.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "ipv4base/ipv4base.h"

// Stops the run: libFuzzer (and the replay) report it as a crash.
[[noreturn]] inline void FuzzFail(const char* What) {
  std::fprintf(stderr, "invariant broken: %s\n", What);
  std::abort();
}

#define FUZZ_CHECK(Condition)               \
  do {                                      \
    if (!(Condition)) FuzzFail(#Condition); \
  } while (0)

// A database after a successful load: blocks sorted, every block linked and
// in its country's and registry's lists, and every lookup answered with a
// block that holds the address.
inline void CheckLoaded(TIPv4Database& Db) {
  size_t linked = 0;
  for (int i = 0; i < Db.BlockCount(); ++i) {
    const TIPv4Block* b = Db.BlockAt(i);
    FUZZ_CHECK(b->Country != nullptr && b->Center != nullptr);
    FUZZ_CHECK(b->Country->Code == b->CountryCode && b->Center->ID == b->CenterID);
    if (i > 0) FUZZ_CHECK(Db.BlockAt(i - 1)->StartIP <= b->StartIP);
    // A block's first address always finds a block that holds it; any
    // address that finds one finds a block that holds it (with overlapping
    // blocks, which a file may hold, an address may be missed).
    if (b->Count > 0) FUZZ_CHECK(Db.FindBlock(b->StartIP) >= 0);
    for (uint32_t ip : {b->StartIP, b->LastIP(), b->StartIP + b->Count / 2}) {
      const int found = Db.FindBlock(ip);
      if (found >= 0) FUZZ_CHECK(ip - Db.BlockAt(found)->StartIP < Db.BlockAt(found)->Count);
    }
  }
  for (int i = 0; i < Db.CountryCount(); ++i) linked += Db.CountryAt(i)->Blocks.size();
  FUZZ_CHECK(linked == static_cast<size_t>(Db.BlockCount()));
}

// Runs Body; our own errors end the input quietly, anything else crashes.
template <typename Fn>
void ExpectOwnErrors(Fn Body) {
  try {
    Body();
  } catch (const EKeslError&) {
  } catch (const std::exception& e) {
    std::fprintf(stderr, "foreign exception: %s\n", e.what());
    std::abort();
  }
}
