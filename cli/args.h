// Walks the words of a command line for the command-line programs, in the
// GNU forms: "--db PATH" or "--db=PATH", and "--" ending the options.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
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

  // Moves to the next word; false when there is none, or when the option
  // before was given "=value" but takes none (Error() then says so).
  bool Next() {
    if (FInline) {
      FError = "option '" + FArg + "' takes no value";
      return false;
    }
    if (++FIndex >= FArgs.size()) return false;
    FArg = FArgs[FIndex];
    FOperand = FOptionsEnded;
    if (!FOptionsEnded && FArg == "--") {
      FOptionsEnded = true;
      return Next();
    }
    const size_t eq = FArg.find('=');
    if (!FOperand && FArg.rfind("--", 0) == 0 && eq != std::string::npos) {
      FInline = FArg.substr(eq + 1);
      FArg.resize(eq);
    }
    return true;
  }
  // The current word; for "--db=PATH" the option "--db".
  const std::string& Arg() const { return FArg; }
  // True for a word that is no option: after "--", or not starting with '-'
  // (a lone "-" is an operand too).
  bool IsOperand() const { return FOperand || FArg.size() < 2 || FArg[0] != '-'; }
  // Takes the current option's value: the text after '=', else the
  // following word; false if there is none.
  bool Value(std::string& To) {
    if (FInline) {
      To = std::move(*FInline);
      FInline.reset();
      return true;
    }
    if (FIndex + 1 >= FArgs.size()) return false;
    To = FArgs[++FIndex];
    return true;
  }
  // What ended the walk early, or "".
  const std::string& Error() const { return FError; }
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
  std::string FArg;
  std::optional<std::string> FInline;  // the value after '=', not yet taken
  bool FOptionsEnded = false, FOperand = false;
  std::string FError;
};
