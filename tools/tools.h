// Date and 64-bit helpers.
#pragma once

#include <cstdint>

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
