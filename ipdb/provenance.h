// Where a database's data came from: one entry per source file, kept in
// the trailer of a binary body (see docs/country-ip4-format.md).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a source's countries are: where an address is registered (the
// registries' delegation files) or where it is located (geolocation range
// files such as tor's geoip). ckMixed only describes a database whose
// sources are of both kinds.
enum TCountryKind { ckUnknown, ckRegistered, ckLocated, ckMixed };

struct TSource {
  std::string Name;     // the file's name, without its folder
  uint32_t Date = 0;    // yyyymmdd of its data, 0 when not known
  std::string Md5;      // of the file as read, 32 lower-case hex digits, or ""
  std::string Licence;  // the data's licence and attribution, or ""
  TCountryKind Kind = ckUnknown;
};

// UTF-8 lines "name TAB date TAB md5 TAB licence"; tabs and line ends inside
// a field become spaces.
std::string EncodeSources(const std::vector<TSource>& Sources);
// The lines EncodeSources writes; a line with fewer fields leaves the rest
// empty, and a date that is not a number counts as unknown.
std::vector<TSource> DecodeSources(std::string_view Text);
// The sources' kinds, a line each in the order of EncodeSources:
// "registered", "located" or empty. Files written before kinds were kept
// have none; the kind of each source is then told by its name.
std::string EncodeCountryKinds(const std::vector<TSource>& Sources);
void DecodeCountryKinds(std::string_view Text, std::vector<TSource>& Sources);
// The kind a source records, else the one its name tells ("delegated-..."
// files are the registries', tor's "geoip" and "geoip6" are located).
TCountryKind SourceCountryKind(const TSource& Source);
// The kind of a database's answers: its sources' common kind, ckMixed when
// they differ, ckUnknown when one is not known or none is recorded.
TCountryKind DatabaseCountryKind(const std::vector<TSource>& Sources);
// "registered", "located", "mixed" or "unknown".
const char* CountryKindName(TCountryKind Kind);
// A sentence for people: what the countries of such a database are.
const char* CountryKindText(TCountryKind Kind);

// One line for people: "name, 2026-06-26, CC BY-SA 4.0 ...".
std::string SourceText(const TSource& Source);
