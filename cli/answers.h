// kesl-lookup's answers: the formats they are written in and their fields,
// and the writer that finds each query's block and writes its answer.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "tools/address.h"

class TIPv4Block;
class TIPv6Block;
class TIPv4Database;
class TLookupDatabase;
class TLookupIO;

// How answers are written. fmLines is today's tab-separated line, whose
// fields vary with the outcome; the others write the same chosen fields for
// every answer. fmBrackets is --annotate's: the fields joined by commas in
// brackets after each address found in a text.
enum TFormat { fmLines, fmTsv, fmCsv, fmJson, fmBrackets };

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
  // Whether the country is where the block is registered or where its
  // addresses are located: the database's sources tell.
  fdCountryKind,
  // What the registries' extended files say (ipdb/registrydata.h): the
  // status of the block or free range, its holder and the holder's AS
  // numbers; and IANA's name of the special-purpose range that holds the
  // address (ipdb/special.h).
  fdAllocation,
  fdHolder,
  fdASNs,
  fdSpecial,
  fdCount
};
constexpr std::string_view kFieldNames[fdCount] = {
    "query", "status",  "address",      "block",      "country", "country_name", "registry",
    "date",  "message", "country_kind", "allocation", "holder",  "asns",         "special"};
// The columns of the tab-separated lines, for --header.
constexpr char kLinesHeader[] = "query\taddress\tblock\tcountry\tcountry_name\tregistry\tdate\n";

// How the answers are found and written.
struct TAnswerStyle {
  TNotation Notation = nmRange;
  TFormat Format = fmLines;
  std::vector<TField> Fields;  // for every format but fmLines
  // A host name with addresses of both families is looked up by its IPv6
  // one.
  bool PreferIPv6 = false;
  // Nothing goes to the resolver: a query that is no numeric address is
  // answered "not an address".
  bool NoResolve = false;
};

// Writes answers into one large buffer, flushed in large pieces. A million
// answers are written in a fraction of a second: each field goes straight
// into the buffer, and names are made UTF-8 once.
class TAnswerWriter {
 public:
  // Answers come from Db, in place or loaded whole, which with IO must
  // outlive the writer.
  TAnswerWriter(TLookupDatabase& Db, TAnswerStyle Style, TLookupIO& IO);
  TAnswerWriter(const TAnswerWriter&) = delete;
  TAnswerWriter& operator=(const TAnswerWriter&) = delete;
  // Flushes what is left.
  ~TAnswerWriter();

  // The column names, for tsv and csv.
  void Header();
  // Answers one query, an AS number (AS15169), a numeric address or a host
  // name, which goes to the resolver; returns false when it was not located. A query with a control
  // character, or that cannot be a host name, is answered as an error
  // without the resolver; its control characters are shown as \xHH, as
  // are any in the names the database gives.
  bool Answer(std::string_view Query);
  // Answer in three steps, for a caller that searches the numeric queries
  // of a stream together (cli/query.h reads them): a query that is no
  // numeric address, and a numeric one with its block (nullptr for none).
  bool AnswerHost(std::string_view Query);
  bool AnswerIPv4(std::string_view Query, uint32_t IP, const TIPv4Block* Block);
  // Canonical: Query is IP as the answers write it (ReadNumericQuery says),
  // so it is not written again.
  bool AnswerIPv6(std::string_view Query, TIPv6Address IP, const TIPv6Block* Block,
                  bool Canonical = false);
  void Flush();
  // For --annotate: appends to Out the answer for an address found in a
  // text (Text as it stands there), from its block (nullptr for none):
  // "[US]", the chosen fields joined by commas, or "[-]" for an address in
  // no block, in fmBrackets; a JSON object of the chosen fields in fmJson.
  void AnnotateIPv4(std::string_view Text, uint32_t IP, const TIPv4Block* Block, std::string& Out);
  void AnnotateIPv6(std::string_view Text, TIPv6Address IP, const TIPv6Block* Block,
                    std::string& Out);

 private:
  class TImpl;
  std::unique_ptr<TImpl> FImpl;
};
