#include "cli/lookup.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <unordered_map>

#include "cli/args.h"
#include "cli/dbinfo.h"
#include "ipv4base/ipv4base.h"
#include "tools/files.h"
#include "tools/resolve.h"

namespace {

const char kUsage[] =
    "Usage: kesl-lookup [--db PATH] [--notation range|cidr|mask] QUERY...\n"
    "       kesl-lookup [--db PATH] [--notation ...] --stdin\n"
    "       kesl-lookup [--db PATH] [--notation ...] --country CODE\n"
    "       kesl-lookup [--db PATH] --info\n"
    "\n"
    "Finds the allocated block, country and registry of IPv4 addresses and host\n"
    "names in an offline database.\n"
    "\n"
    "  --db PATH        the database file (default: country.ip4 beside this program)\n"
    "  --notation N     how blocks are written: range (192.168.0.0 - 192.168.2.255,\n"
    "                   the default), cidr (192.168.0.0/23, 192.168.2.0/24) or mask\n"
    "                   (192.168.0.0 / 255.255.254.0, ...). A block that is not one\n"
    "                   aligned prefix is written as the prefixes that cover it.\n"
    "  --stdin          read one query per line from standard input\n"
    "  --country CODE   list the blocks of a country (two letters; UK means GB),\n"
    "                   one per line; in cidr and mask notation one prefix per line\n"
    "  --info           the database's creation date, counts, and each registry's\n"
    "                   blocks and addresses\n"
    "  --help           this text\n"
    "\n"
    "A QUERY is read as a numeric address first (127.1 is 127.0.0.1), otherwise\n"
    "resolved as a host name to its first IPv4 address. Each answer is one line of\n"
    "tab-separated fields: the query, the address, the block, the country code, the\n"
    "country's name, the registry and the block's date (yyyymmdd, 0 when unknown).\n"
    "An address in no block gives the query, the address and '-'; a name that does\n"
    "not resolve gives the query, 'error' and the resolver's message.\n"
    "\n"
    "Exit status: 0 every query located, 1 some address in no block or not\n"
    "resolved, 2 usage error, 3 the database did not load.\n";

// No address or host name is longer than 253 characters.
constexpr size_t kMaxQuery = 253;
constexpr size_t kMaxLine = 4096;
static_assert(kMaxLine > kMaxQuery);

bool AllDigitsAndDots(const std::string& Text) {
  return !Text.empty() && std::all_of(Text.begin(), Text.end(),
                                      [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// Writes answers into one growing buffer, flushed in large pieces.
class TAnswerWriter {
 public:
  TAnswerWriter(TIPv4Database& Db, TNotation Notation, std::ostream& Out)
      : FDb(Db), FNotation(Notation), FOut(Out) {
    FBuf.reserve(kFlushAt + 4096);
  }
  ~TAnswerWriter() { Flush(); }

  // Answers one query; returns false when it was not located.
  bool Answer(const std::string& Query) {
    if (Query.size() > kMaxQuery) {
      // Shown cut, so that one hostile line cannot flood the output either.
      Error(Query.substr(0, kMaxQuery) + "...", "Longer than any address or host name");
      return false;
    }
    uint32_t net = 0, ip = 0;
    // Digits and dots that do not form an address are no host name either:
    // answering them needs no resolver.
    if (!ParseNumericIPv4(Query, net) && AllDigitsAndDots(Query)) {
      Error(Query, "Not a valid IPv4 address");
      return false;
    }
    const TResolveResult r = ResolveQuery(Query, ip);
    if (r.Code != 0) {
      Error(Query, r.Error);
      return false;
    }
    char ipText[16];
    const char* ipEnd = FormatIP(ip, ipText);
    FBuf += Query;
    FBuf += '\t';
    FBuf.append(ipText, static_cast<size_t>(ipEnd - ipText));
    const int i = FDb.FindBlock(ip);
    if (i < 0) {
      FBuf += "\t-\n";
      MaybeFlush();
      return false;
    }
    const TIPv4Block* b = FDb.BlockAt(i);
    FBuf += '\t';
    FBuf += b->AsText(FNotation);
    FBuf += '\t';
    FBuf += b->CountryStr();
    FBuf += '\t';
    FBuf += CountryName(b->Country);
    FBuf += '\t';
    FBuf += b->Center->Name;
    FBuf += '\t';
    FBuf += std::to_string(b->Date);
    FBuf += '\n';
    MaybeFlush();
    return true;
  }

  void Flush() {
    FOut.write(FBuf.data(), static_cast<std::streamsize>(FBuf.size()));
    FBuf.clear();
  }

 private:
  static constexpr size_t kFlushAt = 1 << 20;

  void Error(const std::string& Query, const std::string& Message) {
    FBuf += Query;
    FBuf += "\terror\t";
    FBuf += Message;
    FBuf += '\n';
    MaybeFlush();
  }
  void MaybeFlush() {
    if (FBuf.size() >= kFlushAt) Flush();
  }
  const std::string& CountryName(const TIPv4Country* C) {
    auto it = FNames.find(C);
    if (it == FNames.end()) it = FNames.emplace(C, Latin1ToUtf8(C->Name)).first;
    return it->second;
  }

  TIPv4Database& FDb;
  TNotation FNotation;
  std::ostream& FOut;
  std::string FBuf;
  std::unordered_map<const TIPv4Country*, std::string> FNames;
};

// Reads the next line of In without its LF; false at the end of the input.
// At most Max bytes of a line are kept and Cut tells whether there were
// more: the rest is read past in bounded memory, so a line without an end
// cannot fill memory.
bool ReadLine(std::istream& In, std::string& Line, size_t Max, bool& Cut) {
  Line.clear();
  Cut = false;
  std::streambuf* buf = In.rdbuf();
  int c = buf->sbumpc();
  if (c == std::char_traits<char>::eof()) return false;
  for (; c != std::char_traits<char>::eof() && c != '\n'; c = buf->sbumpc()) {
    if (Line.size() < Max) {
      Line += static_cast<char>(c);
    } else {
      Cut = true;
    }
  }
  return true;
}

bool TrimLine(std::string& Line) {
  size_t b = 0, e = Line.size();
  while (b < e && static_cast<unsigned char>(Line[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(Line[e - 1]) <= ' ') --e;
  if (b > 0 || e < Line.size()) Line = Line.substr(b, e - b);
  return !Line.empty();
}

}  // namespace

int LookupMain(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out,
               std::ostream& Err) {
  std::string dbPath = ExecutableDir() + "country.ip4";
  int notation = nmRange;  // TArgReader::Choose stores an int
  bool fromStdin = false, info = false;
  std::string country;
  std::vector<std::string> queries;
  TArgReader args(Args, "kesl-lookup", Err);
  while (args.Next()) {
    const std::string& a = args.Arg();
    if (a == "--help" || a == "-h") {
      Out << kUsage;
      return 0;
    } else if (a == "--db") {
      if (!args.Value(dbPath)) return args.Usage("--db needs a file name");
    } else if (a == "--notation") {
      const int rc =
          args.Choose({{"range", nmRange}, {"cidr", nmCIDR}, {"mask", nmMask}}, notation);
      if (rc) return rc;
    } else if (a == "--stdin") {
      fromStdin = true;
    } else if (a == "--info") {
      info = true;
    } else if (a == "--country") {
      if (!args.Value(country)) return args.Usage("--country needs a two-letter code");
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return args.Usage("unknown option '" + a + "'");
    } else {
      queries.push_back(a);
    }
  }
  const int modes = fromStdin + info + !country.empty() + !queries.empty();
  if (modes == 0) return args.Usage("nothing to look up");
  if (modes > 1) return args.Usage("give queries, --stdin, --country or --info, one of them");
  if (!country.empty() && country.size() != 2) {
    return args.Usage("'" + country + "' is not a two-letter country code");
  }

  TIPv4Database db;
  if (!LoadDatabase(db, dbPath, Err)) return 3;

  if (info) {
    PrintDatabaseInfo(db, Out);
    return 0;
  }
  if (!country.empty()) {
    uint16_t code = 0;
    ParseCountryCode(country, code);
    const auto* blocks = db.CountryBlocks(code);
    if (!blocks) {
      Err << "kesl-lookup: Unknown country code: " << CodeToStr(code) << "\n";
      return 2;
    }
    Out << BlocksText({blocks->begin(), blocks->end()}, static_cast<TNotation>(notation), "\n");
    return 0;
  }

  bool all = true;
  TAnswerWriter writer(db, static_cast<TNotation>(notation), Out);
  if (fromStdin) {
    std::string line;
    // Room for the blanks around a query; anything longer is answered as
    // too long without being held whole.
    bool cut = false;
    while (ReadLine(In, line, kMaxLine, cut)) {
      // A cut line is too long whatever its blanks: it keeps kMaxLine bytes.
      if (cut || TrimLine(line)) all &= writer.Answer(line);
    }
  } else {
    for (const std::string& q : queries) all &= writer.Answer(q);
  }
  writer.Flush();
  return all ? 0 : 1;
}
