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

void TDatabaseCompiler::Finish() {
  auto less = [](const TInputBlock& a, const TInputBlock& b) {
    return a.Start != b.Start ? a.Start < b.Start : a.Count < b.Count;
  };
  if (!std::is_sorted(FBlocks.begin(), FBlocks.end(), less)) {
    std::stable_sort(FBlocks.begin(), FBlocks.end(), less);
  }
  std::vector<TInputBlock> kept;
  kept.reserve(FBlocks.size());
  for (const TInputBlock& b : FBlocks) {
    if (!kept.empty()) {
      const TInputBlock& p = kept.back();
      if (p.Start == b.Start && p.Count == b.Count && p.Country == b.Country &&
          p.Registry == b.Registry) {
        ++FDuplicates;
        continue;
      }
      if (uint64_t{p.Start} + p.Count > b.Start) {
        auto where = [&](const TInputBlock& x) {
          return " (" + FFiles[x.File] + " line " + std::to_string(x.Line) + ")";
        };
        throw EKeslError("Blocks overlap: " + BlockText(p) + where(p) + " and " + BlockText(b) +
                         where(b));
      }
    }
    kept.push_back(b);
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
  if (FFinished) body += EncodeTrailer({{ttSortedDisjoint, {}}});
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
  const time_t t = FNewestFileTime ? static_cast<time_t>(FNewestFileTime) : std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}
