#include "cli/dbinfo.h"

#include <map>

#include "ipdb/database.h"
#include "ipdb/provenance.h"
#include "ipdb/special.h"
#include "tools/tools.h"

void PrintDatabaseInfo(TIPv4Database& Db, const std::string& FileName, std::ostream& Out) {
  // IPv6 blocks by country and registry: they are not in the IPv4 lists.
  std::map<uint16_t, uint64_t> byCountry6, byCenter6;
  for (const TIPv6Block& b : Db.IPv6.Blocks) {
    ++byCountry6[b.CountryCode];
    ++byCenter6[b.CenterID];
  }
  int withBlocks = 0;
  for (int i = 0; i < Db.CountryCount(); ++i) {
    const TIPv4Country* c = Db.CountryAt(i);
    withBlocks += !c->Blocks.empty() || byCountry6.count(c->Code);
  }
  Out << "Database: " << FileName << "\n"
      << "Created: " << DayNumberText(Db.Created) << "\n";
  if (Db.Sources.empty()) Out << "Source: not recorded in the file\n";
  for (const TSource& s : Db.Sources) Out << "Source: " << SourceText(s) << "\n";
  const TCountryKind kind = DatabaseCountryKind(Db.Sources);
  Out << "Country kind: " << CountryKindName(kind) << " (" << CountryKindText(kind) << ")\n";
  Out << "Blocks: " << Db.BlockCount() << "\n"
      << "IPv6 blocks: " << Db.IPv6.Count() << "\n"
      << "Countries: " << Db.CountryCount() << " (" << withBlocks << " with blocks)\n"
      << "Registries: " << Db.CenterCount() << "\n";
  const TRegistryData& r = Db.Registry;
  if (r.Empty()) {
    Out << "Holders: not recorded (a database from the registries' extended files has them)\n";
  } else {
    Out << "Holders: " << r.HolderCount() << "\n"
        << "AS number records: " << r.ASNCount() << "\n"
        << "Available and reserved ranges: " << r.Free4Count() << " IPv4, " << r.Free6Count()
        << " IPv6\n";
  }
  size_t special4 = 0;
  for (const TSpecialRange& s : SpecialRanges()) special4 += s.Family == 4;
  Out << "Special-purpose table: " << special4 << " IPv4 and " << SpecialRanges().size() - special4
      << " IPv6 ranges, IANA's registries of " << Date8Text(kSpecialTableDate) << "\n";
  for (int i = 0; i < Db.CenterCount(); ++i) {
    const TIPv4Center* c = Db.CenterAt(i);
    uint64_t addresses = 0;
    for (const TIPv4Block* b : c->Blocks) addresses += b->Count;
    Out << "Registry " << c->ID << " " << c->Name << ": " << c->Blocks.size() << " blocks, "
        << addresses << " addresses, " << byCenter6[c->ID] << " IPv6 blocks\n";
  }
}
