// Walks the words of a command line for the command-line programs.
#pragma once

#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TArgReader {
 public:
  // Err gives the stream for usage errors when one is to be told.
  TArgReader(const std::vector<std::string>& Args, std::string Program,
             std::function<std::ostream&()> Err)
      : FArgs(Args), FProgram(std::move(Program)), FErr(std::move(Err)) {}
  TArgReader(const std::vector<std::string>& Args, std::string Program, std::ostream& Err)
      : TArgReader(Args, std::move(Program), [&Err]() -> std::ostream& { return Err; }) {}

  // Moves to the next word; false when there is none.
  bool Next() { return ++FIndex < FArgs.size(); }
  const std::string& Arg() const { return FArgs[FIndex]; }
  // Takes the following word as the current option's value; false if none.
  bool Value(std::string& To) {
    if (FIndex + 1 >= FArgs.size()) return false;
    To = FArgs[++FIndex];
    return true;
  }
  // Takes the following word as one of the named Options and stores its
  // value in To. Returns 0, or the usage exit status after saying what is
  // wrong ("--notation needs range, cidr or mask").
  int Choose(std::initializer_list<std::pair<std::string_view, int>> Options, int& To) {
    const std::string option = Arg();
    std::string names, word;
    for (const auto& o : Options) names += (names.empty() ? "" : ", ") + std::string(o.first);
    const size_t last = names.rfind(", ");
    if (last != std::string::npos) names.replace(last, 2, " or ");
    if (!Value(word)) return Usage(option + " needs " + names);
    for (const auto& o : Options) {
      if (o.first == word) {
        To = o.second;
        return 0;
      }
    }
    return Usage("unknown " + option + " value '" + word + "': use " + names);
  }
  // Says what is wrong and returns the usage exit status, 2.
  int Usage(const std::string& Why) const {
    FErr() << FProgram << ": " << Why << "\nTry '" << FProgram << " --help'.\n";
    return 2;
  }

 private:
  const std::vector<std::string>& FArgs;
  std::string FProgram;
  std::function<std::ostream&()> FErr;
  size_t FIndex = static_cast<size_t>(-1);
};
