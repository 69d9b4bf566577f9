// The update from the registries: downloads each regional registry's
// delegation statistics, checks them against the registry's MD5 files, and
// compiles them into a new database, which replaces the old one only whole
// and only when the data changed. kesl-mkdb --update and the window share it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbbuild/isocodes.h"

struct TUpdateOptions {
  // Where the files are: "" for the registries' own addresses, else a base
  // address (https, http or file) under which each file's name is fetched.
  std::string Base;
  // The database to replace; its folders are made when missing. The update
  // holds a lock on Output + ".lock" for its whole run: a second update of
  // the same file waits for it, or with NoWait fails at once.
  std::string Output;
  bool NoWait = false;
  // Seconds between the tries of a file whose checksum does not match (it
  // is fetched three times in all before the update fails).
  int RetryWait = 60;
  // Replace a database built from the registries even when the new data
  // delegates far fewer IPv4 addresses (more than 10% fewer in all, or 25%
  // fewer for one registry), or when blocks of two registries share more
  // than 1% of the IPv4 space: without it such data fails the update.
  bool Force = false;
  // Names of countries that the built-in table lacks (XK, "Kosovo"), as
  // kesl-mkdb takes them; codes stand in when the file cannot be read.
  std::string IsoCodes = kIsoCodesFile;
  // Told each registry as its download starts (Received 0) and as bytes
  // arrive; returning false aborts the update.
  std::function<bool(const std::string& Registry, uint64_t Received, uint64_t Total)> Progress;
};

enum TUpdateStatus {
  usWritten,  // a new database is in place
  usCurrent,  // the data is the same as the database's: nothing written
  usFailed,   // nothing written; Message says why
  usAborted,  // stopped by Progress; nothing written
};

struct TUpdateResult {
  TUpdateStatus Status = usFailed;
  std::string Message;                // for usFailed: the registry and the cause
  std::vector<std::string> Overlaps;  // blocks that two files both list
  uint64_t Blocks = 0;
  uint64_t Blocks6 = 0;  // IPv6 blocks
  uint64_t FileSize = 0;
  std::string Date;  // yyyymmdd of the registry data
};

// The registries that publish delegation statistics, by name.
std::vector<std::string> UpdateRegistryNames();

// The checksum in the text of an MD5 file ("MD5 (name) = hex", "hex  name"
// or "hex"), in lower case; "" when there is none.
std::string ParseMd5File(const std::string& Text);

TUpdateResult RunUpdate(const TUpdateOptions& Options);
