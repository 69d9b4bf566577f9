// kesl-lookup's command line: its usage text and what its options ask for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/answers.h"
#include "ipdb/blocklists.h"

class TLookupIO;

// What a run of kesl-lookup does: one of these.
enum TLookupMode {
  lmQueries,   // answer the queries given as arguments
  lmStdin,     // answer one query per line of standard input
  lmInfo,      // summarise the database
  lmNames,     // list the database's countries or registries
  lmBlocks,    // list the blocks of countries and registries
  lmAnnotate,  // write texts with the answer after each address in them
  lmHolder,    // list what is registered to the holder of a query
  lmBogons,    // list the space no registry has delegated and the non-global special ranges
};

struct TLookupOptions {
  TLookupMode Mode = lmQueries;
  bool DbGiven = false;  // else the first database of the search path
  std::string DbPath;
  TNotation Notation = nmRange;
  // Answers: their format and fields, the column names first, and the
  // family a host name with both is looked up by.
  TFormat Format = fmLines;
  std::vector<TField> Fields;
  bool Header = false;
  bool PreferIPv6 = false;
  bool NoResolve = false;  // answer numeric addresses only
  // The queries, or with --annotate the files ("-" standard input).
  std::vector<std::string> Queries;
  // --list: the countries (false) or the registries (true), or the
  // special-purpose table.
  bool ListRegistries = false;
  bool ListSpecial = false;
  // --holder: the query whose holder's blocks and AS numbers are listed.
  std::string Holder;
  // Block lists: what is listed, in which form, merged or not.
  std::vector<std::string> Countries, Registries;
  int Family = 4;  // 4, 6, or 0 for both (--holder lists both unless given)
  TListForm ListForm = lfLines;
  std::string SetName;
  bool Aggregate = false;
  bool AllowEmpty = false;  // a firewall set may be written empty
};

// Reads the arguments into Options. Returns -1 when the run goes on, else
// its exit status: 0 after --help or --version (their text written to
// IO.Out()), 2 after a usage error (said on IO.Err()).
int ReadLookupOptions(const std::vector<std::string>& Args, TLookupIO& IO, TLookupOptions& Options);
