// kesl-mkdb: compiles address data into a database file.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs the program with Args (without the program name); returns the exit
// status: 0 done, 1 bad input, 2 usage, 3 --check found the file unloadable.
// Progress, when given, receives a line count while inputs are read.
int MkdbMain(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
             std::ostream* Progress = nullptr);
