// Date, text, 64-bit and IPv6 address helpers.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// An IPv6 address as one 128-bit number, the first byte of its network
// form in the top bits, so that addresses compare as numbers.
using TIPv6Address = unsigned __int128;
// An address in any of RFC 4291's text forms (2001:db8::1,
// ::ffff:192.0.2.1); false for anything else, zone suffixes included.
bool StrToIPv6(std::string_view Text, TIPv6Address& Address);
// The 16 bytes of the network form, first byte first.
void IPv6ToBytes(TIPv6Address Address, unsigned char* Bytes);
TIPv6Address IPv6FromBytes(const unsigned char* Bytes);

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

// Whether two texts are the same but for the case of ASCII letters.
constexpr bool SameAsciiText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    if (AsciiUpper(A[i]) != AsciiUpper(B[i])) return false;
  }
  return true;
}

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
