// Putting a new database file in place, for kesl-mkdb and the update alike:
// written beside the old one, loaded back with the program's own loader, and
// only then renamed over it.
#pragma once

#include <string>
#include <string_view>

// Writes Data to Path, all or nothing. Returns "" when Path holds Data now;
// else why not, with Path as it was: the system's reason, or, when the
// written file did not load, a text that says so, and the loader's message
// in LoadError (when given).
std::string WriteDatabase(const std::string& Path, std::string_view Data,
                          std::string* LoadError = nullptr);
