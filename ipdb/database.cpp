#include "ipdb/database.h"

#include <algorithm>

#include "ipdb/by16index.h"
#include "ipdb/countries.h"
#include "ipdb/registries.h"
#include "tools/pages.h"

namespace {

template <typename T>
int Compare3(T A, T B) {
  return A < B ? -1 : (A > B ? 1 : 0);
}

// The binary search of the key lists: stops at the first probe that meets
// the key, so among equal keys the answer depends on the list alone.
template <typename List, typename Key, typename GetKey>
int FindByKey(const List& Items, Key Wanted, GetKey KeyOf) {
  int lo = 0;
  int hi = static_cast<int>(Items.size()) - 1;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    const Key k = KeyOf(*Items[mid]);
    if (k < Wanted) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (k == Wanted) return mid;
    }
  }
  return -1;
}

template <typename List>
auto* At(List& Items, int Index) {
  if (Index < 0 || Index >= static_cast<int>(Items.size())) throw EListError(Index);
  return &*Items[Index];
}

}  // namespace

int CompareBlocks(const TIPv4Block& A, const TIPv4Block& B) {
  return Compare3(A.StartIP, B.StartIP);
}
int CompareCenters(const TIPv4Center& A, const TIPv4Center& B) { return Compare3(A.ID, B.ID); }
int CompareCountries(const TIPv4Country& A, const TIPv4Country& B) {
  return Compare3(A.Code, B.Code);
}

std::unique_ptr<TIPv4Country> MakeBuiltInCountry(const TCountryRec& Rec) {
  const std::string code = FieldText(Rec.ISO2, 2);
  if (code.size() != 2) return nullptr;
  auto country = std::make_unique<TIPv4Country>();
  country->Code = StrToCode(code[0], code[1]);
  country->Name = Rec.Name;
  country->Domain = FieldText(Rec.Domain, 2);
  country->Capital = Rec.Capital;
  country->Region = Rec.Region;
  country->Currency = Rec.Currency;
  country->Population = Rec.Population;
  return country;
}

TIPv4Database::TIPv4Database() {
  Countries.reserve(kCountryTableSize);
  for (const TCountryRec& rec : kCountryTable) {
    if (auto country = MakeBuiltInCountry(rec)) Countries.push_back(std::move(country));
  }
  std::sort(Countries.begin(), Countries.end(),
            [](const auto& a, const auto& b) { return CompareCountries(*a, *b) < 0; });
  for (const TRegistryInfo& r : kRegistries) {
    if (r.BuiltIn) AddCenter(r.ID, std::string(r.Name));
  }
  std::sort(Centers.begin(), Centers.end(),
            [](const auto& a, const auto& b) { return CompareCenters(*a, *b) < 0; });
}

// Countries and registries go first: their lists refer to the blocks.
TIPv4Database::~TIPv4Database() {
  Countries.clear();
  Centers.clear();
  Blocks.clear();
}

TIPv4Block* TIPv4Database::BlockAt(int Index) {
  if (Index < 0 || Index >= BlockCount()) throw EListError(Index);
  return &Blocks[Index];
}

TIPv4Center* TIPv4Database::CenterAt(int Index) { return At(Centers, Index); }

TIPv4Country* TIPv4Database::CountryAt(int Index) { return At(Countries, Index); }

void TIPv4Database::AddCenter(uint16_t ID, const std::string& Name) {
  auto center = std::make_unique<TIPv4Center>();
  center->ID = ID;
  center->Name = Name;
  Centers.push_back(std::move(center));
}

void TIPv4Database::AddCountry(const std::string& CodeText, const std::string& Name,
                               const std::string& Domain, const std::string& Capital,
                               const std::string& Region, const std::string& Currency,
                               double Population) {
  if (CodeText.size() != 2) return;
  auto country = std::make_unique<TIPv4Country>();
  country->Code = StrToCode(CodeText[0], CodeText[1]);
  country->Name = Name;
  country->Domain = Domain;
  country->Capital = Capital;
  country->Region = Region;
  country->Currency = Currency;
  country->Population = Population;
  Countries.push_back(std::move(country));
}

int TIPv4Database::FindBlock(uint32_t IP) const {
  const size_t count = Blocks.size();
  if (count == 0) return -1;
  if (FIndexed != count) {
    // Not linked yet: search the blocks themselves, which must be sorted.
    // Blocks that hold nothing (Count 0) are passed over, as in the index.
    auto it = std::upper_bound(Blocks.begin(), Blocks.end(), IP,
                               [](uint32_t ip, const TIPv4Block& b) { return ip < b.StartIP; });
    while (it != Blocks.begin() && (it - 1)->Count == 0) --it;
    if (it == Blocks.begin()) return -1;
    const TIPv4Block& b = *(it - 1);
    return IP - b.StartIP < b.Count ? static_cast<int>(it - Blocks.begin()) - 1 : -1;
  }
  if (FSpans.empty()) return -1;
  // Branch-free search for the last start at or below IP. In a large list
  // the address's /16 narrows it first to the few spans that can hold it:
  // the last one starting below the /16 and those starting inside it.
  const TSpan* base = FSpans.data();
  size_t n = FSpans.size();
  if (!FBy16.empty()) {
    size_t from = 0;
    By16Range(FBy16, IP, from, n);
    if (n == 0) return -1;  // every span starts above the /16
    base += from;
  }
  while (n > 1) {
    const size_t half = n / 2;
    // Both places the next probe can fall on are fetched while this one is
    // compared, which hides most of the memory latency of a large list.
    const size_t next = (n - half) / 2;
    __builtin_prefetch(base + next);
    __builtin_prefetch(base + half + next);
    base = base[half].Start <= IP ? base + half : base;
    n -= half;
  }
  // The search stops on the first span when every start lies above IP, so
  // the start is compared too: the unsigned distance alone would wrap round
  // for a first block that runs past 255.255.255.255. A block that does so
  // holds everything from its start up to there.
  // Worked out rather than branched on: an address in a gap is as likely
  // as one in a block, and a wrong guess costs more than the arithmetic.
  const bool held = (IP >= base->Start) & (IP - base->Start < base->Count);
  const auto span = static_cast<int64_t>(base - FSpans.data());
  const int64_t found = (span + 1) * static_cast<int64_t>(held) - 1;
  if (FSpanBlock.empty() || found < 0) return static_cast<int>(found);
  return static_cast<int>(FSpanBlock[static_cast<size_t>(found)]);
}

int TIPv4Database::FindCenter(uint16_t ID) const {
  return FindByKey(Centers, ID, [](const TIPv4Center& c) { return c.ID; });
}

int TIPv4Database::FindCountry(uint16_t Code) const {
  return FindByKey(Countries, Code, [](const TIPv4Country& c) { return c.Code; });
}

const std::vector<TIPv4Block*>* TIPv4Database::CountryBlocks(uint16_t Code) const {
  const int i = FindCountry(Code);
  return i < 0 ? nullptr : &Countries[i]->Blocks;
}

void TIPv4Database::SortAndLink() { SortAndLink(false); }

void TIPv4Database::SortAndLink(bool KnownSorted) {
  // Data from the usual sources arrives sorted; a load that saw every block
  // arrive in order says so and saves a pass over the list.
  if (!KnownSorted && !std::is_sorted(Blocks.begin(), Blocks.end(), BlockLess)) {
    std::sort(Blocks.begin(), Blocks.end(), BlockLess);
    // The holdings followed the blocks' order in the file.
    Registry.Clear();
  }
  std::sort(Centers.begin(), Centers.end(),
            [](const auto& a, const auto& b) { return CompareCenters(*a, *b) < 0; });
  std::sort(Countries.begin(), Countries.end(),
            [](const auto& a, const auto& b) { return CompareCountries(*a, *b) < 0; });
  IPv6.Link({[this](uint16_t Code) {
               const int i = FindCountry(Code);
               return i < 0 ? nullptr : Countries[static_cast<size_t>(i)].get();
             },
             [this](uint16_t ID) {
               const int i = FindCenter(ID);
               return i < 0 ? nullptr : Centers[static_cast<size_t>(i)].get();
             }});
  if (Blocks.empty()) {
    // Nothing to link: the code tables below would cost half a megabyte.
    FSpans.clear();
    FSpanBlock.clear();
    FBy16.clear();
    FIndexed = 0;
    return;
  }

  // Each code is searched once: a table from code to country index, filled
  // as codes appear. Then each country's and registry's list is reserved to
  // its exact size before the blocks are appended in order.
  std::vector<int32_t> countryOf(65536, -2);
  std::vector<int32_t> centerOf(65536, -2);
  std::vector<uint32_t> countryBlocks(Countries.size()), centerBlocks(Centers.size());
  for (const TIPv4Block& block : Blocks) {
    int32_t& c = countryOf[block.CountryCode];
    if (c == -2) c = FindCountry(block.CountryCode);
    if (c < 0) throw EDatabaseError("Unknown country code: " + block.CountryStr());
    int32_t& r = centerOf[block.CenterID];
    if (r == -2) r = FindCenter(block.CenterID);
    if (r < 0) throw EDatabaseError("Unknown NIC code: " + std::to_string(block.CenterID));
    ++countryBlocks[static_cast<size_t>(c)];
    ++centerBlocks[static_cast<size_t>(r)];
  }
  for (size_t i = 0; i < Countries.size(); ++i)
    ReserveLarge(Countries[i]->Blocks, countryBlocks[i]);
  for (size_t i = 0; i < Centers.size(); ++i) ReserveLarge(Centers[i]->Blocks, centerBlocks[i]);
  // The search index leaves out blocks that hold nothing, so that a Count 0
  // block never hides the block before it that holds an address. Real data
  // has none; then span and block indexes are the same and no map is kept.
  FSpans.clear();
  FSpanBlock.clear();
  FSpans.reserve(Blocks.size());
  bool empties = false;
  for (size_t i = 0; i < Blocks.size(); ++i) {
    TIPv4Block& block = Blocks[i];
    if (block.Count != 0) {
      FSpans.push_back({block.StartIP, block.Count});
      if (empties) FSpanBlock.push_back(static_cast<uint32_t>(i));
    } else if (!empties) {
      empties = true;
      FSpanBlock.resize(FSpans.size());
      for (size_t k = 0; k < FSpans.size(); ++k) FSpanBlock[k] = static_cast<uint32_t>(k);
    }
    TIPv4Country* country = Countries[static_cast<size_t>(countryOf[block.CountryCode])].get();
    TIPv4Center* center = Centers[static_cast<size_t>(centerOf[block.CenterID])].get();
    block.Country = country;
    block.Center = center;
    country->Blocks.push_back(&block);
    center->Blocks.push_back(&block);
  }
  // Where each /16 begins in the spans. Worth its 256 kB only for a list
  // too large for the caches.
  FBy16.clear();
  if (FSpans.size() >= kBy16IndexFrom) {
    FBy16 = MakeBy16Index(FSpans.size(), [this](size_t i) { return FSpans[i].Start; });
  }
  FIndexed = Blocks.size();
}
