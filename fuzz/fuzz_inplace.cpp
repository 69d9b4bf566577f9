// Whole files through the in-place reader: it never reads outside the
// bytes, and every answer it gives is a block of the file that holds the
// address, whatever the file's mark claims.
#include <cstring>
#include <string>

#include "fuzzcheck.h"
#include "ipdb/inplace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // A copy of its own size, so that AddressSanitizer sees any read past it.
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[Size]);
  if (Size) std::memcpy(bytes.get(), Data, Size);
  const auto db = TInPlaceDatabase::FromMemory(bytes.get(), Size);
  if (!db) return 0;
  FUZZ_CHECK(static_cast<size_t>(db->BlockCount()) * 16 <= Size);
  // Probe below, at and around the first bytes' worth of starts.
  uint32_t probes[16] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  for (size_t i = 6; i < 16; ++i) {
    uint32_t v = static_cast<uint32_t>(i * 0x1234567);
    if (Size >= i * 4 + 4) std::memcpy(&v, Data + Size - i * 4 - 4, 4);
    probes[i] = v;
  }
  // IPv6 probes: the ends of the space and the IPv4 probes spread over it.
  TIPv6Address probes6[18] = {0, ~TIPv6Address{0}};
  for (size_t i = 0; i < 16; ++i) {
    probes6[i + 2] = TIPv6Address{probes[i]} << 96 | TIPv6Address{probes[(i + 1) % 16]} << 64 |
                     probes[(i + 2) % 16];
  }
  // The registries' data: every answer within its entries, and true of
  // what was asked.
  const TRegistryData& registry = db->Registry();
  db->Guarded([&] {
    for (const uint32_t ip : probes) {
      TASNRecord r;
      if (registry.FindASN(ip, r)) FUZZ_CHECK(r.First <= ip && ip - r.First < r.Count);
      TFreeRange4 f;
      if (registry.FindFree(ip, f)) FUZZ_CHECK(f.First <= ip && ip <= f.Last);
      const THolding h = registry.Holding4(ip % (db->BlockCount() + 1));
      FUZZ_CHECK(h.Holder == kNoHolder || h.Holder < registry.HolderCount());
      for (const TASNRecord& a : registry.HolderASNs(h.Holder)) {
        FUZZ_CHECK(a.Holding.Holder == h.Holder);
      }
      (void)registry.HolderText(h.Holder);
      const int64_t at = db->IndexOf(ip);
      FUZZ_CHECK(at < db->BlockCount());
    }
    for (const TIPv6Address ip : probes6) {
      TFreeRange6 f;
      if (registry.FindFree(ip, f)) FUZZ_CHECK(f.First <= ip && ip <= f.Last);
    }
  });
  // Halving over all records, then with the indexes: with both, any answer
  // is a block that holds the address.
  for (int pass = 0; pass < 2; ++pass) {
    if (pass) db->BuildIndex();
    for (uint32_t ip : probes) {
      TIPv4Block b;
      if (!db->Find(ip, b)) continue;
      FUZZ_CHECK(b.StartIP <= ip && ip - b.StartIP < b.Count);
      FUZZ_CHECK(b.Country != nullptr && b.Center != nullptr);
      FUZZ_CHECK(b.Country->Code == b.CountryCode && b.Center->ID == b.CenterID);
    }
    for (TIPv6Address ip : probes6) {
      TIPv6Block b;
      if (!db->Find(ip, b)) continue;
      FUZZ_CHECK(b.Start <= ip && ip <= b.Last);
      FUZZ_CHECK(b.Country != nullptr && b.Center != nullptr);
    }
    // Many at once: any answer is a block that holds the address. (Over a
    // file whose order lies, the two searches may stop at different
    // blocks, or one at none; over a sorted file the tests check that they
    // agree.)
    TIPv4Block blocks[16];
    bool held[16];
    db->FindMany(probes, 16, blocks, held);
    for (size_t i = 0; i < 16; ++i) {
      FUZZ_CHECK(!held[i] || (blocks[i].StartIP <= probes[i] &&
                              probes[i] - blocks[i].StartIP < blocks[i].Count));
      FUZZ_CHECK(!held[i] || (blocks[i].Country && blocks[i].Center));
    }
    TIPv6Block blocks6[18];
    bool held6[18];
    db->FindMany(probes6, 18, blocks6, held6);
    for (size_t i = 0; i < 18; ++i) {
      FUZZ_CHECK(!held6[i] || (blocks6[i].Start <= probes6[i] && probes6[i] <= blocks6[i].Last));
      FUZZ_CHECK(!held6[i] || (blocks6[i].Country && blocks6[i].Center));
    }
  }
  return 0;
}
