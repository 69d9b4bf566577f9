#include "cli/lookup.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <istream>
#include <memory>
#include <ostream>
#include <string_view>

#include "cli/args.h"
#include "cli/blocklists.h"
#include "cli/dbinfo.h"
#include "ipv4base/ipv4base.h"
#include "ipv4base/ipv4mapped.h"
#include "ipv4base/registries.h"
#include "tools/files.h"
#include "tools/resolve.h"
#include "tools/tools.h"
#include "tools/version.h"

namespace {

const char kUsage[] =
    "Usage: kesl-lookup [OPTION...] QUERY...\n"
    "       kesl-lookup [OPTION...] --stdin\n"
    "       kesl-lookup [OPTION...] --country CC[,CC...] [--registry NAME[,NAME...]]\n"
    "       kesl-lookup [--db PATH] --info\n"
    "\n"
    "Finds the allocated block, country and registry of IPv4 and IPv6 addresses\n"
    "and host names in an offline database.\n"
    "\n"
    "  --db PATH        the database file; by default the first that exists of\n"
    "                   $KESL_DB, the user's database from kesl-mkdb --update\n"
    "                   ($XDG_DATA_HOME/kesl/country.ip4), country.ip4 beside this\n"
    "                   program, and the installed default\n"
    "  --notation N     how blocks are written: range (192.168.0.0 - 192.168.2.255,\n"
    "                   the default), cidr (192.168.0.0/23, 192.168.2.0/24) or mask\n"
    "                   (192.168.0.0 / 255.255.254.0, ...). A block that is not one\n"
    "                   aligned prefix is written as the prefixes that cover it.\n"
    "                   IPv6 blocks have no mask form: they are written in cidr.\n"
    "  -6               a host name with addresses of both families is looked up\n"
    "                   by its IPv6 address (by its IPv4 address without -6)\n"
    "  --stdin, -       read one query per line from standard input\n"
    "  --format F       tsv (the default), csv (RFC 4180) or json (JSON Lines) for\n"
    "                   answers; ipset or nft for lists (with --set-name)\n"
    "  --fields LIST    the answer fields to write, in order, from query, status,\n"
    "                   address, block, country, country_name, registry, date,\n"
    "                   message (csv and json write all of them by default)\n"
    "  --header         the column names first (tsv and csv)\n"
    "  --country LIST   list the blocks of countries (two letters; UK means GB),\n"
    "                   one per line; in cidr and mask notation one prefix per line\n"
    "  --registry LIST  list the blocks of registries (IANA, ARIN, RIPE, APNIC,\n"
    "                   LACNIC, AFRINIC); with --country the lists are joined\n"
    "  --family F       the blocks --country and --registry list: 4 (the default),\n"
    "                   6 or all (IPv4 blocks first; not for ipset and nft, whose\n"
    "                   sets hold one family)\n"
    "  --aggregate      merge the listed blocks into the fewest ranges or prefixes\n"
    "  --set-name NAME  the set for --format ipset (a file for 'ipset restore') or\n"
    "                   nft (a file for 'nft -f', table inet kesl)\n"
    "  --info           the database file in use, its date, where its data came\n"
    "                   from, counts, and each registry's blocks and addresses\n"
    "  --list WHAT      the database's countries or registries, one per line\n"
    "  --version        the version\n"
    "  --help           this text\n"
    "Options take their value as --db PATH or --db=PATH; -- ends the options.\n"
    "\n"
    "A QUERY is read as a numeric address first (127.1 is 127.0.0.1, 2001:db8::1\n"
    "an IPv6 address), otherwise resolved as a host name to its first IPv4\n"
    "address, or its first IPv6 address when it has no IPv4 one. An IPv4-mapped\n"
    "address (::ffff:192.0.2.1) is looked up as the IPv4 address it holds. IPv6\n"
    "addresses are written in RFC 5952 form. Each answer is one line of\n"
    "tab-separated fields: the query,\n"
    "the address, the block, the country code, the country's name, the registry\n"
    "and the block's date (yyyymmdd, 0 when unknown). An address in no block\n"
    "gives the query, the address and '-'; a query that gives no address gives the\n"
    "query, 'error' and the message. In csv and json every answer has every\n"
    "field, with status ok, not_found or error.\n"
    "\n"
    "Exit status: 0 every query located, 1 some address in no block or not\n"
    "resolved, 2 usage error or unknown country or registry, 3 the database did\n"
    "not load.\n";

// No address or host name is longer than 253 characters.
constexpr size_t kMaxQuery = 253;
constexpr size_t kMaxLine = 4096;
static_assert(kMaxLine > kMaxQuery);
// Queries from standard input answered in place before the mapped file gets
// its index. On the default database the index takes about 2 ms to build,
// some 5,000 queries' worth of halving over all the records; with it a
// query is faster in place than in a loaded database (a million in 0.2 s
// against 0.28 s, and 8 MB against 30 MB), so a stream is never loaded.
constexpr uint64_t kIndexAfterQueries = 4096;

// The length of the valid UTF-8 sequence that Text starts with (a
// character from U+0080 on), or 0 when it starts with none.
size_t Utf8SequenceLength(std::string_view Text) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(Text[i]); };
  const unsigned char c = b(0);
  const size_t n = c >= 0xC2 && c <= 0xDF   ? 2
                   : c >= 0xE0 && c <= 0xEF ? 3
                   : c >= 0xF0 && c <= 0xF4 ? 4
                                            : 0;
  if (n == 0 || Text.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
  if ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) > 0x9F) || (c == 0xF0 && b(1) < 0x90) ||
      (c == 0xF4 && b(1) > 0x8F)) {
    return 0;
  }
  return n;
}

bool AllDigitsAndDots(std::string_view Text) {
  return !Text.empty() && std::all_of(Text.begin(), Text.end(),
                                      [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// How answers are written. fmLines is today's tab-separated line, whose
// fields vary with the outcome; the others write the same chosen fields for
// every answer.
enum TFormat { fmLines, fmTsv, fmCsv, fmJson };

// The fields of an answer, in their fixed order.
enum TField {
  fdQuery,
  fdStatus,
  fdAddress,
  fdBlock,
  fdCountry,
  fdCountryName,
  fdRegistry,
  fdDate,
  fdMessage,
  fdCount
};
constexpr std::string_view kFieldNames[fdCount] = {"query",    "status",  "address",
                                                   "block",    "country", "country_name",
                                                   "registry", "date",    "message"};
// The columns of the tab-separated lines, for --header.
constexpr char kLinesHeader[] = "query\taddress\tblock\tcountry\tcountry_name\tregistry\tdate\n";

// Writes answers into one large buffer, flushed in large pieces. A million
// answers are written in a fraction of a second: each field goes straight
// into the buffer, and names are made UTF-8 once.
class TAnswerWriter {
 public:
  // Answers come from Mapped, the file searched where it lies, while it is
  // given; else from Db, loaded whole.
  TAnswerWriter(const TMappedDatabase* Mapped, const TIPv4Database* Db, TNotation Notation,
                TFormat Format, std::vector<TField> Fields, bool PreferIPv6, TLookupIO& IO)
      : FMapped(Mapped),
        FDb(Db),
        FPreferIPv6(PreferIPv6),
        FNotation(Notation),
        FFormat(Format),
        FFields(std::move(Fields)),
        FIO(IO),
        FBuf(new char[kBufSize]) {}
  ~TAnswerWriter() { Flush(); }

  // The column names, for tsv and csv.
  void Header() {
    if (FFormat == fmLines) return Put(kLinesHeader);
    for (size_t i = 0; i < FFields.size(); ++i) {
      if (i) Put(FFormat == fmCsv ? "," : "\t");
      Put(kFieldNames[FFields[i]]);
    }
    Put(FFormat == fmCsv ? "\r\n" : "\n");
  }

  // Answers one query; returns false when it was not located.
  bool Answer(std::string_view Query) {
    if (Query.size() > kMaxQuery) {
      // Shown cut, so that one hostile line cannot flood the output either.
      const std::string cut = std::string(Query.substr(0, kMaxQuery)) + "...";
      return Failed(cut, "Longer than any address or host name");
    }
    uint32_t net = 0, ip = 0;
    if (ParseNumericIPv4(Query, net)) {
      ip = SwapBytes(net);
    } else if (AllDigitsAndDots(Query)) {
      // Digits and dots that do not form an address are no host name
      // either: answering them needs no resolver.
      return Failed(Query, "Not a valid IPv4 address");
    } else {
      TQueryAddress a;
      const TResolveResult r = ResolveQuery(std::string(Query), a, FPreferIPv6);
      if (r.Code != 0) return Failed(Query, r.Error);
      if (a.IsIPv6) return Answer6(Query, a.IPv6);
      ip = a.IPv4;
    }
    const TIPv4Block* b = Find(ip);
    if (FFormat != fmLines) {
      Record(Query, b ? "ok" : "not_found", IPToStr(ip), b, {});
      return b != nullptr;
    }
    // Room for the fixed fields; the texts of any length are put with Put.
    Reserve(Query.size() + 64);
    Put(Query);
    *FEnd++ = '\t';
    FEnd = FormatIP(ip, FEnd);
    if (!b) {
      Put("\t-\n");
      return false;
    }
    *FEnd++ = '\t';
    PutBlock(*b);
    PutRest(*b);
    return true;
  }

  void Flush() {
    FIO.WriteOut(FBuf.get(), static_cast<size_t>(FEnd - FBuf.get()));
    FEnd = FBuf.get();
  }

 private:
  // Small enough to come from the heap, not a mapping of its own.
  static constexpr size_t kFlushAt = 1 << 16;
  static constexpr size_t kBufSize = kFlushAt + 4096;

  // An IPv6 address's answer.
  bool Answer6(std::string_view Query, TIPv6Address Address) {
    const TIPv6Block* b = Find(Address);
    if (FFormat != fmLines) {
      Record(Query, b ? "ok" : "not_found", IPv6ToStr(Address), b, {});
      return b != nullptr;
    }
    Put(Query);
    Put("\t");
    Put(IPv6ToStr(Address));
    if (!b) {
      Put("\t-\n");
      return false;
    }
    Put("\t");
    Put(b->AsText(FNotation));
    PutRest(*b);
    return true;
  }
  // The fields of a line after the block: country, its name, registry, date.
  template <typename TBlock>
  void PutRest(const TBlock& B) {
    Reserve(8);
    *FEnd++ = '\t';
    *FEnd++ = static_cast<char>(B.CountryCode >> 8);
    *FEnd++ = static_cast<char>(B.CountryCode & 255);
    *FEnd++ = '\t';
    Put(CountryName(B.Country));
    Put("\t");
    Put(B.Center->Name);
    Reserve(16);
    *FEnd++ = '\t';
    FEnd = std::to_chars(FEnd, FEnd + 12, B.Date).ptr;
    *FEnd++ = '\n';
  }

  // Makes room for N more bytes, flushing a buffer that is full enough.
  void Reserve(size_t N) {
    if (static_cast<size_t>(FEnd - FBuf.get()) + N > kFlushAt) Flush();
  }
  void Put(std::string_view Text) {
    if (Text.size() > kBufSize / 2) {
      Flush();
      FIO.WriteOut(Text.data(), Text.size());
      return;
    }
    Reserve(Text.size());
    std::memcpy(FEnd, Text.data(), Text.size());
    FEnd += Text.size();
  }
  void PutBlock(const TIPv4Block& B) {
    if (FNotation == nmCIDR || FNotation == nmMask) return Put(B.AsText(FNotation));
    Reserve(40);
    FEnd = FormatIP(B.StartIP, FEnd);
    std::memcpy(FEnd, " - ", 3);
    FEnd = FormatIP(B.StartIP + B.Count - 1, FEnd + 3);
  }
  // A query that gave no address.
  bool Failed(std::string_view Query, std::string_view Message) {
    if (FFormat != fmLines) {
      Record(Query, "error", {}, static_cast<const TIPv4Block*>(nullptr), Message);
      return false;
    }
    Put(Query);
    Put("\terror\t");
    Put(Message);
    Put("\n");
    return false;
  }
  // The block in the notation asked for.
  std::string BlockText(const TIPv4Block& B) const {
    return FNotation == nmCIDR || FNotation == nmMask
               ? B.AsText(FNotation)
               : IPToStr(B.StartIP) + " - " + IPToStr(B.StartIP + B.Count - 1);
  }
  std::string BlockText(const TIPv6Block& B) const { return B.AsText(FNotation); }
  // One answer with the chosen fields; a field that does not apply is
  // empty, or null in JSON.
  template <typename TBlock>
  void Record(std::string_view Query, std::string_view Status, std::string_view Address,
              const TBlock* B, std::string_view Message) {
    const bool located = B != nullptr, addressed = Status == "ok" || Status == "not_found";
    FRecordText.clear();
    if (FFormat == fmJson) FRecordText += '{';
    for (size_t i = 0; i < FFields.size(); ++i) {
      if (i) FRecordText += FFormat == fmTsv ? '\t' : ',';
      const TField f = FFields[i];
      if (FFormat == fmJson) (FRecordText += '"').append(kFieldNames[f]) += "\":";
      FValue.clear();
      bool applies = true;
      switch (f) {
        case fdQuery:
          FValue = Query;
          break;
        case fdStatus:
          FValue = Status;
          break;
        case fdAddress:
          applies = addressed;
          if (applies) FValue = Address;
          break;
        case fdBlock:
          applies = located;
          if (applies) FValue = BlockText(*B);
          break;
        case fdCountry:
          applies = located;
          if (applies) FValue = CodeToStr(B->CountryCode);
          break;
        case fdCountryName:
          applies = located;
          if (applies) FValue = CountryName(B->Country);
          break;
        case fdRegistry:
          applies = located;
          if (applies) FValue = B->Center->Name;
          break;
        case fdDate:
          applies = located && B->Date != 0;
          if (applies) FValue = std::to_string(B->Date);
          break;
        case fdMessage:
          applies = !Message.empty();
          FValue = Message;
          break;
        case fdCount:
          break;
      }
      AppendValue(applies);
    }
    FRecordText += FFormat == fmJson ? "}\n" : FFormat == fmCsv ? "\r\n" : "\n";
    Put(FRecordText);
  }
  // FValue in the format's quoting.
  void AppendValue(bool Applies) {
    if (FFormat == fmJson) {
      if (!Applies) {
        FRecordText += "null";
        return;
      }
      FRecordText += '"';
      for (size_t i = 0; i < FValue.size();) {
        const auto u = static_cast<unsigned char>(FValue[i]);
        if (u >= 0x80) {
          // JSON is UTF-8: a byte that starts no valid sequence (a query
          // in another encoding) stands as U+FFFD.
          const size_t n = Utf8SequenceLength(std::string_view(FValue).substr(i));
          if (n) {
            FRecordText.append(FValue, i, n);
            i += n;
          } else {
            FRecordText += "\xEF\xBF\xBD";
            ++i;
          }
          continue;
        }
        if (u == '"' || u == '\\') {
          (FRecordText += '\\') += static_cast<char>(u);
        } else if (u < 0x20 || u == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", u);
          FRecordText += esc;
        } else {
          FRecordText += static_cast<char>(u);
        }
        ++i;
      }
      FRecordText += '"';
    } else if (FFormat == fmCsv) {
      // RFC 4180: a field with a comma, a quote or a line end is quoted,
      // its quotes doubled.
      if (FValue.find_first_of(",\"\r\n") == std::string::npos) {
        FRecordText += FValue;
        return;
      }
      FRecordText += '"';
      for (const char c : FValue) FRecordText.append(c == '"' ? 2 : 1, c);
      FRecordText += '"';
    } else {
      // Tab-separated values hold no tab or line end.
      for (const char c : FValue) FRecordText += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
    }
  }
  const TIPv4Block* Find(uint32_t IP) {
    if (FMapped) return FMapped->Find(IP, FFound) ? &FFound : nullptr;
    const int i = FDb->FindBlock(IP);
    return i < 0 ? nullptr : &FDb->Blocks[static_cast<size_t>(i)];
  }
  const TIPv6Block* Find(TIPv6Address IP) {
    if (FMapped) return FMapped->Find(IP, FFound6) ? &FFound6 : nullptr;
    const int i = FDb->IPv6.Find(IP);
    return i < 0 ? nullptr : &FDb->IPv6.Blocks[static_cast<size_t>(i)];
  }
  // The name as UTF-8, from a small cache keyed by the country's code.
  const std::string& CountryName(const TIPv4Country* C) {
    if (!FNames) FNames = std::make_unique<TName[]>(kNameSlots);  // not for a run without answers
    TName& slot = FNames[(C->Code * 31u + (C->Code >> 8)) % kNameSlots];
    if (slot.Country != C) {
      slot.Country = C;
      slot.Utf8 = Latin1ToUtf8(C->Name);
    }
    return slot.Utf8;
  }

  struct TName {
    const TIPv4Country* Country = nullptr;
    std::string Utf8;
  };
  const TMappedDatabase* FMapped;
  const TIPv4Database* FDb;
  bool FPreferIPv6;
  TIPv4Block FFound;  // the last block found in the mapping
  TIPv6Block FFound6;
  TNotation FNotation;
  TFormat FFormat;
  std::vector<TField> FFields;
  TLookupIO& FIO;
  std::unique_ptr<char[]> FBuf;
  char* FEnd = FBuf.get();
  std::string FRecordText, FValue;
  static constexpr size_t kNameSlots = 512;
  std::unique_ptr<TName[]> FNames;
};

// Reads standard input a line at a time, in large pieces. At most Max
// bytes of a line are kept and Cut tells whether there were more: the rest
// is read past in bounded memory, so a line without an end cannot fill
// memory.
class TLineReader {
 public:
  TLineReader(TLookupIO& IO, size_t Max) : FIO(IO), FMax(Max) {}

  // The next line without its LF and the blanks around it; false at the
  // end of the input. The text lasts until the next call.
  bool Next(std::string_view& Line, bool& Cut) {
    Cut = false;
    if (FPos == FEnd && !Fill()) return false;
    const char* start = FBuf + FPos;
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', FEnd - FPos));
    if (lf && static_cast<size_t>(lf - start) <= FMax) {
      // The usual case: the whole line lies in the buffer.
      FPos += static_cast<size_t>(lf - start) + 1;
      Line = Trim(std::string_view(start, static_cast<size_t>(lf - start)));
      return true;
    }
    // A line across the buffer's end, or a long one: gathered, bounded.
    FLong.clear();
    for (;;) {
      if (FPos == FEnd && !Fill()) break;
      start = FBuf + FPos;
      lf = static_cast<const char*>(std::memchr(start, '\n', FEnd - FPos));
      const size_t n = lf ? static_cast<size_t>(lf - start) : FEnd - FPos;
      const size_t keep = std::min(n, FMax - FLong.size());
      FLong.append(start, keep);
      Cut |= keep < n;
      FPos += n + (lf ? 1 : 0);
      if (lf) break;
    }
    // A cut line is too long whatever its blanks: it keeps all Max bytes.
    Line = Cut ? std::string_view(FLong) : Trim(FLong);
    return true;
  }

 private:
  static std::string_view Trim(std::string_view Text) {
    size_t b = 0, e = Text.size();
    while (b < e && static_cast<unsigned char>(Text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(Text[e - 1]) <= ' ') --e;
    return Text.substr(b, e - b);
  }
  bool Fill() {
    FPos = 0;
    FEnd = FIO.Read(FBuf, sizeof FBuf);
    return FEnd > 0;
  }

  TLookupIO& FIO;
  size_t FMax;
  char FBuf[1 << 16];
  size_t FPos = 0, FEnd = 0;
  std::string FLong;
};

// The program's input and output over streams.
class TStreamIO : public TLookupIO {
 public:
  TStreamIO(std::istream& In, std::ostream& Out, std::ostream& Err)
      : FIn(In), FOut(Out), FErr(Err) {}
  size_t Read(char* Buffer, size_t Size) override {
    return static_cast<size_t>(std::max<std::streamsize>(
        FIn.rdbuf()->sgetn(Buffer, static_cast<std::streamsize>(Size)), 0));
  }
  void WriteOut(const char* Data, size_t Size) override {
    FOut.write(Data, static_cast<std::streamsize>(Size));
  }
  std::ostream& Out() override { return FOut; }
  std::ostream& Err() override { return FErr; }

 private:
  std::istream& FIn;
  std::ostream& FOut;
  std::ostream& FErr;
};

}  // namespace

int LookupMain(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out,
               std::ostream& Err) {
  TStreamIO io(In, Out, Err);
  return LookupMain(Args, io);
}

int LookupMain(const std::vector<std::string>& Args, TLookupIO& IO) {
  std::string dbPath;
  bool dbGiven = false;    // else the first database of the search path
  int notation = nmRange;  // TArgReader::Choose stores an int
  int format = -1;         // none given
  int listNames = -1;
  bool fromStdin = false, info = false, aggregate = false, header = false, preferIPv6 = false;
  int family = -1;  // none given: IPv4 lists
  std::string setName, fields;
  std::vector<std::string> countries, registries, queries;
  TArgReader args(Args, "kesl-lookup", [&IO]() -> std::ostream& { return IO.Err(); });
  enum { kTsv, kCsv, kJson, kIpset, kNft };
  while (args.Next()) {
    const std::string& a = args.Arg();
    if (args.IsOperand()) {
      // "-" is standard input, as with other tools.
      if (a == "-") {
        fromStdin = true;
      } else {
        queries.push_back(a);
      }
    } else if (a == "--help" || a == "-h") {
      IO.Out() << kUsage;
      return 0;
    } else if (a == "--version") {
      IO.Out() << "kesl-lookup " << kProgramVersion << "\n";
      return 0;
    } else if (a == "--db") {
      if (!args.Value(dbPath)) return args.Usage("--db needs a file name");
      dbGiven = true;
    } else if (a == "--notation") {
      const int rc =
          args.Choose({{"range", nmRange}, {"cidr", nmCIDR}, {"mask", nmMask}}, notation);
      if (rc) return rc;
    } else if (a == "--format") {
      const int rc = args.Choose(
          {{"tsv", kTsv}, {"csv", kCsv}, {"json", kJson}, {"ipset", kIpset}, {"nft", kNft}},
          format);
      if (rc) return rc;
    } else if (a == "--fields") {
      if (!args.Value(fields)) return args.Usage("--fields needs field names");
    } else if (a == "--header") {
      header = true;
    } else if (a == "--set-name") {
      if (!args.Value(setName)) return args.Usage("--set-name needs a name");
    } else if (a == "-6") {
      preferIPv6 = true;
    } else if (a == "--family") {
      const int rc = args.Choose({{"4", 4}, {"6", 6}, {"all", 0}}, family);
      if (rc) return rc;
    } else if (a == "--stdin") {
      fromStdin = true;
    } else if (a == "--info") {
      info = true;
    } else if (a == "--country" || a == "--registry") {
      std::string list;
      auto& to = a == "--country" ? countries : registries;
      if (!args.Value(list)) return args.Usage(a + " needs a list");
      for (std::string_view item : SplitText(list, ',')) {
        if (!item.empty()) to.emplace_back(item);
      }
      if (to.empty()) return args.Usage(a + " needs a list");
    } else if (a == "--aggregate") {
      aggregate = true;
    } else if (a == "--list") {
      const int rc = args.Choose({{"countries", 0}, {"registries", 1}}, listNames);
      if (rc) return rc;
    } else {
      return args.Usage("unknown option '" + a + "'");
    }
  }
  if (!args.Error().empty()) return args.Usage(args.Error());
  const bool lists = !countries.empty() || !registries.empty();
  const int modes = fromStdin + info + lists + !queries.empty() + (listNames >= 0);
  if (modes == 0) return args.Usage("nothing to look up");
  if (modes > 1) {
    return args.Usage(
        "give queries, --stdin, --country or --registry, --info or --list, one of them");
  }
  for (const std::string& c : countries) {
    if (c.size() != 2) return args.Usage("'" + c + "' is not a two-letter country code");
  }
  const bool firewall = format == kIpset || format == kNft;
  if (lists && format >= 0 && !firewall) {
    return args.Usage("lists are written as lines, or with --format ipset or nft");
  }
  if (!lists && firewall)
    return args.Usage("--format ipset and nft write --country and --registry lists");
  if (firewall && !ValidSetName(setName)) {
    return args.Usage(setName.empty() ? "--format ipset and nft need --set-name NAME"
                                      : "'" + setName +
                                            "' is no set name: a letter or '_', then letters, "
                                            "digits or '_', 31 at most");
  }
  if (!firewall && !setName.empty())
    return args.Usage("--set-name goes with --format ipset or nft");
  if (aggregate && !lists) return args.Usage("--aggregate merges --country and --registry lists");
  if (family >= 0 && !lists) return args.Usage("--family goes with --country and --registry");
  if (family == 0 && firewall) {
    return args.Usage("a set holds one family: give --family 4 or 6 with --format ipset or nft");
  }
  if (preferIPv6 && (lists || info || listNames >= 0)) return args.Usage("-6 goes with lookups");
  if ((header || !fields.empty()) && (lists || info || listNames >= 0)) {
    return args.Usage("--header and --fields go with lookups");
  }
  if (header && format == kJson) return args.Usage("--header goes with --format tsv or csv");

  // Lookups: today's lines unless a format or fields are asked for.
  TFormat answerFormat = format == kCsv ? fmCsv : format == kJson ? fmJson : fmLines;
  std::vector<TField> chosen;
  if (!fields.empty()) {
    for (std::string_view name : SplitText(fields, ',')) {
      const auto* f = std::find(std::begin(kFieldNames), std::end(kFieldNames), name);
      if (f == std::end(kFieldNames)) {
        std::string all;
        for (std::string_view n : kFieldNames) (all += all.empty() ? "" : ", ") += n;
        return args.Usage("unknown field '" + std::string(name) + "': use " + all);
      }
      chosen.push_back(static_cast<TField>(f - std::begin(kFieldNames)));
    }
    if (answerFormat == fmLines) answerFormat = fmTsv;
  } else {
    for (int f = 0; f < fdCount; ++f) chosen.push_back(static_cast<TField>(f));
  }

  if (!dbGiven) dbPath = FindDatabase();
  // Queries need no more than the blocks that hold them: a file that can be
  // searched where it lies is not loaded at all.
  const bool whole = info || lists || listNames >= 0;
  const auto mapped = whole ? nullptr : TMappedDatabase::Open(dbPath);
  std::unique_ptr<TIPv4Database> loaded;
  auto load = [&] {
    loaded = std::make_unique<TIPv4Database>();
    if (LoadDatabase(*loaded, dbPath, IO.Err())) return true;
    loaded.reset();
    return false;
  };
  if (!mapped && !load()) return 3;

  if (info) {
    PrintDatabaseInfo(*loaded, dbPath, IO.Out());
    return 0;
  }
  if (listNames == 0) {
    for (int i = 0; i < loaded->CountryCount(); ++i) {
      const TIPv4Country* c = loaded->CountryAt(i);
      IO.Out() << CodeToStr(c->Code) << "\t" << Latin1ToUtf8(c->Name) << "\n";
    }
    return 0;
  }
  if (listNames == 1) {
    for (int i = 0; i < loaded->CenterCount(); ++i) IO.Out() << loaded->CenterAt(i)->Name << "\n";
    return 0;
  }
  if (lists) {
    std::vector<uint16_t> codes, ids;
    for (const std::string& c : countries) {
      uint16_t code = 0;
      ParseCountryCode(c, code);
      if (loaded->FindCountry(code) < 0) {
        IO.Err() << "kesl-lookup: Unknown country code: " << CodeToStr(code) << "\n";
        return 2;
      }
      codes.push_back(code);
    }
    for (const std::string& r : registries) {
      const TRegistryInfo* known = RegistryByName(r);
      if (!known) known = RegistryByToken(r);
      int found = -1;
      for (int i = 0; i < loaded->CenterCount() && found < 0; ++i) {
        const TIPv4Center* c = loaded->CenterAt(i);
        if (known ? c->ID == known->ID : SameAsciiText(c->Name, r)) found = i;
      }
      if (found < 0) {
        IO.Err() << "kesl-lookup: Unknown registry: " << r << "\n";
        return 2;
      }
      ids.push_back(loaded->CenterAt(found)->ID);
    }
    std::vector<const TIPv4Block*> blocks;
    std::vector<const TIPv6Block*> blocks6;
    if (family != 6) blocks = SelectBlocks(*loaded, codes, ids);
    if (family == 6 || family == 0) blocks6 = SelectBlocks6(*loaded, codes, ids);
    std::vector<TIPv4Block> merged;
    std::vector<TIPv6Block> merged6;
    if (aggregate) {
      merged = AggregateBlocks(blocks);
      blocks.clear();
      for (const TIPv4Block& b : merged) blocks.push_back(&b);
      merged6 = AggregateBlocks6(blocks6);
      blocks6.clear();
      for (const TIPv6Block& b : merged6) blocks6.push_back(&b);
    }
    const std::string text = ListText(blocks, blocks6, static_cast<TNotation>(notation),
                                      format == kIpset ? lfIpset
                                      : format == kNft ? lfNft
                                                       : lfLines,
                                      setName);
    IO.WriteOut(text.data(), text.size());
    return 0;
  }

  bool all = true;
  TAnswerWriter writer(mapped.get(), loaded.get(), static_cast<TNotation>(notation), answerFormat,
                       std::move(chosen), preferIPv6, IO);
  if (header) writer.Header();
  if (fromStdin) {
    std::string_view line;
    bool cut = false;
    uint64_t lines = 0;
    auto reader = std::make_unique<TLineReader>(IO, kMaxLine);
    while (reader->Next(line, cut)) {
      // A long stream is answered faster with the mapping's index.
      if (mapped && ++lines == kIndexAfterQueries) mapped->BuildIndex();
      if (!line.empty()) all &= writer.Answer(line);
    }
  } else {
    for (const std::string& q : queries) all &= writer.Answer(q);
  }
  writer.Flush();
  return all ? 0 : 1;
}
