// What every fuzz target checks after it has run: the invariants of a
// loaded database, and a crash for any error that is not one of ours.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

#include "ipdb/database.h"
#include "ipdb/format.h"

// Stops the run: libFuzzer (and the replay) report it as a crash.
[[noreturn]] inline void FuzzFail(const char* What) {
  std::fprintf(stderr, "invariant broken: %s\n", What);
  std::abort();
}

#define FUZZ_CHECK(Condition)               \
  do {                                      \
    if (!(Condition)) FuzzFail(#Condition); \
  } while (0)

// Whether Block holds IP, by the plain rule: no wrap past 255.255.255.255.
inline bool Holds(const TIPv4Block& Block, uint32_t IP) {
  return Block.StartIP <= IP && IP - Block.StartIP < Block.Count;
}

// The answer a plain scan of the blocks gives for IP: -1 when no block holds
// it, -2 when more than one does (blocks of a file may overlap).
inline int ScanForBlock(TIPv4Database& Db, uint32_t IP) {
  int found = -1;
  for (int i = 0; i < Db.BlockCount(); ++i) {
    if (!Holds(*Db.BlockAt(i), IP)) continue;
    if (found >= 0) return -2;
    found = i;
  }
  return found;
}

// Whether no block that holds addresses reaches into the next such block.
// Only then is the search's answer the one answer: overlapping blocks are
// outside its contract.
inline bool Disjoint(TIPv4Database& Db) {
  uint64_t end = 0;  // one past the last address of the blocks so far
  for (int i = 0; i < Db.BlockCount(); ++i) {
    const TIPv4Block& b = *Db.BlockAt(i);
    if (b.Count == 0) continue;
    if (b.StartIP < end) return false;
    end = uint64_t{b.StartIP} + b.Count;
  }
  return true;
}

// FindBlock against the scan at IP: any answer holds the address, and over
// disjoint blocks the answers agree.
inline void CheckLookup(TIPv4Database& Db, uint32_t IP, bool Disjoint) {
  const int found = Db.FindBlock(IP);
  if (found >= 0) FUZZ_CHECK(Holds(*Db.BlockAt(found), IP));
  if (Disjoint) FUZZ_CHECK(found == ScanForBlock(Db, IP));
}

// The IPv6 part after a successful load: blocks ascending without overlap
// and linked, and searches at each block's edges and at Probes that agree
// with a scan.
inline void CheckLoaded6(const TIPv4Database& Db, std::vector<TIPv6Address> Probes = {}) {
  const auto& blocks = Db.IPv6.Blocks;
  FUZZ_CHECK(blocks.size() <= kMaxIPv6Count);
  for (size_t i = 0; i < blocks.size(); ++i) {
    FUZZ_CHECK(blocks[i].Start <= blocks[i].Last);
    FUZZ_CHECK(i == 0 || blocks[i - 1].Last < blocks[i].Start);
    FUZZ_CHECK(blocks[i].Country && blocks[i].Country->Code == blocks[i].CountryCode);
    FUZZ_CHECK(blocks[i].Center && blocks[i].Center->ID == blocks[i].CenterID);
    if (i < 64)
      Probes.insert(Probes.end(),
                    {blocks[i].Start - 1, blocks[i].Start, blocks[i].Last, blocks[i].Last + 1});
  }
  for (const TIPv6Address a : Probes) {
    int want = -1;
    for (size_t i = 0; i < blocks.size() && blocks.size() <= 4096; ++i) {
      if (blocks[i].Start <= a && a <= blocks[i].Last) want = static_cast<int>(i);
    }
    const int found = Db.IPv6.Find(a);
    if (found >= 0) {
      FUZZ_CHECK(blocks[static_cast<size_t>(found)].Start <= a &&
                 a <= blocks[static_cast<size_t>(found)].Last);
    }
    if (blocks.size() <= 4096) FUZZ_CHECK(found == want);
  }
}

// A database after a successful load: blocks sorted, every block linked and
// in its country's and registry's lists, and lookups that agree with a plain
// scan at every block's first and last address, the addresses around them,
// and the space below the first block.
inline void CheckLoaded(TIPv4Database& Db) {
  size_t linked = 0;
  const int count = Db.BlockCount();
  // The scan is quadratic: large loads are not probed.
  const int probed = count <= 512 ? count : 0;
  const bool disjoint = Disjoint(Db);
  for (int i = 0; i < count; ++i) {
    const TIPv4Block* b = Db.BlockAt(i);
    FUZZ_CHECK(b->Country != nullptr && b->Center != nullptr);
    FUZZ_CHECK(b->Country->Code == b->CountryCode && b->Center->ID == b->CenterID);
    if (i > 0) FUZZ_CHECK(Db.BlockAt(i - 1)->StartIP <= b->StartIP);
    if (i >= probed) continue;
    for (uint32_t ip :
         {b->StartIP, b->LastIP(), b->StartIP - 1, b->LastIP() + 1, b->StartIP + b->Count / 2}) {
      CheckLookup(Db, ip, disjoint);
    }
  }
  if (count > 0) {
    const uint32_t first = Db.BlockAt(0)->StartIP;
    for (uint32_t ip : {uint32_t{0}, first / 2, first - 1}) {
      if (ip < first) FUZZ_CHECK(Db.FindBlock(ip) == -1);
    }
  }
  for (int i = 0; i < Db.CountryCount(); ++i) linked += Db.CountryAt(i)->Blocks.size();
  FUZZ_CHECK(linked == static_cast<size_t>(Db.BlockCount()));
  CheckLoaded6(Db);
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
