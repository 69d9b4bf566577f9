// A MaxMind DB file (format version 2.0) of a Kesl database, written from
// the format's published description: a binary search tree over the IPv6
// space with the IPv4 blocks at ::a.b.c.d, a data section in which each
// distinct answer is stored once, and the metadata.
#pragma once

#include <string>

class TIPv4Database;

// The file's bytes. Each block's answer is a map with "country" (iso_code,
// names.en), the same under "registered_country" when the database's
// countries are where its addresses are registered, and "kesl" with
// "registry" and, where known, "date" (yyyy-mm-dd). The same database
// always gives the same bytes: the build time is the database's date.
// EKeslError for a database too large for the format's records.
std::string WriteMmdb(const TIPv4Database& Db);
