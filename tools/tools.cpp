// Calendar dates (day numbers, yyyymmdd numbers and their texts) and the
// 64-bit helpers.
#include "tools/tools.h"

#include <cstdio>

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

uint32_t ReadDate8(std::string_view Text) {
  if (Text.size() != 8) return 0;
  uint32_t v = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  return EncodeDayNumber(static_cast<int32_t>(v / 10000), static_cast<int32_t>(v / 100 % 100),
                         static_cast<int32_t>(v % 100)) < 0
             ? 0
             : v;
}

int32_t Date8Bytes(const unsigned char* Bytes) {
  int32_t d[8];
  for (int i = 0; i < 8; ++i) d[i] = Bytes[i] - '0';
  return EncodeDayNumber(d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3], d[4] * 10 + d[5],
                         d[6] * 10 + d[7]);
}

std::string Date8Text(uint32_t Date) {
  if (Date == 0) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u", Date / 10000 % 10000, Date / 100 % 100,
                Date % 100);
  return text;
}
