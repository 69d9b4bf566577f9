#include "dbbuild/compiler.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <set>
#include <sys/stat.h>
#include <type_traits>

#include "dbbuild/isocodes.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/encoder.h"
#include "ipdb/registries.h"
#include "streams/compress.h"
#include "tools/errors.h"
#include "tools/files.h"
#include "tools/finally.h"
#include "tools/md5.h"
#include "tools/text.h"
#include "tools/tools.h"

namespace {

// Each family's blocks as the first and last address they hold, so that
// one piece of code sorts, merges and overlays both.
template <typename TBlock>
struct TSpanOf;

template <>
struct TSpanOf<TInputBlock> {
  using TAddress = uint32_t;
  static uint32_t First(const TInputBlock& B) { return B.Start; }
  static uint32_t Last(const TInputBlock& B) { return B.Start + (B.Count - 1); }
  static void Set(TInputBlock& B, uint32_t First, uint32_t Last) {
    B.Start = First;
    B.Count = Last - First + 1;
  }
};

template <>
struct TSpanOf<TInputBlock6> {
  using TAddress = TIPv6Address;
  static TIPv6Address First(const TInputBlock6& B) { return B.Start; }
  static TIPv6Address Last(const TInputBlock6& B) { return B.Last; }
  static void Set(TInputBlock6& B, TIPv6Address First, TIPv6Address Last) {
    B.Start = First;
    B.Last = Last;
  }
};

TIPv4Block OutputBlock(const TInputBlock& S) {
  TIPv4Block b;
  b.StartIP = S.Start;
  b.Count = S.Count;
  b.Date = S.Date;
  b.CountryCode = S.Country;
  b.CenterID = S.Registry;
  return b;
}

TIPv6Block OutputBlock(const TInputBlock6& S) {
  TIPv6Block b;
  b.Start = S.Start;
  b.Last = S.Last;
  b.Date = S.Date;
  b.CountryCode = S.Country;
  b.CenterID = S.Registry;
  return b;
}

// A block as messages name it: its range and country.
template <typename TBlock>
std::string BlockText(const TBlock& B) {
  return OutputBlock(B).AsText(nmRange) + " " + CodeToStr(B.Country);
}

}  // namespace

TDatabaseCompiler::TDatabaseCompiler() = default;

TInputSink TDatabaseCompiler::Sink() {
  TInputSink sink;
  sink.Block = [this](const TInputBlock& B) { Add(B); };
  sink.Block6 = [this](const TInputBlock6& B) { Add(B); };
  sink.Skipped = [this](const char* Reason) { ++FSkipped[Reason]; };
  sink.Free = [this](const TInputBlock& R) {
    FFree.push_back(R);
    FFinished = false;
  };
  sink.Free6 = [this](const TInputBlock6& R) {
    FFree6.push_back(R);
    FFinished = false;
  };
  sink.ASN = [this](const TInputASN& R) {
    FASNs.push_back(R);
    FFinished = false;
  };
  sink.HolderOf = [this](uint16_t Registry, std::string_view Id) {
    return HolderNumber(Registry, Id);
  };
  sink.RegistryOf = [this](std::string_view Name) { return RegistryID(Name); };
  sink.DataDate = [this](uint32_t Date) {
    FNewestVersionDate = std::max(FNewestVersionDate, Date);
    FSourceVersionDate = std::max(FSourceVersionDate, Date);
  };
  sink.Lines = [this](const std::string& Name, uint64_t Lines, bool Done) {
    ShowProgress(Name, Lines, Done);
  };
  sink.OwnRegistry = FOwnRegistry;
  // Tomorrow in UTC: a day's grace for the registries' time zones.
  sink.LatestDate = DateOfTime(static_cast<int64_t>(std::time(nullptr)) + 86400);
  return sink;
}

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

void TDatabaseCompiler::Add(const TInputBlock6& B) {
  FBlocks6.push_back(B);
  FFinished = false;
}

uint16_t TDatabaseCompiler::RegistryID(std::string_view Name) {
  // Registries' files name themselves by token ("ripencc"), users by name.
  if (const TRegistryInfo* known = FindRegistry(Name)) return known->ID;
  const std::string upper = AsciiUpperText(Name);
  const auto it = FNewRegistries.find(upper);
  if (it != FNewRegistries.end()) return it->second;
  uint16_t next = std::size(kRegistries) ? kRegistries[std::size(kRegistries) - 1].ID : 0;
  for (const auto& [n, id] : FNewRegistries) next = std::max(next, id);
  ++next;
  FNewRegistries.emplace(upper, next);
  return next;
}

void TDatabaseCompiler::AddFile(const std::string& Path) {
  const std::string data = ReadWholeFile(Path, kMaxInputSize);
  struct stat st {};
  const bool timed = ::stat(Path.c_str(), &st) == 0;
  if (timed) FNewestFileTime = std::max<int64_t>(FNewestFileTime, st.st_mtime);
  AddData(Path, data);
  // Data without a version line is as old as its file.
  if (timed && FSources.back().Date == 0) FSources.back().Date = DateOfTime(st.st_mtime);
}

void TDatabaseCompiler::AddData(const std::string& Name, std::string_view Data,
                                const std::string& Registry) {
  TSource source;
  source.Name = Name.substr(Name.rfind('/') + 1);
  source.Md5 = Md5Hex(Data);
  FSourceVersionDate = 0;
  FOwnRegistry = Registry;
  const TFinally forget([this] { FOwnRegistry.clear(); });
  FSourceKind = ckUnknown;
  AddContent(Name, Data);
  source.Date = FSourceVersionDate;
  source.Kind = FSourceKind;
  FSources.push_back(std::move(source));
}

void TDatabaseCompiler::AddContent(const std::string& Name, std::string_view Data, bool Unpacked) {
  // A byte-order mark that an editor put in front is no part of the text.
  if (Data.substr(0, 3) == "\xEF\xBB\xBF") Data.remove_prefix(3);
  const TInputKind kind = SniffInput(Data);
  if (kind == ikGzip || kind == ikBzip2) {
    // One layer only: compressed data inside it is refused, so that a file
    // that unpacks to itself cannot unpack without end.
    if (Unpacked) throw EKeslError(Name + ": compressed data inside compressed data");
    std::string plain;
    try {
      plain =
          kind == ikGzip ? GZipDecompress(Data, kMaxInputSize) : BZ2Decompress(Data, kMaxInputSize);
    } catch (const EKeslError& e) {
      throw EKeslError(Name + (kind == ikGzip ? ": gzip data: " : ": bzip2 data: ") + e.what());
    }
    return AddContent(Name, plain, true);
  }
  // The registries' files say where each block is registered; range files
  // say where addresses are located.
  void (*read)(const std::string&, uint32_t, std::string_view, const TInputSink&) = nullptr;
  switch (kind) {
    case ikGzip:
    case ikBzip2:  // unpacked above
      throw EKeslError(Name + ": compressed data inside compressed data");
    case ikDelegation:
      FSourceKind = ckRegistered;
      read = ReadDelegationText;
      break;
    case ikRanges:
      FSourceKind = ckLocated;
      read = ReadRangeText;
      break;
    case ikRanges6:
      FSourceKind = ckLocated;
      read = ReadRangeText6;
      break;
    case ikEmpty:
      throw EKeslError(Name + ": no data");
    case ikUnknown:
      throw EKeslError(Name + ": neither a registry delegation file nor a range file");
  }
  read(Name, NewFile(Name), Data, Sink());
}

uint32_t TDatabaseCompiler::NewFile(const std::string& Name) {
  FFiles.push_back(Name);
  return static_cast<uint32_t>(FFiles.size() - 1);
}

template <typename TBlock>
std::string TDatabaseCompiler::Where(const TBlock& B) const {
  return " (" + FFiles[B.File] + " line " + std::to_string(B.Line) + ")";
}

namespace {

// Lays B over the disjoint pieces in Pieces (keyed by first address): what
// B covers is B's now; the pieces it cuts keep what lies outside it.
template <typename TBlock>
void Overlay(std::map<typename TSpanOf<TBlock>::TAddress, TBlock>& Pieces, const TBlock& B) {
  using S = TSpanOf<TBlock>;
  const auto first = S::First(B), last = S::Last(B);
  auto it = Pieces.lower_bound(first);
  if (it != Pieces.begin()) {
    TBlock& before = std::prev(it)->second;
    const auto beforeLast = S::Last(before);
    if (beforeLast >= first) {
      TBlock tail = before;
      S::Set(before, S::First(before), first - 1);
      if (beforeLast > last) {
        S::Set(tail, last + 1, beforeLast);
        Pieces.emplace(last + 1, tail);
      }
    }
  }
  while (it != Pieces.end() && it->first <= last) {
    const auto pieceLast = S::Last(it->second);
    if (pieceLast > last) {
      TBlock tail = it->second;
      S::Set(tail, last + 1, pieceLast);
      Pieces.erase(it);
      Pieces.emplace(last + 1, tail);
      break;
    }
    it = Pieces.erase(it);
  }
  Pieces.emplace(first, B);
}

// The addresses that blocks of two registries or more hold, each counted
// once, of blocks sorted by their first address. An address lies in blocks
// of registries A and B when, at the later of the two blocks, A's blocks so
// far reach it: the furthest reach of each registry tells.
uint64_t AddressesOfSeveralRegistries(const std::vector<TInputBlock>& Blocks) {
  std::map<uint16_t, uint64_t> reach;    // registry -> one past its furthest address
  uint64_t counted = 0, countedEnd = 0;  // the union so far ends at countedEnd
  for (const TInputBlock& b : Blocks) {
    const uint64_t first = b.Start, end = first + b.Count;
    uint64_t sharedEnd = first;
    for (const auto& [registry, r] : reach) {
      if (registry != b.Registry) sharedEnd = std::max(sharedEnd, std::min(r, end));
    }
    const uint64_t from = std::max(first, countedEnd);
    if (sharedEnd > from) {
      counted += sharedEnd - from;
      countedEnd = sharedEnd;
    }
    uint64_t& mine = reach[b.Registry];
    mine = std::max(mine, end);
  }
  return counted;
}

}  // namespace

template <typename TBlock>
void TDatabaseCompiler::FinishBlocks(std::vector<TBlock>& Blocks, bool ResolveOverlaps) {
  using S = TSpanOf<TBlock>;
  auto less = [](const TBlock& a, const TBlock& b) {
    return S::First(a) != S::First(b) ? S::First(a) < S::First(b) : S::Last(a) < S::Last(b);
  };
  if (!std::is_sorted(Blocks.begin(), Blocks.end(), less)) {
    std::stable_sort(Blocks.begin(), Blocks.end(), less);
  }
  if constexpr (std::is_same_v<TBlock, TInputBlock>) {
    FCrossRegistryOverlap = AddressesOfSeveralRegistries(Blocks);
  }
  std::vector<TBlock> kept;
  kept.reserve(Blocks.size());
  size_t reach = 0;  // the kept block that reaches furthest
  bool overlaps = false;
  for (const TBlock& b : Blocks) {
    if (!kept.empty()) {
      const TBlock& p = kept.back();
      if (S::First(p) == S::First(b) && S::Last(p) == S::Last(b) && p.Country == b.Country &&
          p.Registry == b.Registry) {
        ++FDuplicates;
        continue;
      }
      const TBlock& r = kept[reach];
      if (S::Last(r) >= S::First(b)) {
        const std::string pair = BlockText(r) + Where(r) + " and " + BlockText(b) + Where(b);
        if (!ResolveOverlaps) throw EKeslError("Blocks overlap: " + pair);
        FOverlaps.push_back(pair);
        overlaps = true;
      }
    }
    kept.push_back(b);
    if (kept.size() == 1 || S::Last(b) > S::Last(kept[reach])) reach = kept.size() - 1;
  }
  if (overlaps) {
    // Older blocks first, so that later ones are laid over them.
    std::vector<TBlock> byAge = kept;
    std::stable_sort(byAge.begin(), byAge.end(), [](const TBlock& a, const TBlock& b) {
      if (a.Date != b.Date) return a.Date < b.Date;
      return a.File != b.File ? a.File < b.File : a.Line < b.Line;
    });
    std::map<typename S::TAddress, TBlock> pieces;
    for (const TBlock& b : byAge) Overlay(pieces, b);
    kept.clear();
    for (const auto& [start, piece] : pieces) kept.push_back(piece);
  }
  Blocks = std::move(kept);
}

namespace {

// Sorts records by their first number or address and cuts each to what
// the records before it do not hold, dropping those left with nothing.
template <typename TRecord, typename TFirst, typename TLast, typename TSet>
void Disjoint(std::vector<TRecord>& Records, TFirst First, TLast Last, TSet Set) {
  std::stable_sort(Records.begin(), Records.end(),
                   [&](const TRecord& a, const TRecord& b) { return First(a) < First(b); });
  std::vector<TRecord> kept;
  kept.reserve(Records.size());
  for (TRecord r : Records) {
    if (!kept.empty() && First(r) <= Last(kept.back())) {
      if (Last(r) <= Last(kept.back())) continue;
      Set(r, Last(kept.back()) + 1, Last(r));
    }
    kept.push_back(r);
  }
  Records = std::move(kept);
}

}  // namespace

void TDatabaseCompiler::Finish(bool ResolveOverlaps) {
  FOverlaps.clear();
  FinishBlocks(FBlocks, ResolveOverlaps);
  FinishBlocks(FBlocks6, ResolveOverlaps);
  using S4 = TSpanOf<TInputBlock>;
  using S6 = TSpanOf<TInputBlock6>;
  Disjoint(FFree, S4::First, S4::Last, S4::Set);
  Disjoint(FFree6, S6::First, S6::Last, S6::Set);
  Disjoint(
      FASNs, [](const TInputASN& A) { return A.Start; },
      [](const TInputASN& A) { return A.Start + (A.Count - 1); },
      [](TInputASN& A, uint32_t First, uint32_t Last) {
        A.Start = First;
        A.Count = Last - First + 1;
      });
  FFinished = true;
}

void TDatabaseCompiler::LoadCountryNames(const std::string& IsoCodesJson) {
  for (const auto& [code, name] : ParseIsoCountryNames(IsoCodesJson)) {
    FNames[code] = Utf8ToLatin1(name);
  }
}

std::vector<std::pair<uint16_t, std::string>> TDatabaseCompiler::NewRegistries() const {
  std::set<uint16_t> ids;
  auto note = [&ids](uint16_t ID) {
    const TRegistryInfo* r = RegistryByID(ID);
    if (!r || !r->BuiltIn) ids.insert(ID);
  };
  for (const TInputBlock& b : FBlocks) note(b.Registry);
  for (const TInputBlock6& b : FBlocks6) note(b.Registry);
  std::vector<std::pair<uint16_t, std::string>> out;
  for (uint16_t id : ids) out.emplace_back(id, RegistryName(id));
  return out;
}

std::vector<uint16_t> TDatabaseCompiler::NewCountries() const {
  const TIPv4Database builtIn;
  std::set<uint16_t> codes;
  auto note = [&](uint16_t Code) {
    if (!codes.count(Code) && builtIn.FindCountry(Code) < 0) codes.insert(Code);
  };
  for (const TInputBlock& b : FBlocks) note(b.Country);
  for (const TInputBlock6& b : FBlocks6) note(b.Country);
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
  // Each part is made and let go in turn: the file of the registries'
  // data is some tens of megabytes.
  std::string body;
  {
    std::vector<TIPv4Block> blocks;
    blocks.reserve(FBlocks.size());
    for (const TInputBlock& s : FBlocks) blocks.push_back(OutputBlock(s));
    // Finished blocks are sorted, disjoint and hold addresses, and the body
    // carries every country and registry they name: the file says so, and
    // can then be searched where it lies.
    body = EncodeBinBody(centers, countries, blocks);
  }
  std::vector<TTrailerEntry> trailer;
  if (!FBlocks6.empty()) {
    // A reader needs them sorted and disjoint, as only Finish makes them.
    // They come first: damage in the notes after them cannot cost them.
    if (!FFinished) throw EKeslError("The IPv6 blocks are not checked yet");
    std::vector<TIPv6Block> blocks6;
    blocks6.reserve(FBlocks6.size());
    for (const TInputBlock6& s : FBlocks6) blocks6.push_back(OutputBlock(s));
    trailer.push_back({ttIPv6Blocks, EncodeIPv6Blocks(blocks6)});
  }
  if (FFinished) trailer.push_back({ttSortedDisjoint, {}});
  std::vector<TSource> sources = FSources;
  for (TSource& s : sources) s.Licence = FLicence;
  if (!sources.empty()) {
    trailer.push_back({ttProvenance, EncodeSources(sources)});
    trailer.push_back({ttCountryKinds, EncodeCountryKinds(sources)});
  }
  // What extended files said beside the country, for blocks in their
  // final order.
  if (FFinished && !FHolders.empty()) {
    std::string storage;
    const TRegistryEntries e = EncodeRegistryTables(RegistryTables(), storage);
    for (const auto& [tag, data] :
         {std::pair(ttHolders, e.Holders), std::pair(ttHoldings, e.Holdings),
          std::pair(ttASNs, e.ASNs), std::pair(ttFreeSpace, e.Free)}) {
      trailer.push_back({tag, std::string(data)});
    }
  }
  AppendTrailer(body, trailer);
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
