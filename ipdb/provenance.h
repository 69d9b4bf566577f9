// Where a database's data came from: one entry per source file, kept in
// the trailer of a binary body (see docs/country-ip4-format.md).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TSource {
  std::string Name;     // the file's name, without its folder
  uint32_t Date = 0;    // yyyymmdd of its data, 0 when not known
  std::string Md5;      // of the file as read, 32 lower-case hex digits, or ""
  std::string Licence;  // the data's licence and attribution, or ""
};

// UTF-8 lines "name TAB date TAB md5 TAB licence"; tabs and line ends inside
// a field become spaces.
std::string EncodeSources(const std::vector<TSource>& Sources);
// The lines EncodeSources writes; a line with fewer fields leaves the rest
// empty, and a date that is not a number counts as unknown.
std::vector<TSource> DecodeSources(std::string_view Text);
// One line for people: "name, 2026-06-26, CC BY-SA 4.0 ...".
std::string SourceText(const TSource& Source);
