// The address database: blocks, countries and registries, their lookups,
// and the loader of country.ip4 (ipdb/loader.cpp). The IPv6 blocks are in
// ipdb/ipv6blocks.h, address text in tools/address.h.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "ipdb/ipv6blocks.h"
#include "ipdb/provenance.h"
#include "ipdb/registrydata.h"
#include "tools/address.h"
#include "tools/errors.h"
#include "tools/pages.h"

class TStream;
class TIPv4Country;
class TIPv4Center;
class TIPv4Database;
class TLoadContext;
struct TCountryRec;

// One allocated address range: StartIP .. StartIP + Count - 1.
class TIPv4Block {
 public:
  uint32_t StartIP = 0;
  uint32_t Count = 0;
  uint32_t Date = 0;         // yyyymmdd, 0 when unknown
  uint16_t CountryCode = 0;  // first letter in the high byte
  uint16_t CenterID = 0;
  TIPv4Country* Country = nullptr;  // set by linking; not owned
  TIPv4Center* Center = nullptr;    // set by linking; not owned

  // Reads one 16-byte block record; a short read raises EDatabaseError.
  void LoadFromStream(TStream& Stream);

  // The block in a notation. nmCIDR and nmMask write a block that is one
  // aligned prefix as that prefix, any other block as the fewest aligned
  // prefixes that cover exactly its addresses, joined by ", ".
  std::string AsText(TNotation Mode) const;
  // The range form of that ("first - last") at Out, which has room for
  // kMaxRangeText bytes; returns its end. No string is made.
  static constexpr size_t kMaxRangeText = 33;
  char* FormatRange(char* Out) const;
  // The same, one line per prefix for nmCIDR and nmMask (one line otherwise).
  std::vector<std::string> AsLines(TNotation Mode) const;
  // The fewest aligned prefixes, ascending, that cover exactly the block's
  // addresses up to 255.255.255.255. Empty for a block with Count 0.
  std::vector<TPrefix> Prefixes() const;
  // Last address held, capped at 255.255.255.255 (StartIP - 1 for Count 0).
  uint32_t LastIP() const;
  std::string CountryStr() const;
};

class TIPv4Country {
 public:
  TIPv4Country() = default;
  TIPv4Country(const TIPv4Country&) = delete;
  TIPv4Country& operator=(const TIPv4Country&) = delete;
  virtual ~TIPv4Country() = default;

  // Reads one country record; a short read raises EDatabaseError.
  void LoadFromStream(TStream& Stream);

  uint16_t Code = 0;
  std::string Name;
  std::string Domain;  // empty for countries read from a binary body
  std::string Capital;
  std::string Region;
  std::string Currency;
  double Population = 0;
  std::vector<TIPv4Block*> Blocks;  // ascending StartIP once linked
};

class TIPv4Center {
 public:
  TIPv4Center() = default;
  TIPv4Center(const TIPv4Center&) = delete;
  TIPv4Center& operator=(const TIPv4Center&) = delete;
  virtual ~TIPv4Center() = default;

  // Reads one registry record; a short read raises EDatabaseError.
  void LoadFromStream(TStream& Stream);

  uint16_t ID = 0;
  std::string Name;
  std::vector<TIPv4Block*> Blocks;  // ascending StartIP once linked
};

// The order of Blocks once sorted: by start, equal starts by size, so that
// the search, which takes the last start at or below an address, meets the
// largest of them.
inline bool BlockLess(const TIPv4Block& A, const TIPv4Block& B) {
  return A.StartIP != B.StartIP ? A.StartIP < B.StartIP : A.Count < B.Count;
}

using TProgressEvent = std::function<void(TIPv4Database& Sender, int Value)>;

class TIPv4Database {
 public:
  // A new database holds the 250 built-in countries and 5 registries.
  TIPv4Database();
  TIPv4Database(const TIPv4Database&) = delete;
  TIPv4Database& operator=(const TIPv4Database&) = delete;
  virtual ~TIPv4Database();

  int CountryCount() const { return static_cast<int>(Countries.size()); }
  int CenterCount() const { return static_cast<int>(Centers.size()); }
  int BlockCount() const { return static_cast<int>(Blocks.size()); }

  // Entries by zero-based index; EListError "List index out of bounds (%d)"
  // outside the list. Pointers stay valid for the database's life once it
  // is loaded.
  TIPv4Block* BlockAt(int Index);
  TIPv4Center* CenterAt(int Index);
  TIPv4Country* CountryAt(int Index);

  // Appends a registry or a country; neither throws. The lists are sorted
  // again by SortAndLink.
  void AddCenter(uint16_t ID, const std::string& Name);
  // Adds nothing unless CodeText has exactly two characters (case kept).
  void AddCountry(const std::string& CodeText, const std::string& Name, const std::string& Domain,
                  const std::string& Capital, const std::string& Region,
                  const std::string& Currency, double Population);

  // Index of the block holding IP, or -1.
  int FindBlock(uint32_t IP) const;
  // Index of an entry with that key, or -1. Among equal keys the same
  // search on the same list always gives the same entry.
  int FindCenter(uint16_t ID) const;
  int FindCountry(uint16_t Code) const;
  // The block list of the country FindCountry finds, or nullptr.
  const std::vector<TIPv4Block*>* CountryBlocks(uint16_t Code) const;

  // Sorts the three lists and links every block, IPv6 ones too, to its
  // country and registry. EDatabaseError "Unknown country code: %s" or
  // "Unknown NIC code: %d" for a block that names neither.
  void SortAndLink();

  // The load, as the program's API names it. These methods, and the fields
  // a load uses (FileHandle, FileSize, LastProgress), are the loader's:
  // defined in ipdb/loader.cpp, which reads the file, and handing each body
  // to its reader (ipdb/textbody.h, the binary sections in the loader)
  // through a load context (ipdb/loadcontext.h); the model's own code
  // (database.cpp) reads no file. ipdb/loader.h has the loader's other
  // entry points.
  //
  // Loads country.ip4 or another database file, then sorts and links.
  // Every failure raises an error whose what() is the message to show.
  void LoadFromFile(const std::string& FileName);
  // Body readers: they only append records. A count out of bounds or a body
  // that ends inside a record raises EDatabaseError; a stream that fails
  // raises its own error (EReadError, EZLibError, EBZ2Error).
  void LoadFromBinStream(TStream& Stream);
  void LoadFromTextStream(TStream& Stream);
  // Parses one delegation line; appends at most one block. Lines that are
  // not IPv4 records are skipped; an unknown registry raises
  // "WARNING: Unknown NIC name".
  void ParseTextLine(const char* Line);
  // Fires OnProgress when the per-mille position in the file changed.
  void DoProgress();

  double Created = 0;  // days since 1899-12-30; -1 for an invalid header date
  // Where the data came from, from a binary body's trailer; empty when the
  // file does not say.
  std::vector<TSource> Sources;
  std::vector<TIPv4Block> Blocks;
  // The file's IPv6 blocks, linked to the same countries and registries.
  TIPv6Blocks IPv6;
  // What the registries' extended files said of the blocks, AS numbers and
  // free space; empty for other data, or after a second load into the same
  // database.
  TRegistryData Registry;
  std::vector<std::unique_ptr<TIPv4Center>> Centers;
  std::vector<std::unique_ptr<TIPv4Country>> Countries;
  TProgressEvent OnProgress;
  int FileHandle = -1;  // of the file being loaded; -1 outside a load
  int64_t FileSize = 0;
  int32_t LastProgress = 0;

 private:
  void SortAndLink(bool KnownSorted);
  // Runs a body reader with the load in progress, or outside a load with
  // one of its own (for the body readers called alone); the search index
  // is made again afterwards.
  void ReadBody(const std::function<void(TLoadContext&)>& Read);

  // StartIP and Count of every block side by side: the search reads only
  // this array, and its last probe brings the count into the cache with it.
  struct TSpan {
    uint32_t Start;
    uint32_t Count;
  };
  // The search index: one span per block that holds addresses, the block
  // index of each span (empty when they are the same), and how many blocks
  // there were when it was made (SIZE_MAX: none made).
  TLargeVector<TSpan> FSpans;
  std::vector<uint32_t> FSpanBlock;
  // For a large list, the spans' index by /16 (ipdb/by16index.h).
  std::vector<uint32_t> FBy16;
  size_t FIndexed = SIZE_MAX;
  TLoadContext* FLoad = nullptr;  // the load in progress, if any
};

// Three-way comparisons of the list sort orders.
int CompareBlocks(const TIPv4Block& A, const TIPv4Block& B);
int CompareCenters(const TIPv4Center& A, const TIPv4Center& B);
int CompareCountries(const TIPv4Country& A, const TIPv4Country& B);

// The country of a built-in table row, as a new database holds it; nullptr
// for a row whose ISO2 field is not two letters.
std::unique_ptr<TIPv4Country> MakeBuiltInCountry(const TCountryRec& Rec);
