#include "ipv4base/ipv4base.h"

#include <algorithm>

#include "ipv4base/countries.h"

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

int CompareBlocks(const TIPv4Block& A, const TIPv4Block& B) { return Compare3(A.StartIP, B.StartIP); }
int CompareCenters(const TIPv4Center& A, const TIPv4Center& B) { return Compare3(A.ID, B.ID); }
int CompareCountries(const TIPv4Country& A, const TIPv4Country& B) { return Compare3(A.Code, B.Code); }

TIPv4Database::TIPv4Database() {
  Countries.reserve(kCountryTableSize);
  for (const TCountryRec& rec : kCountryTable) {
    AddCountry(FieldText(rec.ISO2, 2), rec.Name, FieldText(rec.Domain, 2), rec.Capital, rec.Region,
               rec.Currency, rec.Population);
  }
  std::sort(Countries.begin(), Countries.end(),
            [](const auto& a, const auto& b) { return CompareCountries(*a, *b) < 0; });
  AddCenter(1, "IANA");
  AddCenter(2, "ARIN");
  AddCenter(3, "RIPE");
  AddCenter(4, "APNIC");
  AddCenter(5, "LACNIC");
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
  int index;
  if (FStarts.size() == count) {
    // Branch-free search for the last start at or below IP.
    const uint32_t* base = FStarts.data();
    size_t n = count;
    while (n > 1) {
      const size_t half = n / 2;
      base = base[half] <= IP ? base + half : base;
      n -= half;
    }
    if (*base > IP) return -1;
    index = static_cast<int>(base - FStarts.data());
  } else {
    // Not linked yet: search the blocks themselves, which must be sorted.
    auto it = std::upper_bound(Blocks.begin(), Blocks.end(), IP,
                               [](uint32_t ip, const TIPv4Block& b) { return ip < b.StartIP; });
    if (it == Blocks.begin()) return -1;
    index = static_cast<int>(it - Blocks.begin()) - 1;
  }
  const TIPv4Block& b = Blocks[index];
  return static_cast<uint64_t>(b.StartIP) + b.Count > IP ? index : -1;
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

void TIPv4Database::SortAndLink() {
  // Equal starts are ordered by size, so the search, which takes the last
  // start at or below an address, meets the largest of them; data from the
  // usual sources arrives sorted, which the check below finds in one pass.
  auto blockLess = [](const TIPv4Block& a, const TIPv4Block& b) {
    return a.StartIP != b.StartIP ? a.StartIP < b.StartIP : a.Count < b.Count;
  };
  if (!std::is_sorted(Blocks.begin(), Blocks.end(), blockLess)) {
    std::sort(Blocks.begin(), Blocks.end(), blockLess);
  }
  std::sort(Centers.begin(), Centers.end(),
            [](const auto& a, const auto& b) { return CompareCenters(*a, *b) < 0; });
  std::sort(Countries.begin(), Countries.end(),
            [](const auto& a, const auto& b) { return CompareCountries(*a, *b) < 0; });

  // Blocks of one country tend to come in runs; remember the last lookups.
  int lastCode = -1;
  int lastCenter = -1;
  TIPv4Country* country = nullptr;
  TIPv4Center* center = nullptr;
  for (TIPv4Block& block : Blocks) {
    if (block.CountryCode != lastCode) {
      const int i = FindCountry(block.CountryCode);
      if (i < 0) throw EDatabaseError("Unknown country code: " + block.CountryStr());
      country = Countries[i].get();
      lastCode = block.CountryCode;
    }
    block.Country = country;
    country->Blocks.push_back(&block);
    if (block.CenterID != lastCenter) {
      const int i = FindCenter(block.CenterID);
      if (i < 0) throw EDatabaseError("Unknown NIC code: " + std::to_string(block.CenterID));
      center = Centers[i].get();
      lastCenter = block.CenterID;
    }
    block.Center = center;
    center->Blocks.push_back(&block);
  }
  BuildIndex();
}

void TIPv4Database::BuildIndex() {
  FStarts.resize(Blocks.size());
  for (size_t i = 0; i < Blocks.size(); ++i) FStarts[i] = Blocks[i].StartIP;
}
