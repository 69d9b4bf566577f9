// No iostreams unless they are needed: one lookup is over in a millisecond,
// and setting up the standard streams and their locale took a third of it.
#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <streambuf>
#include <unistd.h>

#include "cli/fdwriter.h"
#include "cli/lookup.h"
#include "cli/lookupio.h"
#include "tools/files.h"

namespace {

// A stream buffer over a writer, for the texts that take streams: after
// what was written before them (Before, the answers, for the messages on
// the standard error).
class TFdBuf : public std::streambuf {
 public:
  explicit TFdBuf(TFdWriter& To, TFdWriter* Before = nullptr) : FTo(To), FBefore(Before) {}

 protected:
  int_type overflow(int_type C) override {
    if (C != traits_type::eof()) {
      const char c = traits_type::to_char_type(C);
      xsputn(&c, 1);
    }
    return traits_type::not_eof(C);
  }
  std::streamsize xsputn(const char* Data, std::streamsize Size) override {
    if (FBefore) FBefore->Wait();
    FTo.Write(Data, static_cast<size_t>(Size));
    return Size;
  }

 private:
  TFdWriter& FTo;
  TFdWriter* FBefore;
};

class TFdIO : public TLookupIO {
 public:
  size_t Read(char* Buffer, size_t Size) override {
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, Buffer, Size);
      if (n < 0 && errno == EINTR) continue;
      return n > 0 ? static_cast<size_t>(n) : 0;
    }
  }
  bool InputWaits() override { return ReadWouldWait(STDIN_FILENO); }
  void WriteOut(const char* Data, size_t Size) override { FOutWriter.Write(Data, Size); }
  void HandOut(std::string& Text) override { FOutWriter.Hand(Text); }
  std::ostream& Out() override { return Stream(FOut, FOutBuf, FOutWriter, nullptr); }
  std::ostream& Err() override { return Stream(FErr, FErrBuf, FErrWriter, &FOutWriter); }
  // The errno of a failed write of the answers, once all are written.
  int OutError() { return FOutWriter.Error(); }

 private:
  static std::ostream& Stream(std::unique_ptr<std::ostream>& S, std::unique_ptr<TFdBuf>& B,
                              TFdWriter& To, TFdWriter* Before) {
    if (!S) {
      B = std::make_unique<TFdBuf>(To, Before);
      S = std::make_unique<std::ostream>(B.get());
    }
    return *S;
  }
  TFdWriter FOutWriter{STDOUT_FILENO}, FErrWriter{STDERR_FILENO};
  std::unique_ptr<TFdBuf> FOutBuf, FErrBuf;
  std::unique_ptr<std::ostream> FOut, FErr;
};

}  // namespace

int main(int argc, char** argv) {
  TFdIO io;
  const int status = LookupMain(std::vector<std::string>(argv + 1, argv + argc), io);
  // Answers that could not all be written (a full disk) are no success.
  if (const int error = io.OutError()) {
    io.Err() << "kesl-lookup: cannot write the answers: " << std::strerror(error) << "\n";
    return 4;
  }
  return status;
}
