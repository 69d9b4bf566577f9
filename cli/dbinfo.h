// The summary of a loaded database that kesl-lookup --info and
// kesl-mkdb --check print.
#pragma once

#include <ostream>
#include <string>

class TIPv4Database;

// FileName is the file it was loaded from.
void PrintDatabaseInfo(TIPv4Database& Db, const std::string& FileName, std::ostream& Out);
