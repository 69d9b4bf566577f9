// kesl-lookup: answers from country.ip4 on the command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/lookupio.h"

// Runs the program with Args (without the program name); returns the exit
// status: 0 all located, 1 some not located or not resolved, 2 usage,
// 3 the database did not load.
int LookupMain(const std::vector<std::string>& Args, TLookupIO& IO);
// The same over streams.
int LookupMain(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out,
               std::ostream& Err);
