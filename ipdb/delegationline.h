// The line of the registries' delegation statistics files, described once
// for both of its readers: the text body of a database (ipdb/textbody.*)
// and kesl-mkdb's input reader (dbbuild/readers.*). Each takes lines by its
// own rules; where each field stands, what separates them and what the
// record types are called is said here only.
//
//   record:  registry|cc|type|start|value|date|status[|opaque-id[|...]]
//   version: version|registry|serial|records|startdate|enddate|UTCoffset
//   summary: registry|*|type|*|count|summary
#pragma once

#include <cstddef>
#include <string_view>

#include "tools/text.h"

constexpr char kDelegationSeparator = '|';

// The fields of a record line, counted from 0.
enum TDelegationField : int {
  dfRegistry,
  dfCountry,
  dfType,
  dfStart,
  dfValue,  // an IPv4 record's address count, an IPv6 record's prefix length
  dfDate,   // yyyymmdd
  dfStatus,
  dfOpaqueId,  // extended files: the same for every record of one holder
  kDelegationFields
};
// The fields of a version line that the readers use.
enum TVersionField : int { dvVersion = 0, dvRegistry = 1, dvSerial = 2, dvEndDate = 5 };
// The fields of a summary line.
enum TSummaryField : int { dsType = 2, dsCount = 4, dsSummary = 5 };

// Record types and the summary's mark, their letters in any case.
constexpr std::string_view kIPv4Type = "ipv4", kIPv6Type = "ipv6", kASNType = "asn",
                           kSummaryMark = "summary";
inline bool IsRecordType(std::string_view Field, std::string_view Type) {
  return SameAsciiText(Field, Type);
}

// A line cut into its fields, in place in the line's text.
struct TDelegationLine {
  // The first kDelegationFields fields; a field past Count is empty.
  std::string_view Field[kDelegationFields];
  // How many fields the line has, also past the ones kept.
  size_t Count = 0;
  std::string_view operator[](int F) const { return Field[F]; }
};

// Every field of Line, empty ones included, between separators.
inline TDelegationLine SplitDelegationLine(std::string_view Line) {
  TDelegationLine l;
  for (size_t from = 0;; ++l.Count) {
    const size_t bar = Line.find(kDelegationSeparator, from);
    if (l.Count < kDelegationFields) l.Field[l.Count] = Line.substr(from, bar - from);
    if (bar == std::string_view::npos) break;
    from = bar + 1;
  }
  ++l.Count;
  return l;
}
