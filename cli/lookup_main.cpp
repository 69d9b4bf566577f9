// No iostreams unless they are needed: one lookup is over in a millisecond,
// and setting up the standard streams and their locale took a third of it.
#include <cerrno>
#include <memory>
#include <ostream>
#include <streambuf>
#include <unistd.h>

#include "cli/lookup.h"
#include "cli/lookupio.h"
#include "tools/files.h"

namespace {

// Writes all of Data to a descriptor.
void WriteAll(int Fd, const char* Data, size_t Size) {
  while (Size > 0) {
    const ssize_t n = ::write(Fd, Data, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed pipe: nothing more can be said
    Data += n;
    Size -= static_cast<size_t>(n);
  }
}

// A stream buffer over a descriptor, for the texts that take streams.
class TFdBuf : public std::streambuf {
 public:
  explicit TFdBuf(int Fd) : FFd(Fd) {}

 protected:
  int_type overflow(int_type C) override {
    if (C != traits_type::eof()) {
      const char c = traits_type::to_char_type(C);
      WriteAll(FFd, &c, 1);
    }
    return traits_type::not_eof(C);
  }
  std::streamsize xsputn(const char* Data, std::streamsize Size) override {
    WriteAll(FFd, Data, static_cast<size_t>(Size));
    return Size;
  }

 private:
  int FFd;
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
  void WriteOut(const char* Data, size_t Size) override { WriteAll(STDOUT_FILENO, Data, Size); }
  std::ostream& Out() override { return Stream(FOut, FOutBuf, STDOUT_FILENO); }
  std::ostream& Err() override { return Stream(FErr, FErrBuf, STDERR_FILENO); }

 private:
  static std::ostream& Stream(std::unique_ptr<std::ostream>& S, std::unique_ptr<TFdBuf>& B,
                              int Fd) {
    if (!S) {
      B = std::make_unique<TFdBuf>(Fd);
      S = std::make_unique<std::ostream>(B.get());
    }
    return *S;
  }
  std::unique_ptr<TFdBuf> FOutBuf, FErrBuf;
  std::unique_ptr<std::ostream> FOut, FErr;
};

}  // namespace

int main(int argc, char** argv) {
  TFdIO io;
  return LookupMain(std::vector<std::string>(argv + 1, argv + argc), io);
}
