// Date, text and 64-bit helpers, and the scope guard TFinally. Addresses
// are in tools/address.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// True for years divisible by 4 and either not by 100 or by 400.
bool YearIsLeap(uint16_t Year);

// Days since 1899-12-30 (day 0) for a calendar date; -1 when the date is
// invalid (year outside 1..9999, month outside 1..12, day outside the month).
int32_t EncodeDayNumber(int32_t Year, int32_t Month, int32_t Day);

// Inverse of EncodeDayNumber for any day number whose date lies in 1..9999,
// also negative ones (-1 is 1899-12-29). Returns false outside that range.
bool DecodeDayNumber(int32_t DayNumber, int32_t& Year, int32_t& Month, int32_t& Day);

// Hi in the upper 32 bits, Lo taken as unsigned in the lower 32 bits.
int64_t JoinInt64(uint32_t Lo, int32_t Hi);

// A day number as yyyy-mm-dd; "unknown" for a negative one or one outside
// the years 1..9999.
std::string DayNumberText(double DayNumber);

// The UTC day of a Unix time as the number yyyymmdd; 0 outside the years
// 1 to 9999.
uint32_t DateOfTime(int64_t UnixTime);

// Whether a database created on the day Created is from a month before
// Today, counted from the 2nd of the month: on the 1st nothing is old.
bool DatabaseIsOld(double Created, int32_t TodayYear, int32_t TodayMonth, int32_t TodayDay);

// The ASCII letter in upper case; every other byte as it is.
constexpr char AsciiUpper(char C) { return C >= 'a' && C <= 'z' ? static_cast<char>(C - 32) : C; }

// The text with its ASCII letters in upper case.
std::string AsciiUpperText(std::string_view Text);

// Appends Text to Out as the inside of a JSON string: quotes, backslashes
// and control characters escaped, each byte that starts no valid UTF-8
// sequence as U+FFFD. Unless Final, a sequence cut at the end of Text is
// left for the next piece: returns the bytes taken.
size_t AppendJsonText(std::string& Out, std::string_view Text, bool Final);

// Whether two texts are the same but for the case of ASCII letters.
constexpr bool SameAsciiText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (AsciiUpper(A[i]) != AsciiUpper(B[i])) return false;
  }
  return true;
}

// Integer text: optional leading blanks, one sign, decimal digits or hex
// after "$" or "0x"/"0X", running to the end; false when it does not read
// or does not fit a signed 64-bit value.
bool ReadInteger(std::string_view Text, int64_t& Value);

// Whether C is a C0 control character (0x00 to 0x1F) or DEL.
constexpr bool IsControlChar(char C) {
  return static_cast<unsigned char>(C) < 0x20 || static_cast<unsigned char>(C) == 0x7F;
}

// Whether Text holds a C0 control character (0x00 to 0x1F) or DEL. Inline
// and eight bytes at a time: every query and name written is checked.
inline bool HasControlChars(std::string_view Text) {
  const size_t n = Text.size();
  if (n < 8) {
    for (const char c : Text) {
      if (IsControlChar(c)) return true;
    }
    return false;
  }
  // The high bit of each byte below 0x20, or equal to 0x7F, in V.
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  auto found = [](uint64_t V) {
    const uint64_t del = V ^ (kOnes * 0x7F);
    return (((V - kOnes * 0x20) & ~V) | ((del - kOnes) & ~del)) & kHighs;
  };
  uint64_t v;
  for (size_t i = 0; i + 8 <= n; i += 8) {
    __builtin_memcpy(&v, &Text[i], 8);
    if (found(v)) return true;
  }
  // The last eight bytes, some of them again.
  __builtin_memcpy(&v, &Text[n - 8], 8);
  return found(v) != 0;
}

// Text with each C0 control character and DEL written as \xHH (lower-case
// hex), so that it can stand in one field of one line.
std::string EscapeControlChars(std::string_view Text);

// Text as one field of RFC 4180 CSV: quoted, its quotes doubled, when it
// holds a comma, a quote or a line end.
std::string CsvField(std::string_view Text);

// Latin-1 text as UTF-8, for display.
std::string Latin1ToUtf8(std::string_view Text);

// The pieces of Text between Separators, empty ones included: one piece
// when there is no separator.
std::vector<std::string_view> SplitText(std::string_view Text, char Separator);

// Runs a function on every way out of a scope, exceptions included.
class TFinally {
 public:
  explicit TFinally(std::function<void()> Action) : FAction(std::move(Action)) {}
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;
  ~TFinally() {
    if (FAction) FAction();
  }

 private:
  std::function<void()> FAction;
};
