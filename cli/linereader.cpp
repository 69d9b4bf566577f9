#include "cli/linereader.h"

#include <algorithm>
#include <cstring>

#include "cli/lookupio.h"

bool TLineReader::Next(std::string_view& Line, bool& Cut) {
  Cut = false;
  if (FPos == FEnd && !Fill()) return false;
  const char* start = FBuf + FPos;
  const auto* lf = static_cast<const char*>(std::memchr(start, '\n', FEnd - FPos));
  if (lf && static_cast<size_t>(lf - start) <= FMax) {
    // The usual case: the whole line lies in the buffer.
    FPos += static_cast<size_t>(lf - start) + 1;
    Line = Trim(std::string_view(start, static_cast<size_t>(lf - start)));
    return true;
  }
  // A line across the buffer's end, or a long one: gathered, bounded.
  FLong.clear();
  for (;;) {
    if (FPos == FEnd && !Fill()) break;
    start = FBuf + FPos;
    lf = static_cast<const char*>(std::memchr(start, '\n', FEnd - FPos));
    const size_t n = lf ? static_cast<size_t>(lf - start) : FEnd - FPos;
    const size_t keep = std::min(n, FMax - FLong.size());
    FLong.append(start, keep);
    Cut |= keep < n;
    FPos += n + (lf ? 1 : 0);
    if (lf) break;
  }
  // A cut line is too long whatever its blanks: it keeps all Max bytes.
  Line = Cut ? std::string_view(FLong) : Trim(FLong);
  return true;
}

namespace {

// The blanks around a line: spaces, tabs and the CR of a CR LF end. Other
// control characters stay, so that the query is seen to hold them.
inline bool IsBlank(char C) { return C == ' ' || C == '\t' || C == '\r'; }

}  // namespace

std::string_view TLineReader::Trim(std::string_view Text) {
  size_t b = 0, e = Text.size();
  while (b < e && IsBlank(Text[b])) ++b;
  while (e > b && IsBlank(Text[e - 1])) --e;
  return Text.substr(b, e - b);
}

bool TLineReader::Fill() {
  if (FBeforeWait && FIO.InputWaits()) FBeforeWait();
  FPos = 0;
  FEnd = FIO.Read(FBuf, sizeof FBuf);
  return FEnd > 0;
}
