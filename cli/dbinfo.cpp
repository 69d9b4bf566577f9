#include "cli/dbinfo.h"

#include "ipv4base/ipv4base.h"
#include "tools/tools.h"

void PrintDatabaseInfo(TIPv4Database& Db, const std::string& FileName, std::ostream& Out) {
  int withBlocks = 0;
  for (int i = 0; i < Db.CountryCount(); ++i) withBlocks += !Db.CountryAt(i)->Blocks.empty();
  Out << "Database: " << FileName << "\n"
      << "Created: " << DayNumberText(Db.Created) << "\n";
  if (Db.Sources.empty()) Out << "Source: not recorded in the file\n";
  for (const TSource& s : Db.Sources) Out << "Source: " << SourceText(s) << "\n";
  Out << "Blocks: " << Db.BlockCount() << "\n"
      << "Countries: " << Db.CountryCount() << " (" << withBlocks << " with blocks)\n"
      << "Registries: " << Db.CenterCount() << "\n";
  for (int i = 0; i < Db.CenterCount(); ++i) {
    const TIPv4Center* c = Db.CenterAt(i);
    uint64_t addresses = 0;
    for (const TIPv4Block* b : c->Blocks) addresses += b->Count;
    Out << "Registry " << c->ID << " " << c->Name << ": " << c->Blocks.size() << " blocks, "
        << addresses << " addresses\n";
  }
}

bool LoadDatabase(TIPv4Database& Db, const std::string& FileName, std::ostream& Err) {
  try {
    Db.LoadFromFile(FileName);
    return true;
  } catch (const std::exception& e) {
    Err << e.what() << "\n";
    return false;
  }
}
