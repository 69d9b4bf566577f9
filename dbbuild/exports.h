// Kesl's database in the forms that other programs read: a MaxMind DB file
// (dbbuild/mmdb.h), the body of an nginx geo block, an HAProxy map_ip file,
// CSV of prefixes, and CSV of ranges for SQL engines. Each covers both
// families; all but the ranges hold one entry per aligned prefix of each
// block (a MaxMind DB file holds its tree of them).
#pragma once

#include <string>

class TIPv4Database;

enum TExportFormat { efMmdb, efNginx, efHaproxy, efCsv, efRanges };

// The columns of the ranges export: one row per block, sorted by first_key,
// the block's first address as 32 lowercase hex digits of its IPv6 form
// (an IPv4 address as ::ffff:a.b.c.d), so that "key BETWEEN first_key AND
// last_key" joins both families in any SQL engine.
// The columns after the date are what the registries' extended files and
// IANA's special-purpose table say (empty when unknown): allocation,
// holder, the holder's AS numbers comma-joined, special.
constexpr char kRangesHeader[] =
    "family,first,last,first_key,last_key,country,country_name,registry,date,allocation,holder,"
    "asns,special\r\n";
constexpr char kCsvHeader[] =
    "network,country,country_name,registry,date,allocation,holder,asns,special\r\n";

// The export of Db in Format, whole. EKeslError for a database that cannot
// be written in it (a country code that is not two letters, digits or '-',
// which would break the lines of nginx and HAProxy).
// Family 4 or 6 writes that family's rows only (not for efMmdb), 0 both.
std::string ExportDatabase(const TIPv4Database& Db, TExportFormat Format, int Family = 0);
