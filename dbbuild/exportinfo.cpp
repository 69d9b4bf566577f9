#include "dbbuild/exportinfo.h"

#include <cstdio>

#include "ipdb/database.h"
#include "tools/tools.h"

namespace {

// The day number of 1970-01-01.
constexpr int32_t kUnixDay = 25569;

}  // namespace

bool CountriesAreRegistered(const std::vector<TSource>& Sources) {
  return DatabaseCountryKind(Sources) == ckRegistered;
}

uint64_t DatabaseEpoch(const TIPv4Database& Db) {
  const auto day = static_cast<int64_t>(Db.Created);
  // libmaxminddb refuses a file whose build_epoch is 0: a database of no
  // known date (or one before 1970) is given the first second of 1970.
  return day > kUnixDay ? static_cast<uint64_t>(day - kUnixDay) * 86400 : 1;
}

std::string ExportDescription(const TIPv4Database& Db) {
  std::string text = "Kesl country database of " + DayNumberText(Db.Created);
  if (Db.Sources.empty()) return text + "; its sources are not recorded";
  text += " from";
  for (size_t i = 0; i < Db.Sources.size(); ++i) {
    text += (i ? "; " : " ") + SourceText(Db.Sources[i]);
  }
  return text;
}
