// The loader of database files: the header, the body through its
// decompressing adapter, the binary sections and the trailer, progress.
// Its main entry points are the model's load methods (TIPv4Database::
// LoadFromFile and the body readers, declared in ipdb/database.h as the
// program's API, defined in ipdb/loader.cpp); these are the rest.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

class TIPv4Database;

// Loads FileName into Db; on failure writes the loader's message and a line
// end to Err and returns false.
bool LoadDatabase(TIPv4Database& Db, const std::string& FileName, std::ostream& Err);

// The creation date of a database file (a day number, -1 for an invalid
// one) from its header alone, without loading the file; false when the
// file cannot be read or has no header of a version this program reads.
bool ReadCreated(const std::string& FileName, double& Created);

// Position and size of an open file by its descriptor; -1 on failure.
int64_t FilePos64(int Handle);
int64_t FileSize64(int Handle);
