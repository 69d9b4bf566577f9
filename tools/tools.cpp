#include "tools/tools.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

#include "tools/errors.h"

EListError::EListError(int Index)
    : EKeslError("List index out of bounds (" + std::to_string(Index) + ")") {}

namespace {

constexpr int kMonthDays[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

// Day number of 0001-01-01.
constexpr int32_t kFirstDay = -693593;
// Day number of 9999-12-31.
constexpr int32_t kLastDay = 2958465;

}  // namespace

bool YearIsLeap(uint16_t Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

int32_t EncodeDayNumber(int32_t Year, int32_t Month, int32_t Day) {
  const bool leap = YearIsLeap(static_cast<uint16_t>(Year));
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 ||
      Day > kMonthDays[leap][Month - 1]) {
    return -1;
  }
  for (int m = 0; m < Month - 1; ++m) Day += kMonthDays[leap][m];
  const int32_t y = Year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + Day - 693594;
}

bool DecodeDayNumber(int32_t DayNumber, int32_t& Year, int32_t& Month, int32_t& Day) {
  if (DayNumber < kFirstDay || DayNumber > kLastDay) return false;
  // Days since 0001-01-01, split into 400-, 100-, 4- and 1-year cycles.
  int32_t d = DayNumber - kFirstDay;
  int32_t y = 1 + 400 * (d / 146097);
  d %= 146097;
  int32_t c = d / 36524;
  if (c == 4) c = 3;
  y += 100 * c;
  d -= c * 36524;
  y += 4 * (d / 1461);
  d %= 1461;
  int32_t k = d / 365;
  if (k == 4) k = 3;
  y += k;
  d -= k * 365;
  const bool leap = YearIsLeap(static_cast<uint16_t>(y));
  int32_t m = 0;
  while (d >= kMonthDays[leap][m]) d -= kMonthDays[leap][m++];
  Year = y;
  Month = m + 1;
  Day = d + 1;
  return true;
}

int64_t JoinInt64(uint32_t Lo, int32_t Hi) {
  return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(Hi)) << 32) | Lo);
}

std::string DayNumberText(double DayNumber) {
  int32_t y, m, d;
  if (DayNumber < 0 || !DecodeDayNumber(static_cast<int32_t>(DayNumber), y, m, d)) return "unknown";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

uint32_t DateOfTime(int64_t UnixTime) {
  // 1970-01-01 is day 25,569; days are counted down for times before it.
  const int64_t days = (UnixTime >= 0 ? UnixTime : UnixTime - 86399) / 86400 + 25569;
  int32_t y, m, d;
  if (days < INT32_MIN || days > INT32_MAX ||
      !DecodeDayNumber(static_cast<int32_t>(days), y, m, d)) {
    return 0;
  }
  return static_cast<uint32_t>(y * 10000 + m * 100 + d);
}

bool DatabaseIsOld(double Created, int32_t TodayYear, int32_t TodayMonth, int32_t TodayDay) {
  int32_t y, m, d;
  // Day numbers before year 1 or after 9999 cannot come from a header.
  if (!DecodeDayNumber(static_cast<int32_t>(Created), y, m, d)) return TodayDay > 1;
  return TodayDay > 1 && (y < TodayYear || (y == TodayYear && m < TodayMonth));
}

bool StrToIPv6(std::string_view Text, TIPv6Address& Address) {
  // The longest text form is 45 characters (eight groups with an IPv4 tail).
  if (Text.size() > 45 || Text.find(':') == std::string_view::npos) return false;
  char text[46];
  std::memcpy(text, Text.data(), Text.size());
  text[Text.size()] = '\0';
  unsigned char bytes[16];
  if (::inet_pton(AF_INET6, text, bytes) != 1) return false;
  Address = IPv6FromBytes(bytes);
  return true;
}

void IPv6ToBytes(TIPv6Address Address, unsigned char* Bytes) {
  const uint64_t half[2] = {__builtin_bswap64(static_cast<uint64_t>(Address >> 64)),
                            __builtin_bswap64(static_cast<uint64_t>(Address))};
  std::memcpy(Bytes, half, 16);
}

TIPv6Address IPv6FromBytes(const unsigned char* Bytes) {
  uint64_t half[2];
  std::memcpy(half, Bytes, 16);
  return TIPv6Address{__builtin_bswap64(half[0])} << 64 | __builtin_bswap64(half[1]);
}

std::vector<std::string_view> SplitText(std::string_view Text, char Separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const size_t at = Text.find(Separator);
    pieces.push_back(Text.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    Text.remove_prefix(at + 1);
  }
}
