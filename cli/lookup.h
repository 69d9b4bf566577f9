// kesl-lookup: answers from country.ip4 on the command line.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

// The program's input and output. Answers go out through WriteOut in large
// pieces; Out and Err serve the rest (help, --info, messages) and may be
// made on first use, so that a run that needs no stream makes none.
class TLookupIO {
 public:
  virtual ~TLookupIO() = default;
  // Up to Size bytes of standard input; 0 at its end.
  virtual size_t Read(char* Buffer, size_t Size) = 0;
  virtual void WriteOut(const char* Data, size_t Size) = 0;
  virtual std::ostream& Out() = 0;
  virtual std::ostream& Err() = 0;
};

// Runs the program with Args (without the program name); returns the exit
// status: 0 all located, 1 some not located or not resolved, 2 usage,
// 3 the database did not load.
int LookupMain(const std::vector<std::string>& Args, TLookupIO& IO);
// The same over streams.
int LookupMain(const std::vector<std::string>& Args, std::istream& In, std::ostream& Out,
               std::ostream& Err);
