// What an export says about the database it comes from: what its countries
// mean, its date, its sources, and dates as people write them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipdb/provenance.h"

class TIPv4Database;

// Whether the countries of data from these sources are where its addresses
// are registered: true for the registries' own delegation files, false for
// range files that place addresses (tor's geoip) or no sources at all.
bool CountriesAreRegistered(const std::vector<TSource>& Sources);
// The database's date as seconds since 1970, 0 for none.
uint64_t DatabaseEpoch(const TIPv4Database& Db);
// One line that names the data's sources and licence.
std::string ExportDescription(const TIPv4Database& Db);
