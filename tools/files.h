// Whole files: reading one, replacing one without ever leaving it half
// written, finding the program's own folder, and finding the database.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The whole file; EFOpenError or EReadError naming the file and the system's
// reason. A file larger than MaxSize raises EReadError before it is read.
std::string ReadWholeFile(const std::string& Path, size_t MaxSize);

// Writes Data to Path through a file beside it ("PATH.tmp"), flushed to
// disk, which Check (when given) may read and refuse before it is renamed
// over Path. On any failure the temporary file is removed, Path is left as
// it was, and the returned text says why; "" means Path holds Data now.
std::string ReplaceFile(const std::string& Path, std::string_view Data,
                        const std::function<bool(const std::string& Temp)>& Check = {});

// The folder of the running executable, ending in '/'.
std::string ExecutableDir();

// Creates the folders above Path that are missing; "" or why it failed.
std::string MakeParentDirs(const std::string& Path);

// The user's own database, which the update writes:
// $XDG_DATA_HOME/kesl/country.ip4, else ~/.local/share/kesl/country.ip4;
// "" when neither XDG_DATA_HOME nor HOME is set.
std::string UserDatabasePath();

// Where the programs look for the database, in order: $KESL_DB, the user's
// database, country.ip4 beside the executable, the installed default
// (share/kesl/country.ip4 beside the bin folder the executable is in).
// Unset or empty places are left out.
std::vector<std::string> DatabaseSearchPath();
// The first of them that exists; when none does, the one beside the
// executable, so that the error names it.
std::string FindDatabase();
