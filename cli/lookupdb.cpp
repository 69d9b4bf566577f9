#include "cli/lookupdb.h"

#include <ostream>
#include <sstream>
#include <thread>

#include "ipdb/database.h"
#include "ipdb/inplace.h"
#include "ipdb/loader.h"
#include "ipdb/special.h"
#include "tools/errors.h"
#include "tools/tools.h"

namespace {

constexpr std::chrono::seconds kLookEvery{1};
constexpr std::chrono::milliseconds kReloadStep{50};

}  // namespace

TLookupDatabase::TLookupDatabase() = default;
TLookupDatabase::~TLookupDatabase() = default;

bool TLookupDatabase::Open(const std::string& Path, bool InPlace, std::ostream& Err) {
  FPath = Path;
  FInPlace = InPlace;
  FLastLook = std::chrono::steady_clock::now();
  if (InPlace) FMapped = TInPlaceDatabase::Open(Path);
  if (FMapped) {
    FStamp = FMapped->Stamp();
    FCountryKind = FMapped->CountryKind();
    return true;
  }
  TFileStamp before;
  const bool stamped = StampOf(Path, before);
  FLoaded = std::make_unique<TIPv4Database>();
  if (!LoadDatabase(*FLoaded, Path, Err)) return false;
  if (stamped) FStamp = before;
  FCountryKind = DatabaseCountryKind(FLoaded->Sources);
  return true;
}

bool TLookupDatabase::TakeFile(std::ostream& Err, bool SayRefusal) {
  TFileStamp before, after;
  if (!StampOf(FPath, before)) return false;
  // Checked by the full load, whatever reads it afterwards: a file that
  // is still being written fails here, or changes its stamp.
  auto loaded = std::make_unique<TIPv4Database>();
  std::ostringstream why;
  if (!LoadDatabase(*loaded, FPath, why)) {
    // A whole file that does not load (not one being written) is said
    // once, and not read again until it changes.
    TFileStamp after;
    if (SayRefusal && StampOf(FPath, after) && after == before && !(before == FRefused)) {
      FRefused = before;
      Err << "kesl-lookup: " << why.str().substr(0, why.str().find('\n'))
          << "; still answering from the database opened before\n";
    }
    return false;
  }
  std::unique_ptr<TInPlaceDatabase> mapped;
  if (FInPlace) {
    mapped = TInPlaceDatabase::Open(FPath);
    if (mapped && !(mapped->Stamp() == before)) return false;
  }
  if (!StampOf(FPath, after) || !(after == before)) return false;
  FMapped = std::move(mapped);
  FLoaded = FMapped ? nullptr : std::move(loaded);
  FCountryKind = FMapped ? FMapped->CountryKind() : DatabaseCountryKind(FLoaded->Sources);
  FStamp = before;
  ++FGeneration;
  const double created = FMapped ? FMapped->Created() : FLoaded->Created;
  Err << "kesl-lookup: now answering from " << FPath << ", created " << DayNumberText(created)
      << "\n";
  return true;
}

void TLookupDatabase::Follow(std::ostream& Err) {
  const auto now = std::chrono::steady_clock::now();
  if (now - FLastLook < kLookEvery) return;
  FLastLook = now;
  TFileStamp stamp;
  // A path that is gone leaves the file in use as it is.
  if (!StampOf(FPath, stamp) || stamp == FStamp || stamp == FRefused) return;
  if (stamp.SameFile(FStamp) && FMapped) return Reload(Err);
  TakeFile(Err, true);
}

bool TLookupDatabase::Unchanged() const { return !FMapped || !FMapped->Changed(); }

bool TLookupDatabase::Find(uint32_t IP, TIPv4Block& Block) const {
  if (FMapped) return FMapped->Find(IP, Block);
  const int i = FLoaded->FindBlock(IP);
  if (i >= 0) Block = FLoaded->Blocks[static_cast<size_t>(i)];
  return i >= 0;
}

bool TLookupDatabase::Find(TIPv6Address IP, TIPv6Block& Block) const {
  if (FMapped) return FMapped->Find(IP, Block);
  const int i = FLoaded->IPv6.Find(IP);
  if (i >= 0) Block = FLoaded->IPv6.Blocks[static_cast<size_t>(i)];
  return i >= 0;
}

const TRegistryData& TLookupDatabase::Registry() const {
  return FMapped ? FMapped->Registry() : FLoaded->Registry;
}

const TIPv4Country* TLookupDatabase::Country(uint16_t Code) const {
  if (FMapped) return FMapped->CountryFor(Code);
  const int i = FLoaded->FindCountry(Code);
  return i < 0 ? nullptr : FLoaded->Countries[static_cast<size_t>(i)].get();
}

const TIPv4Center* TLookupDatabase::Center(uint16_t ID) const {
  if (FMapped) return FMapped->CenterFor(ID);
  const int i = FLoaded->FindCenter(ID);
  return i < 0 ? nullptr : FLoaded->Centers[static_cast<size_t>(i)].get();
}

void TLookupDatabase::HolderFacts(const THolding& Holding, TAddressFacts& Out) const {
  const TRegistryData& r = Registry();
  Out.Allocation = Holding.Status;
  Out.Holder = r.HolderText(Holding.Holder);
  Out.ASNsKnown = Holding.Holder != kNoHolder && Holding.Holder < r.HolderCount();
  Out.ASNs = Out.ASNsKnown ? r.HolderASNs(Holding.Holder) : std::vector<TASNRecord>();
}

template <typename TAddress>
void TLookupDatabase::RegistryFacts(TAddress IP, bool InBlock, const THolding& Holding,
                                    TAddressFacts& Out) const {
  if (InBlock) return HolderFacts(Holding, Out);
  // An address in no block may be in a registry's free space.
  TFreeRange<TAddress> free;
  if (Registry().FindFree(IP, free)) {
    Out.Allocation = free.Status;
    Out.FreeRegistry = free.CenterID;
  }
}

template <typename TRead>
void TLookupDatabase::Guarded(TRead Read) const {
  // What is read in the mapping is checked for a file cut short under it,
  // as the searches are.
  if (FMapped) return FMapped->Guarded(Read);
  Read();
}

void TLookupDatabase::Facts(uint32_t IP, const TIPv4Block* Block, TAddressFacts& Out) const {
  Out = TAddressFacts();
  Out.Special = FindSpecial(IP);
  if (Registry().Empty()) return;
  Guarded([&] {
    const int64_t i = !Block    ? -1
                      : FMapped ? FMapped->IndexOf(Block->StartIP)
                                : FLoaded->FindBlock(Block->StartIP);
    RegistryFacts(IP, Block, i < 0 ? THolding() : Registry().Holding4(static_cast<uint32_t>(i)),
                  Out);
  });
}

void TLookupDatabase::Facts(TIPv6Address IP, const TIPv6Block* Block, TAddressFacts& Out) const {
  Out = TAddressFacts();
  Out.Special = FindSpecial(IP);
  if (Registry().Empty()) return;
  Guarded([&] {
    const int64_t i = !Block    ? -1
                      : FMapped ? FMapped->IndexOf(Block->Start)
                                : FLoaded->IPv6.Find(Block->Start);
    RegistryFacts(IP, Block, i < 0 ? THolding() : Registry().Holding6(static_cast<uint32_t>(i)),
                  Out);
  });
}

bool TLookupDatabase::FindASN(uint32_t AS, TASNRecord& Record, TAddressFacts& Out) const {
  Out = TAddressFacts();
  bool found = false;
  Guarded([&] {
    found = Registry().FindASN(AS, Record);
    if (found) HolderFacts(Record.Holding, Out);
  });
  return found;
}

void TLookupDatabase::Reload(std::ostream& Err) {
  const auto giveUp = std::chrono::steady_clock::now() + kReloadWait;
  while (!TakeFile(Err, false)) {
    if (std::chrono::steady_clock::now() >= giveUp) {
      throw EDatabaseError("The file " + FPath +
                           " was written over while it was read, and did not load whole again "
                           "within " +
                           std::to_string(kReloadWait.count()) + " seconds");
    }
    std::this_thread::sleep_for(kReloadStep);
  }
  FLastLook = std::chrono::steady_clock::now();
}
