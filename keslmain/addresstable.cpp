#include "keslmain/addresstable.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <tuple>

#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "tools/addrscan.h"
#include "tools/text.h"

// Hands the scanner's addresses to the tally and counts the lines of the
// text around them.
class TAddressTally::TSink : public TAddressSink {
 public:
  explicit TSink(TAddressTally& Tally) : FTally(Tally) {}
  void Text(const char* Data, size_t Size) override { Lines(Data, Size); }
  void Address(std::string_view Text, const TFoundAddress& Found) override {
    Lines(Text.data(), Text.size());
    FTally.Count(Found.IsIPv6, Found.IPv4, Found.IPv6);
  }

 private:
  void Lines(const char* Data, size_t Size) {
    if (Size == 0) return;
    const char* end = Data + Size;
    for (const char* p = Data; (p = static_cast<const char*>(std::memchr(p, '\n', end - p))); ++p) {
      ++FTally.FLines;
    }
    FTally.FLastByte = static_cast<unsigned char>(end[-1]);
  }
  TAddressTally& FTally;
};

TAddressTally::TAddressTally(size_t MaxDistinct)
    : FSink(std::make_unique<TSink>(*this)),
      FScanner(std::make_unique<TAddressScanner>(*FSink)),
      FMaxDistinct(MaxDistinct) {}

TAddressTally::~TAddressTally() = default;

void TAddressTally::Feed(const char* Data, size_t Size) { FScanner->Feed(Data, Size); }

void TAddressTally::Finish() { FScanner->Finish(); }

void TAddressTally::Count(bool IPv6, uint32_t IPv4, TIPv6Address Address) {
  ++FFound;
  const auto count = [this](auto& Counts, auto Key) {
    if (auto it = Counts.find(Key); it != Counts.end()) {
      ++it->second;
    } else if (Distinct() < FMaxDistinct) {
      Counts.emplace(Key, 1);
    } else {
      ++FLeftOut;
    }
  };
  if (IPv6) {
    count(FSix, Address);
  } else {
    count(FFour, IPv4);
  }
}

std::vector<TAddressRow> TAddressTally::Rows() const {
  std::vector<TAddressRow> rows;
  rows.reserve(Distinct());
  // Each family's addresses, ascending, after those before.
  const auto add = [&rows](const auto& Counts, bool IPv6) {
    const size_t from = rows.size();
    for (const auto& [address, times] : Counts) {
      TAddressRow r;
      r.Address = address;
      r.Times = times;
      r.IPv6 = IPv6;
      rows.push_back(r);
    }
    std::sort(rows.begin() + static_cast<ptrdiff_t>(from), rows.end(),
              [](const TAddressRow& a, const TAddressRow& b) { return a.Address < b.Address; });
  };
  add(FFour, false);
  add(FSix, true);
  return rows;
}

size_t CountAddresses(std::string_view Text, size_t Upto) {
  struct TCounter : TAddressSink {
    size_t Found = 0;
    void Text(const char*, size_t) override {}
    void Address(std::string_view, const TFoundAddress&) override { ++Found; }
  } counter;
  TAddressScanner scanner(counter);
  // In pieces, so that a long text stops soon after the count is reached.
  for (size_t at = 0; at < Text.size() && counter.Found < Upto; at += 4096) {
    scanner.Feed(Text.data() + at, std::min<size_t>(4096, Text.size() - at));
  }
  scanner.Finish();
  return std::min(counter.Found, Upto);
}

size_t LookUpRows(TIPv4Database& Db, std::vector<TAddressRow>& Rows,
                  const std::atomic<bool>& Abort) {
  for (size_t i = 0; i < Rows.size(); ++i) {
    if ((i & 0xFFFF) == 0 && Abort) return i;
    TAddressRow& r = Rows[i];
    if (r.IPv6) {
      const int at = Db.IPv6.Find(r.Address);
      if (at < 0) continue;
      const TIPv6Block& b = Db.IPv6.Blocks[static_cast<size_t>(at)];
      r.BlockStart = b.Start;
      r.BlockLast = b.Last;
      r.CountryCode = b.CountryCode;
      r.CenterID = b.CenterID;
    } else {
      const int at = Db.FindBlock(static_cast<uint32_t>(r.Address));
      if (at < 0) continue;
      const TIPv4Block& b = *Db.BlockAt(at);
      r.BlockStart = b.StartIP;
      r.BlockLast = b.LastIP();
      r.CountryCode = b.CountryCode;
      r.CenterID = b.CenterID;
    }
  }
  return Rows.size();
}

int TAddressTableModel::rowCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : Count();
}

int TAddressTableModel::columnCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : clColumns;
}

namespace {

std::string AddressText(TIPv6Address Address, bool IPv6) {
  return IPv6 ? IPv6ToStr(Address) : IPToStr(static_cast<uint32_t>(Address));
}

}  // namespace

std::vector<std::string> TAddressTableModel::Fields(int Index) const {
  const TAddressRow& r = Row(Index);
  std::vector<std::string> f = {
      AddressText(r.Address, r.IPv6), std::to_string(r.Times), "", "", "", ""};
  if (!r.CountryCode) return f;
  f[2] = CodeToStr(r.CountryCode);
  if (auto it = FCountries.find(r.CountryCode); it != FCountries.end()) {
    f[3] = it->second.toStdString();
  }
  if (auto it = FRegistries.find(r.CenterID); it != FRegistries.end()) {
    f[4] = it->second.toStdString();
  }
  if (r.IPv6) {
    TIPv6Block b;
    b.Start = r.BlockStart;
    b.Last = r.BlockLast;
    f[5] = b.AsText(FNotation);
  } else {
    TIPv4Block b;
    b.StartIP = static_cast<uint32_t>(r.BlockStart);
    // A block of the whole space holds 2^32 addresses, one more than a
    // count holds: it is written to its last but one.
    b.Count =
        static_cast<uint32_t>(std::min<TIPv6Address>(r.BlockLast - r.BlockStart + 1, 0xFFFFFFFFu));
    f[5] = b.AsText(FNotation);
  }
  return f;
}

QVariant TAddressTableModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || Index.row() >= Count()) return {};
  if (Role == Qt::TextAlignmentRole && Index.column() == clCount) {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (Role != Qt::DisplayRole && Role != Qt::ToolTipRole) return {};
  const std::vector<std::string> f = Fields(Index.row());
  switch (Index.column()) {
    case clAddress:
      return QString::fromLatin1(f[0]);
    case clCount:
      return QString::fromLatin1(f[1]);
    case clCountry:
      return f[2].empty()
                 ? QString()
                 : QString::fromLatin1(f[2]) + QLatin1Char(' ') + QString::fromStdString(f[3]);
    case clRegistry:
      return QString::fromStdString(f[4]);
    case clBlock:
      return f[2].empty() ? tr("in no block") : QString::fromLatin1(f[5]);
    default:
      return {};
  }
}

QVariant TAddressTableModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole) {
    return QAbstractTableModel::headerData(Section, Orientation, Role);
  }
  switch (Section) {
    case clAddress:
      return tr("Address");
    case clCount:
      return tr("Count");
    case clCountry:
      return tr("Country");
    case clRegistry:
      return tr("Registry");
    case clBlock:
      return tr("Block");
    default:
      return {};
  }
}

void TAddressTableModel::sort(int Column, Qt::SortOrder Order) {
  // A key per row; rows in no block after all others in either order.
  const auto address = [](const TAddressRow& r) { return std::pair(r.IPv6, r.Address); };
  const auto block = [](const TAddressRow& r) {
    return std::tuple(r.CountryCode == 0, r.IPv6, r.BlockStart, r.BlockLast);
  };
  const bool down = Order == Qt::DescendingOrder;
  auto ordered = [down](const auto& a, const auto& b) { return down ? b < a : a < b; };
  std::function<bool(const TAddressRow&, const TAddressRow&)> less;
  switch (Column) {
    case clAddress:
      less = [&](const TAddressRow& a, const TAddressRow& b) {
        return ordered(address(a), address(b));
      };
      break;
    case clCount:
      less = [&](const TAddressRow& a, const TAddressRow& b) { return ordered(a.Times, b.Times); };
      break;
    case clCountry:
      less = [&](const TAddressRow& a, const TAddressRow& b) {
        if ((a.CountryCode == 0) != (b.CountryCode == 0)) return b.CountryCode == 0;
        return ordered(a.CountryCode, b.CountryCode);
      };
      break;
    case clRegistry:
      less = [&](const TAddressRow& a, const TAddressRow& b) {
        if ((a.CountryCode == 0) != (b.CountryCode == 0)) return b.CountryCode == 0;
        const auto name = [this](const TAddressRow& r) {
          auto it = FRegistries.find(r.CenterID);
          return it == FRegistries.end() ? QString() : it->second;
        };
        return a.CenterID != b.CenterID && ordered(name(a), name(b));
      };
      break;
    case clBlock:
      less = [&](const TAddressRow& a, const TAddressRow& b) {
        if ((a.CountryCode == 0) != (b.CountryCode == 0)) return b.CountryCode == 0;
        return ordered(block(a), block(b));
      };
      break;
    default:
      return;
  }
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::stable_sort(FRows.begin(), FRows.end(), less);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TAddressTableModel::SetRows(std::vector<TAddressRow> Rows,
                                 std::map<uint16_t, QString> Countries,
                                 std::map<uint16_t, QString> Registries, TNotation Notation) {
  beginResetModel();
  FRows = std::move(Rows);
  FCountries = std::move(Countries);
  FRegistries = std::move(Registries);
  FNotation = Notation;
  endResetModel();
}

std::string TAddressTableModel::CopyText(const std::vector<int>& Indexes) const {
  std::string text;
  for (const int i : Indexes) {
    const std::vector<std::string> f = Fields(i);
    for (size_t c = 0; c < f.size(); ++c) {
      if (c) text += '\t';
      text += f[c];
    }
    text += "\r\n";
  }
  return text;
}

std::string TAddressTableModel::CsvText() const {
  std::string text = kCsvHeader;
  for (int i = 0; i < Count(); ++i) {
    const std::vector<std::string> f = Fields(i);
    for (size_t c = 0; c < f.size(); ++c) {
      if (c) text += ',';
      text += CsvField(f[c]);
    }
    text += "\r\n";
  }
  return text;
}
