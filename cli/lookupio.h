// kesl-lookup's input and output: the seam between the program and its
// streams, which tests replace.
#pragma once

#include <algorithm>
#include <cstddef>
#include <istream>
#include <ostream>
#include <string>

// Answers go out through WriteOut in large pieces; Out and Err serve the
// rest (help, --info, messages) and may be made on first use, so that a
// run that needs no stream makes none.
class TLookupIO {
 public:
  virtual ~TLookupIO() = default;
  // Up to Size bytes of standard input; 0 at its end.
  virtual size_t Read(char* Buffer, size_t Size) = 0;
  // Whether Read would wait now for input to come (a pipe or a terminal
  // with nothing ready): the moment to write out the answers so far.
  virtual bool InputWaits() { return false; }
  virtual void WriteOut(const char* Data, size_t Size) = 0;
  // The same for Text, which it may keep, leaving it empty.
  virtual void HandOut(std::string& Text) {
    WriteOut(Text.data(), Text.size());
    Text.clear();
  }
  virtual std::ostream& Out() = 0;
  virtual std::ostream& Err() = 0;
};

// The program's input and output over streams.
class TStreamIO : public TLookupIO {
 public:
  TStreamIO(std::istream& In, std::ostream& Out, std::ostream& Err)
      : FIn(In), FOut(Out), FErr(Err) {}
  size_t Read(char* Buffer, size_t Size) override {
    return static_cast<size_t>(std::max<std::streamsize>(
        FIn.rdbuf()->sgetn(Buffer, static_cast<std::streamsize>(Size)), 0));
  }
  void WriteOut(const char* Data, size_t Size) override {
    FOut.write(Data, static_cast<std::streamsize>(Size));
  }
  std::ostream& Out() override { return FOut; }
  std::ostream& Err() override { return FErr; }

 private:
  std::istream& FIn;
  std::ostream& FOut;
  std::ostream& FErr;
};
