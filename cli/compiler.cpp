#include "cli/compiler.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <set>

#include "cli/isocodes.h"
#include "ipv4base/ipv4base.h"
#include "ipv4base/ipv4writer.h"
#include "ipv4base/registries.h"
#include "tools/errors.h"
#include "tools/tools.h"

namespace {

std::string BlockText(const TInputBlock& B) {
  TIPv4Block b;
  b.StartIP = B.Start;
  b.Count = B.Count;
  return b.AsText(nmRange) + " " + CodeToStr(B.Country);
}

TIPv4Block OutputBlock(const TInputBlock& S) {
  TIPv4Block b;
  b.StartIP = S.Start;
  b.Count = S.Count;
  b.Date = S.Date;
  b.CountryCode = S.Country;
  b.CenterID = S.Registry;
  return b;
}

}  // namespace

TDatabaseCompiler::TDatabaseCompiler() = default;

std::string TDatabaseCompiler::RegistryName(uint16_t ID) const {
  if (const TRegistryInfo* r = RegistryByID(ID)) return std::string(r->Name);
  for (const auto& [name, id] : FNewRegistries) {
    if (id == ID) return name;
  }
  return std::to_string(ID);
}

void TDatabaseCompiler::ShowProgress(const std::string& Name, uint64_t Lines, bool Done) {
  if (!FProgress) return;
  if (Done || Lines % 65536 == 0) {
    *FProgress << "\rReading " << Name << ": " << Lines << " lines" << (Done ? "\n" : "")
               << std::flush;
  }
}

void TDatabaseCompiler::Add(const TInputBlock& B) {
  FBlocks.push_back(B);
  FFinished = false;
}

std::string TDatabaseCompiler::Where(const TInputBlock& B) const {
  return " (" + FFiles[B.File] + " line " + std::to_string(B.Line) + ")";
}

namespace {

// Lays B over the disjoint pieces in Pieces (keyed by start): what B covers
// is B's now; the pieces it cuts keep what lies outside it.
void Overlay(std::map<uint32_t, TInputBlock>& Pieces, const TInputBlock& B) {
  const uint64_t start = B.Start, end = start + B.Count;
  auto it = Pieces.lower_bound(B.Start);
  if (it != Pieces.begin()) {
    TInputBlock& before = std::prev(it)->second;
    const uint64_t beforeEnd = uint64_t{before.Start} + before.Count;
    if (beforeEnd > start) {
      TInputBlock tail = before;
      before.Count = static_cast<uint32_t>(start - before.Start);
      if (beforeEnd > end) {
        tail.Start = static_cast<uint32_t>(end);
        tail.Count = static_cast<uint32_t>(beforeEnd - end);
        Pieces.emplace(tail.Start, tail);
      }
    }
  }
  while (it != Pieces.end() && it->first < end) {
    const uint64_t pieceEnd = uint64_t{it->first} + it->second.Count;
    if (pieceEnd > end) {
      TInputBlock tail = it->second;
      tail.Start = static_cast<uint32_t>(end);
      tail.Count = static_cast<uint32_t>(pieceEnd - end);
      Pieces.erase(it);
      Pieces.emplace(tail.Start, tail);
      break;
    }
    it = Pieces.erase(it);
  }
  Pieces.emplace(B.Start, B);
}

}  // namespace

void TDatabaseCompiler::Finish(bool ResolveOverlaps) {
  auto less = [](const TInputBlock& a, const TInputBlock& b) {
    return a.Start != b.Start ? a.Start < b.Start : a.Count < b.Count;
  };
  if (!std::is_sorted(FBlocks.begin(), FBlocks.end(), less)) {
    std::stable_sort(FBlocks.begin(), FBlocks.end(), less);
  }
  std::vector<TInputBlock> kept;
  kept.reserve(FBlocks.size());
  FOverlaps.clear();
  size_t reach = 0;  // the kept block that reaches furthest
  for (const TInputBlock& b : FBlocks) {
    if (!kept.empty()) {
      const TInputBlock& p = kept.back();
      if (p.Start == b.Start && p.Count == b.Count && p.Country == b.Country &&
          p.Registry == b.Registry) {
        ++FDuplicates;
        continue;
      }
      const TInputBlock& r = kept[reach];
      if (uint64_t{r.Start} + r.Count > b.Start) {
        const std::string pair = BlockText(r) + Where(r) + " and " + BlockText(b) + Where(b);
        if (!ResolveOverlaps) throw EKeslError("Blocks overlap: " + pair);
        FOverlaps.push_back(pair);
      }
    }
    kept.push_back(b);
    if (kept.size() == 1 ||
        uint64_t{b.Start} + b.Count > uint64_t{kept[reach].Start} + kept[reach].Count) {
      reach = kept.size() - 1;
    }
  }
  if (!FOverlaps.empty()) {
    // Older blocks first, so that later ones are laid over them.
    std::vector<TInputBlock> byAge = kept;
    std::stable_sort(byAge.begin(), byAge.end(), [](const TInputBlock& a, const TInputBlock& b) {
      if (a.Date != b.Date) return a.Date < b.Date;
      return a.File != b.File ? a.File < b.File : a.Line < b.Line;
    });
    std::map<uint32_t, TInputBlock> pieces;
    for (const TInputBlock& b : byAge) Overlay(pieces, b);
    kept.clear();
    for (const auto& [start, piece] : pieces) kept.push_back(piece);
  }
  FBlocks = std::move(kept);
  FFinished = true;
}

void TDatabaseCompiler::LoadCountryNames(const std::string& IsoCodesJson) {
  for (const auto& [code, name] : ParseIsoCountryNames(IsoCodesJson)) {
    FNames[code] = Utf8ToLatin1(name);
  }
}

std::vector<std::pair<uint16_t, std::string>> TDatabaseCompiler::NewRegistries() const {
  std::set<uint16_t> ids;
  for (const TInputBlock& b : FBlocks) {
    const TRegistryInfo* r = RegistryByID(b.Registry);
    if (!r || !r->BuiltIn) ids.insert(b.Registry);
  }
  std::vector<std::pair<uint16_t, std::string>> out;
  for (uint16_t id : ids) out.emplace_back(id, RegistryName(id));
  return out;
}

std::vector<uint16_t> TDatabaseCompiler::NewCountries() const {
  const TIPv4Database builtIn;
  std::set<uint16_t> codes;
  for (const TInputBlock& b : FBlocks) {
    if (!codes.count(b.Country) && builtIn.FindCountry(b.Country) < 0) codes.insert(b.Country);
  }
  return {codes.begin(), codes.end()};
}

std::string TDatabaseCompiler::BinaryBody() const {
  std::vector<TNewCenter> centers;
  for (const auto& [id, name] : NewRegistries()) centers.push_back({id, name});
  std::vector<TNewCountry> countries;
  for (uint16_t code : NewCountries()) {
    const auto it = FNames.find(code);
    TNewCountry c;
    c.Code = code;
    c.Name = it != FNames.end() ? it->second : CodeToStr(code);
    countries.push_back(c);
  }
  std::vector<TIPv4Block> blocks;
  blocks.reserve(FBlocks.size());
  for (const TInputBlock& s : FBlocks) blocks.push_back(OutputBlock(s));
  // Finished blocks are sorted, disjoint and hold addresses, and the body
  // carries every country and registry they name: the file says so, and
  // can then be searched where it lies.
  std::string body = EncodeBinBody(centers, countries, blocks);
  std::vector<TTrailerEntry> trailer;
  if (FFinished) trailer.push_back({ttSortedDisjoint, {}});
  std::vector<TSource> sources = FSources;
  for (TSource& s : sources) s.Licence = FLicence;
  if (!sources.empty()) trailer.push_back({ttProvenance, EncodeSources(sources)});
  body += EncodeTrailer(trailer);
  return body;
}

std::string TDatabaseCompiler::TextBody() const {
  const auto registries = NewRegistries();
  const auto countries = NewCountries();
  if (!registries.empty() || !countries.empty()) {
    std::string what;
    if (!registries.empty()) {
      what += "registries";
      for (const auto& r : registries) (what += ' ') += r.second;
    }
    if (!countries.empty()) {
      if (!what.empty()) what += "; ";
      what += "countries";
      for (uint16_t c : countries) (what += ' ') += CodeToStr(c);
    }
    throw EKeslError("The text format cannot carry " + what + ". Write a binary database instead.");
  }
  std::string body;
  body.reserve(FBlocks.size() * 48);
  for (const TInputBlock& s : FBlocks) {
    (body += EncodeTextLine(OutputBlock(s), TextRegistryToken(s.Registry))) += '\n';
  }
  return body;
}

std::string TDatabaseCompiler::HeaderDate(const std::string& Given) const {
  if (!Given.empty()) return Given;
  if (FNewestVersionDate) return std::to_string(FNewestVersionDate);
  return std::to_string(DateOfTime(FNewestFileTime ? FNewestFileTime : std::time(nullptr)));
}
