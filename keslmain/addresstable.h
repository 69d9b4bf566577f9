// The table of many addresses: every IPv4 and IPv6 address found in a text
// or a log file (by the finder --annotate uses), once each with how often
// it came, and the block, country and registry that hold it.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <QAbstractTableModel>
#include <QString>

#include "tools/address.h"

class TIPv4Database;

// One address of the table. The facts are copies, not pointers into the
// database, so that the table outlives a database replaced by an update.
struct TAddressRow {
  TIPv6Address Address = 0;  // an IPv4 address in the low 32 bits
  TIPv6Address BlockStart = 0, BlockLast = 0;
  uint32_t Times = 0;        // how often the text holds it
  uint16_t CountryCode = 0;  // 0: in no block
  uint16_t CenterID = 0;
  bool IPv6 = false;
};

// Counts the addresses of a text handed over in pieces of any size, each
// distinct address once, at most kMaxDistinct of them: the table of a text
// of any size takes bounded memory. Further addresses are counted only
// when they have come before.
class TAddressTally {
 public:
  static constexpr size_t kMaxDistinct = 2'000'000;

  explicit TAddressTally(size_t MaxDistinct = kMaxDistinct);
  ~TAddressTally();
  TAddressTally(const TAddressTally&) = delete;
  TAddressTally& operator=(const TAddressTally&) = delete;

  void Feed(const char* Data, size_t Size);
  void Finish();
  // Addresses found, lines read (a last line without its end counts).
  uint64_t Found() const { return FFound; }
  uint64_t Lines() const { return FLines + (FLastByte >= 0 && FLastByte != '\n'); }
  size_t Distinct() const { return FFour.size() + FSix.size(); }
  // Addresses left out for the limit.
  uint64_t LeftOut() const { return FLeftOut; }
  // The distinct addresses with their counts, IPv4 ones first, each family
  // ascending; what Lookup fills in still empty.
  std::vector<TAddressRow> Rows() const;

 private:
  struct THash6 {
    size_t operator()(TIPv6Address A) const {
      return std::hash<uint64_t>()(static_cast<uint64_t>(A) ^
                                   static_cast<uint64_t>(A >> 64) * 0x9E3779B97F4A7C15ull);
    }
  };
  class TSink;
  void Count(bool IPv6, uint32_t IPv4, TIPv6Address Address);

  std::unique_ptr<TSink> FSink;
  std::unique_ptr<class TAddressScanner> FScanner;
  std::unordered_map<uint32_t, uint32_t> FFour;
  std::unordered_map<TIPv6Address, uint32_t, THash6> FSix;
  size_t FMaxDistinct;
  uint64_t FFound = 0, FLines = 0, FLeftOut = 0;
  int FLastByte = -1;
};

// How many addresses Text holds, counted up to Upto.
size_t CountAddresses(std::string_view Text, size_t Upto);

// Fills in each row's block, country and registry from Db (only read).
// Stops early when Abort becomes true; returns how many rows, from the
// first, it has filled in.
size_t LookUpRows(TIPv4Database& Db, std::vector<TAddressRow>& Rows,
                  const std::atomic<bool>& Abort);

// The table's columns: Address, Count, Country, Registry, Block.
class TAddressTableModel : public QAbstractTableModel {
 public:
  enum TColumn { clAddress, clCount, clCountry, clRegistry, clBlock, clColumns };

  using QAbstractTableModel::QAbstractTableModel;
  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role) const override;
  // Sorts the rows by a column: addresses and blocks by family, then
  // value; counts as numbers; countries by code and registries by name,
  // rows in no block last. Rows that are equal by it keep their order.
  void sort(int Column, Qt::SortOrder Order = Qt::AscendingOrder) override;

  // Replaces the rows; the names are the database's, by country code and
  // registry ID; blocks are written in Notation.
  void SetRows(std::vector<TAddressRow> Rows, std::map<uint16_t, QString> Countries,
               std::map<uint16_t, QString> Registries, TNotation Notation);
  const TAddressRow& Row(int Index) const { return FRows[static_cast<size_t>(Index)]; }
  int Count() const { return static_cast<int>(FRows.size()); }

  // A row's fields as text: address, count, country code, country name,
  // registry, block (empty for an address in no block).
  std::vector<std::string> Fields(int Index) const;
  // Rows (in the order given) as tab-separated lines, each ended by CR LF,
  // as the window's copies are.
  std::string CopyText(const std::vector<int>& Indexes) const;
  // Every row as CSV (RFC 4180), under a header line.
  std::string CsvText() const;
  static constexpr char kCsvHeader[] = "address,count,country,country_name,registry,block\r\n";

 private:
  std::vector<TAddressRow> FRows;
  std::map<uint16_t, QString> FCountries, FRegistries;
  TNotation FNotation = nmRange;
};
