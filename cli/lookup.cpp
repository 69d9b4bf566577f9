#include "cli/lookup.h"

#include <memory>
#include <ostream>
#include <string_view>

#include "cli/annotate.h"
#include "cli/answers.h"
#include "cli/dbinfo.h"
#include "cli/linereader.h"
#include "cli/lookupdb.h"
#include "cli/lookupio.h"
#include "cli/lookupoptions.h"
#include "cli/query.h"
#include "cli/streamsearch.h"
#include "ipdb/blocklists.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/inplace.h"
#include "ipdb/registries.h"
#include "ipdb/special.h"
#include "tools/files.h"
#include "tools/text.h"

namespace {

// Lines longer than any query are read past in bounded memory.
constexpr size_t kMaxLine = 4096;
static_assert(kMaxLine > kMaxQuery);
// Queries answered together: enough for their searches to overlap and for
// the look at the open file after each batch (one fstat) to cost little.
// A system call costs more than its own time on a virtual machine: fstat
// alone takes 1.3 us on the one Kesl is measured on, about 5 us amid the
// searches, whose memory it leaves colder; at 256 queries a batch, a
// million took 5 to 8% longer. A slow stream does not wait for a full
// batch: what has come is answered before the reader waits. Long lines
// end a batch sooner, so that it holds at most about kBatchBytes.
constexpr size_t kBatch = 4096;
constexpr size_t kBatchBytes = 256 * 1024;

// --list: the database's countries or registries, one per line.
int ListNames(TIPv4Database& Db, bool Registries, TLookupIO& IO) {
  if (Registries) {
    for (int i = 0; i < Db.CenterCount(); ++i) IO.Out() << Db.CenterAt(i)->Name << "\n";
    return 0;
  }
  for (int i = 0; i < Db.CountryCount(); ++i) {
    const TIPv4Country* c = Db.CountryAt(i);
    IO.Out() << CodeToStr(c->Code) << "\t" << Latin1ToUtf8(c->Name) << "\n";
  }
  return 0;
}

// A list of blocks as lines or a firewall set, merged when asked; Extra
// lines (a holder's AS numbers) after the blocks' lines.
int WriteList(std::vector<const TIPv4Block*> blocks, std::vector<const TIPv6Block*> blocks6,
              const TLookupOptions& Options, TLookupIO& IO, const std::string& Extra = "") {
  std::vector<TIPv4Block> merged;
  std::vector<TIPv6Block> merged6;
  if (Options.Aggregate) {
    merged = AggregateBlocks(blocks);
    blocks.clear();
    for (const TIPv4Block& b : merged) blocks.push_back(&b);
    merged6 = AggregateBlocks6(blocks6);
    blocks6.clear();
    for (const TIPv6Block& b : merged6) blocks6.push_back(&b);
  }
  // An empty set in a firewall is a change of policy, not a refresh: only
  // when asked for.
  const bool firewall = Options.ListForm == lfIpset || Options.ListForm == lfNft;
  if (firewall && blocks.empty() && blocks6.empty() && !Options.AllowEmpty) {
    IO.Err() << "kesl-lookup: the list has no blocks, so no set was written "
                "(--allow-empty writes an empty set)\n";
    return 1;
  }
  std::string text = ListText(blocks, blocks6, Options.Notation, Options.ListForm, Options.SetName,
                              Options.Family);
  if (Options.ListForm == lfLines) text += Extra;
  IO.WriteOut(text.data(), text.size());
  return 0;
}

// --country and --registry: their blocks as lines or a firewall set; 2 for
// a country or registry the database does not know.
int ListBlocks(TIPv4Database& Db, const TLookupOptions& Options, TLookupIO& IO) {
  std::vector<uint16_t> codes, ids;
  for (const std::string& c : Options.Countries) {
    uint16_t code = 0;
    ParseCountryCode(c, code);
    if (Db.FindCountry(code) < 0) {
      IO.Err() << "kesl-lookup: Unknown country code: " << CodeToStr(code) << "\n";
      return 2;
    }
    codes.push_back(code);
  }
  for (const std::string& r : Options.Registries) {
    // A registry Kesl knows by its name or token, another by the name the
    // database gives it.
    const TRegistryInfo* known = FindRegistry(r);
    int found = -1;
    for (int i = 0; i < Db.CenterCount() && found < 0; ++i) {
      const TIPv4Center* c = Db.CenterAt(i);
      if (known ? c->ID == known->ID : SameAsciiText(c->Name, r)) found = i;
    }
    if (found < 0) {
      IO.Err() << "kesl-lookup: Unknown registry: " << r << "\n";
      return 2;
    }
    ids.push_back(Db.CenterAt(found)->ID);
  }
  std::vector<const TIPv4Block*> blocks;
  std::vector<const TIPv6Block*> blocks6;
  if (Options.Family != 6) blocks = SelectBlocks(Db, codes, ids);
  if (Options.Family == 6 || Options.Family == 0) blocks6 = SelectBlocks6(Db, codes, ids);
  return WriteList(blocks, blocks6, Options, IO);
}

// --list special: IANA's table, a line per range: prefix, name, whether it
// is globally reachable, the documents that define it.
int ListSpecial(TLookupIO& IO) {
  for (const TSpecialRange& r : SpecialRanges()) {
    IO.Out() << r.Prefix << "\t" << r.Name << "\t" << ReachableText(r.Reachable) << "\t" << r.Rfc
             << "\n";
  }
  return 0;
}

// --holder: the blocks and AS numbers registered to the holder of a query;
// 1 when the database has no holders or the query's holder is not known.
int ListHolder(TLookupDatabase& Db, const TLookupOptions& Options, TLookupIO& IO) {
  const TIPv4Database& loaded = *Db.Loaded();
  const TRegistryData& registry = loaded.Registry;
  if (registry.HolderCount() == 0) {
    IO.Err() << "kesl-lookup: this database says nothing of holders: run kesl-mkdb --update "
                "to make one from the registries' extended files\n";
    return 1;
  }
  uint32_t holder = kNoHolder, as = 0, ip = 0;
  TIPv6Address ip6 = 0;
  int kind = ReadNumericQuery(Options.Holder, ip, ip6);
  const bool asQuery = kind == 0 && ReadASNQuery(Options.Holder, as);
  if (asQuery) {
    TASNRecord r;
    if (registry.FindASN(as, r)) holder = r.Holding.Holder;
  } else {
    if (kind == 0) {
      const THostQuery q = ReadHostQuery(Options.Holder, false, Options.PreferIPv6);
      if (!q.Found) {
        IO.Err() << "kesl-lookup: " << q.Shown << ": " << q.Error << "\n";
        return 1;
      }
      kind = q.Address.IsIPv6 ? 6 : 4;
      ip = q.Address.IPv4;
      ip6 = q.Address.IPv6;
    }
    if (kind == 4) {
      const int i = loaded.FindBlock(ip);
      if (i >= 0) holder = registry.Holding4(static_cast<uint32_t>(i)).Holder;
    } else {
      const int i = loaded.IPv6.Find(ip6);
      if (i >= 0) holder = registry.Holding6(static_cast<uint32_t>(i)).Holder;
    }
  }
  if (holder == kNoHolder) {
    IO.Err() << "kesl-lookup: " << EscapeControlChars(Options.Holder)
             << ": no holder is known for it\n";
    return 1;
  }
  std::vector<const TIPv4Block*> blocks;
  std::vector<const TIPv6Block*> blocks6;
  if (Options.Family != 6) {
    for (size_t i = 0; i < loaded.Blocks.size(); ++i) {
      if (registry.Holding4(static_cast<uint32_t>(i)).Holder == holder)
        blocks.push_back(&loaded.Blocks[i]);
    }
  }
  if (Options.Family != 4) {
    for (size_t i = 0; i < loaded.IPv6.Blocks.size(); ++i) {
      if (registry.Holding6(static_cast<uint32_t>(i)).Holder == holder)
        blocks6.push_back(&loaded.IPv6.Blocks[i]);
    }
  }
  std::string asns;
  for (const TASNRecord& r : registry.HolderASNs(holder)) (asns += ASNText(r)) += '\n';
  return WriteList(blocks, blocks6, Options, IO, asns);
}

// --bogons: the space that no block of the database holds, with the
// special-purpose ranges that are not globally reachable; 1 for a database
// not made from the registries' files, whose gaps mean nothing.
int ListBogons(const TIPv4Database& Db, const TLookupOptions& Options, TLookupIO& IO) {
  if (DatabaseCountryKind(Db.Sources) != ckRegistered) {
    IO.Err() << "kesl-lookup: --bogons needs a database made from the registries' own files "
                "(kesl-mkdb --update); this one's blocks do not tell what is delegated\n";
    return 1;
  }
  std::vector<TIPv4Block> ranges;
  std::vector<TIPv6Block> ranges6;
  if (Options.Family != 6) ranges = UndelegatedIPv4(Db);
  if (Options.Family != 4) ranges6 = UndelegatedIPv6(Db);
  std::vector<const TIPv4Block*> blocks;
  std::vector<const TIPv6Block*> blocks6;
  for (const TIPv4Block& b : ranges) blocks.push_back(&b);
  for (const TIPv6Block& b : ranges6) blocks6.push_back(&b);
  return WriteList(blocks, blocks6, Options, IO);
}

// Answers the queries of standard input, one a line, in batches whose
// numeric addresses are searched together; the lines are kept until their
// batch is answered. True when every one was located.
bool AnswerStream(TLookupIO& IO, TStreamSearch& Search, TAnswerWriter& Writer) {
  bool all = true;
  std::string held;
  std::vector<size_t> ends;
  // Each query's kind (cli/query.h), and whether an IPv6 one is written as
  // its answer writes it.
  std::vector<int> kinds;
  std::vector<char> canonical;
  const auto answerBatch = [&] {
    Search.Search();
    for (size_t i = 0, from = 0; i < ends.size(); from = ends[i++]) {
      const std::string_view query(held.data() + from, ends[i] - from);
      uint32_t ip = 0;
      TIPv6Address ip6 = 0;
      if (kinds[i] == 4) {
        const TIPv4Block* b = Search.Next(ip);
        all &= Writer.AnswerIPv4(query, ip, b);
      } else if (kinds[i] == 6) {
        const TIPv6Block* b = Search.Next(ip6);
        all &= Writer.AnswerIPv6(query, ip6, b, canonical[i]);
      } else {
        all &= Writer.AnswerHost(query);
      }
    }
    held.clear();
    ends.clear();
    kinds.clear();
    canonical.clear();
  };
  std::string_view line;
  bool cut = false;
  auto reader = std::make_unique<TLineReader>(IO, kMaxLine);
  // Whoever writes a query and waits for its answer gets it: what has come
  // is answered and written out before the program waits for more.
  reader->BeforeWait([&] {
    answerBatch();
    Writer.Flush();
  });
  while (reader->Next(line, cut)) {
    if (line.empty()) continue;
    uint32_t ip = 0;
    TIPv6Address ip6 = 0;
    bool written = false;
    const int kind = ReadNumericQuery(line, ip, ip6, &written);
    if (kind == 4) Search.Add(ip);
    if (kind == 6) Search.Add(ip6);
    kinds.push_back(kind);
    canonical.push_back(written);
    held += line;
    ends.push_back(held.size());
    if (ends.size() == kBatch || held.size() >= kBatchBytes) answerBatch();
  }
  answerBatch();
  return all;
}

// Answers the queries from Db; 0 when every one was located.
int AnswerQueries(TLookupDatabase& Db, TLookupOptions& Options, TLookupIO& IO) {
  bool all = true;
  TAnswerWriter writer(Db,
                       {Options.Notation, Options.Format, std::move(Options.Fields),
                        Options.PreferIPv6, Options.NoResolve},
                       IO);
  if (Options.Mode == lmAnnotate) {
    TStreamSearch search(Db, IO.Err());
    return AnnotateInputs(Options.Queries, writer, Options.Format == fmJson, search, IO);
  }
  if (Options.Header) writer.Header();
  if (Options.Mode == lmStdin) {
    TStreamSearch search(Db, IO.Err());
    all = AnswerStream(IO, search, writer);
  } else {
    for (const std::string& q : Options.Queries) all &= writer.Answer(q);
  }
  writer.Flush();
  return all ? 0 : 1;
}

}  // namespace

int LookupMain(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out,
               std::ostream& Err) {
  TStreamIO io(In, Out, Err);
  return LookupMain(Args, io);
}

int LookupMain(const std::vector<std::string>& Args, TLookupIO& IO) {
  TLookupOptions options;
  if (const int status = ReadLookupOptions(Args, IO, options); status >= 0) return status;
  const std::string dbPath = options.DbGiven ? options.DbPath : FindDatabase();

  // Queries need no more than the blocks that hold them: a file that can be
  // searched where it lies is not loaded at all.
  const bool queries =
      options.Mode == lmQueries || options.Mode == lmStdin || options.Mode == lmAnnotate;
  TLookupDatabase db;
  if (!db.Open(dbPath, queries, IO.Err())) return 3;
  TIPv4Database* loaded = db.Loaded();

  switch (options.Mode) {
    case lmInfo:
      PrintDatabaseInfo(*loaded, dbPath, IO.Out());
      return 0;
    case lmNames:
      if (options.ListSpecial) return ListSpecial(IO);
      return ListNames(*loaded, options.ListRegistries, IO);
    case lmBlocks:
      return ListBlocks(*loaded, options, IO);
    case lmHolder:
      return ListHolder(db, options, IO);
    case lmBogons:
      return ListBogons(*loaded, options, IO);
    case lmQueries:
    case lmStdin:
    case lmAnnotate:
      break;
  }
  try {
    return AnswerQueries(db, options, IO);
  } catch (const EKeslError& e) {
    // The file searched in place was cut short or written over by another
    // program, and did not load whole again: the answers so far are out,
    // and the rest cannot be trusted.
    IO.Err() << "kesl-lookup: " << e.what() << "\n";
    return 3;
  }
}
