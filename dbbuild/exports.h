// Kesl's database in the forms that other programs read: a MaxMind DB file
// (dbbuild/mmdb.h), the body of an nginx geo block, an HAProxy map_ip file,
// and CSV. Each covers both families, one entry per aligned prefix of each
// block (a MaxMind DB file holds its tree of them).
#pragma once

#include <string>

class TIPv4Database;

enum TExportFormat { efMmdb, efNginx, efHaproxy, efCsv };

// The export of Db in Format, whole. EKeslError for a database that cannot
// be written in it (a country code that is not two letters, digits or '-',
// which would break the lines of nginx and HAProxy).
std::string ExportDatabase(const TIPv4Database& Db, TExportFormat Format);
