// kesl-mkdb: compiles address data into a database file.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs the program with Args (without the program name); returns the exit
// status: 0 done, 1 bad input or failed update, 2 usage, 3 --check found the
// file unloadable, 4 --update found the data current. Progress, when given,
// receives a line count while inputs are read, or the bytes downloaded.
int MkdbMain(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
             std::ostream* Progress = nullptr);
