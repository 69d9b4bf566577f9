// Walks the words of a command line for the command-line programs.
#pragma once

#include <ostream>
#include <string>
#include <vector>

class TArgReader {
 public:
  TArgReader(const std::vector<std::string>& Args, std::string Program, std::ostream& Err)
      : FArgs(Args), FProgram(std::move(Program)), FErr(Err) {}

  // Moves to the next word; false when there is none.
  bool Next() { return ++FIndex < FArgs.size(); }
  const std::string& Arg() const { return FArgs[FIndex]; }
  // Takes the following word as the current option's value; false if none.
  bool Value(std::string& To) {
    if (FIndex + 1 >= FArgs.size()) return false;
    To = FArgs[++FIndex];
    return true;
  }
  // Says what is wrong and returns the usage exit status, 2.
  int Usage(const std::string& Why) const {
    FErr << FProgram << ": " << Why << "\nTry '" << FProgram << " --help'.\n";
    return 2;
  }

 private:
  const std::vector<std::string>& FArgs;
  std::string FProgram;
  std::ostream& FErr;
  size_t FIndex = static_cast<size_t>(-1);
};
