// Calendar dates and the 64-bit helpers: day numbers (days since
// 1899-12-30, the database's Created), block dates as the number yyyymmdd,
// and their texts. The one place that reads or writes a date.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// The date yyyymmdd in eight digits, nothing around them, as its number;
// 0 when the text is not eight digits or not a valid date.
uint32_t ReadDate8(std::string_view Text);

// The day number of the eight header bytes YYYYMMDD, each byte taken as
// its value minus '0' without a check that it is a digit; -1 when the
// result is no valid date.
int32_t Date8Bytes(const unsigned char* Bytes);

// A block date yyyymmdd as yyyy-mm-dd (the digits as they come, not
// checked to be a valid date); "" for 0, the date unknown.
std::string Date8Text(uint32_t Date);
