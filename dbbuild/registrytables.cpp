// What the compiler keeps of the registries' extended files beside the
// blocks: holders numbered by their opaque ids, and the trailer's tables.
#include "dbbuild/compiler.h"

uint32_t TDatabaseCompiler::HolderNumber(uint16_t Registry, std::string_view Id) {
  std::string key(2, static_cast<char>(Registry >> 8));
  key[1] = static_cast<char>(Registry & 255);
  key += Id;
  const auto found = FHolderNumbers.find(key);
  if (found != FHolderNumbers.end()) return found->second;
  if (FHolders.size() >= kMaxHolders) return kNoHolder;
  const auto number = static_cast<uint32_t>(FHolders.size());
  FHolderNumbers.emplace(std::move(key), number);
  FHolders.push_back(Registry);
  return number;
}

TRegistryTables TDatabaseCompiler::RegistryTables() const {
  TRegistryTables t;
  if (FHolders.empty()) return t;
  t.Holders = FHolders;
  t.Holdings4.reserve(FBlocks.size());
  for (const TInputBlock& b : FBlocks) t.Holdings4.push_back({b.Status, b.Holder});
  t.Holdings6.reserve(FBlocks6.size());
  for (const TInputBlock6& b : FBlocks6) t.Holdings6.push_back({b.Status, b.Holder});
  t.ASNs.reserve(FASNs.size());
  for (const TInputASN& a : FASNs) {
    t.ASNs.push_back({a.Start, a.Count, a.Date, a.Country, a.Registry, {a.Status, a.Holder}});
  }
  for (const TInputBlock& r : FFree) {
    t.Free4.push_back({r.Start, r.Start + (r.Count - 1), r.Date, r.Registry, r.Status});
  }
  for (const TInputBlock6& r : FFree6) {
    t.Free6.push_back({r.Start, r.Last, r.Date, r.Registry, r.Status});
  }
  return t;
}
