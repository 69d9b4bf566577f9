// Kesl's database in the forms that other programs read: a MaxMind DB file
// (dbbuild/mmdb.h), the body of an nginx geo block, an HAProxy map_ip file,
// and CSV. Each covers both families, one entry per aligned prefix of each
// block (a MaxMind DB file holds its tree of them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipdb/provenance.h"

class TIPv4Database;

enum TExportFormat { efMmdb, efNginx, efHaproxy, efCsv };

// The export of Db in Format, whole. EKeslError for a database that cannot
// be written in it (a country code that is not two letters, digits or '-',
// which would break the lines of nginx and HAProxy).
std::string ExportDatabase(const TIPv4Database& Db, TExportFormat Format);

// Whether the countries of data from these sources are where its addresses
// are registered: true for the registries' own delegation files, false for
// range files that place addresses (tor's geoip) or no sources at all.
bool CountriesAreRegistered(const std::vector<TSource>& Sources);
// The database's date as seconds since 1970, 0 for none.
uint64_t DatabaseEpoch(const TIPv4Database& Db);
// One line that names the data's sources and licence.
std::string ExportDescription(const TIPv4Database& Db);
// A block date (yyyymmdd) as yyyy-mm-dd.
std::string DateText(uint32_t Date);
