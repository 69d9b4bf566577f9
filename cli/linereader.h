// Reading queries from standard input, a line at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class TLookupIO;

// Reads a line at a time, in large pieces. At most Max bytes of a line are
// kept and Cut tells whether there were more: the rest is read past in
// bounded memory, so a line without an end cannot fill memory.
class TLineReader {
 public:
  TLineReader(TLookupIO& IO, size_t Max) : FIO(IO), FMax(Max) {}
  TLineReader(const TLineReader&) = delete;
  TLineReader& operator=(const TLineReader&) = delete;

  // The next line without its LF and the blanks (spaces, tabs, CR) around
  // it; false at the end of the input. The text lasts until the next call.
  bool Next(std::string_view& Line, bool& Cut);
  // Called before a read of the input that would wait for it to come.
  void BeforeWait(std::function<void()> Call) { FBeforeWait = std::move(Call); }

 private:
  static std::string_view Trim(std::string_view Text);
  bool Fill();

  TLookupIO& FIO;
  size_t FMax;
  char FBuf[1 << 16];
  size_t FPos = 0, FEnd = 0;
  std::string FLong;
  std::function<void()> FBeforeWait;
};
