// The database a lookup answers from: searched where it lies when it can
// be, else loaded whole; and, for a long stream of queries, followed on
// disk, so that a running lookup answers from the database in place:
// another file renamed over the path (what kesl-mkdb --update does) is
// taken from the next batch on, and the open file written over in place
// (a cp over it) is never answered from again until it loads whole.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "ipdb/provenance.h"
#include "ipdb/registrydata.h"
#include "tools/address.h"
#include "tools/errors.h"
#include "tools/files.h"

class TIPv4Block;
class TIPv4Database;
class TIPv6Block;
class TInPlaceDatabase;
class TIPv4Country;
class TIPv4Center;
struct TSpecialRange;

// What the registries' extended files and IANA's table say of an address
// beside its block, or of an AS number beside its record.
struct TAddressFacts {
  TAllocation Allocation = alUnknown;
  std::string Holder;  // empty when not known
  // The holder's AS numbers, when its holder is known.
  bool ASNsKnown = false;
  std::vector<TASNRecord> ASNs;
  // For an address in no block: the registry of the available or reserved
  // range that holds it (0 for none).
  uint16_t FreeRegistry = 0;
  const TSpecialRange* Special = nullptr;
};

// How long a file written over in place may take to load whole again
// before the lookup gives up on it.
constexpr std::chrono::seconds kReloadWait{5};

class TLookupDatabase {
 public:
  TLookupDatabase();
  ~TLookupDatabase();
  TLookupDatabase(const TLookupDatabase&) = delete;
  TLookupDatabase& operator=(const TLookupDatabase&) = delete;

  // Opens Path: in place when it is a plain file marked for it (InPlace),
  // else loaded whole. False, after the loader's message on Err, when it
  // does not load.
  bool Open(const std::string& Path, bool InPlace, std::ostream& Err);
  // The file searched in place, or nullptr; the database loaded whole, or
  // nullptr. One of them is there after a successful Open.
  const TInPlaceDatabase* Mapped() const { return FMapped.get(); }
  TIPv4Database* Loaded() const { return FLoaded.get(); }
  const std::string& Path() const { return FPath; }
  TCountryKind CountryKind() const { return FCountryKind; }
  // Changes each time another database takes the place of the one before:
  // what was made from the one before (its blocks, names) is gone.
  uint64_t Generation() const { return FGeneration; }

  // For a stream between its batches: at most once a second looks at the
  // path, and takes another file renamed over it, or the open file loaded
  // whole again after it was written over, saying so on Err. A file that
  // does not load is left for the next look.
  void Follow(std::ostream& Err);
  // Runs Read, which reads the database in use (through Mapped() or
  // Loaded(), or Find), and runs it again whenever what it read in place
  // cannot be trusted: the file was written over meanwhile, or cut short
  // under it. Then the file is first taken anew once it loads whole, or
  // after kReloadWait EDatabaseError names it.
  template <typename TRead>
  void Read(TRead Read, std::ostream& Err) {
    for (;;) {
      try {
        Read();
      } catch (const EDatabaseError&) {
        if (Unchanged()) throw;
      }
      if (Unchanged()) return;
      Reload(Err);
    }
  }
  // The block of one address, in place or loaded, into Block; false when
  // no block holds it. Unguarded: within Read.
  bool Find(uint32_t IP, TIPv4Block& Block) const;
  bool Find(TIPv6Address IP, TIPv6Block& Block) const;
  // The facts of an address and its block (nullptr for none). Unguarded:
  // within Read.
  void Facts(uint32_t IP, const TIPv4Block* Block, TAddressFacts& Out) const;
  void Facts(TIPv6Address IP, const TIPv6Block* Block, TAddressFacts& Out) const;
  // The record of an AS number with its facts; false when no record lists
  // it. Unguarded: within Read.
  bool FindASN(uint32_t AS, TASNRecord& Record, TAddressFacts& Out) const;
  // The registries' data of the database in use (empty for most files).
  const TRegistryData& Registry() const;
  // A country or registry of the database by its key; nullptr for none.
  const TIPv4Country* Country(uint16_t Code) const;
  const TIPv4Center* Center(uint16_t ID) const;

 private:
  void HolderFacts(const THolding& Holding, TAddressFacts& Out) const;
  // Runs Read, which reads the registries' data, guarded as a search.
  template <typename TRead>
  void Guarded(TRead Read) const;
  // The holder facts of a block's holding, or an address's free range.
  template <typename TAddress>
  void RegistryFacts(TAddress IP, bool InBlock, const THolding& Holding, TAddressFacts& Out) const;
  // Whether the file searched in place (if any) is as it was opened.
  bool Unchanged() const;
  // Waits for the file to load whole again and takes it.
  void Reload(std::ostream& Err);
  // The file at FPath opened and checked as a whole (the loader's every
  // check), and taken when it stayed the same while it was; false when it
  // does not load (said on Err with SayRefusal), or changed meanwhile.
  bool TakeFile(std::ostream& Err, bool SayRefusal);

  std::string FPath;
  bool FInPlace = false;
  std::unique_ptr<TInPlaceDatabase> FMapped;
  std::unique_ptr<TIPv4Database> FLoaded;
  TFileStamp FStamp;    // of the file in use, when it was opened
  TFileStamp FRefused;  // of the last file that did not load
  TCountryKind FCountryKind = ckUnknown;
  uint64_t FGeneration = 0;
  std::chrono::steady_clock::time_point FLastLook;
};
