#include "tools/tools.h"

#include <gtest/gtest.h>

TEST(ToolsTest, YearIsLeap) {
  EXPECT_TRUE(YearIsLeap(2000));
  EXPECT_TRUE(YearIsLeap(2004));
  EXPECT_FALSE(YearIsLeap(1900));
  EXPECT_FALSE(YearIsLeap(2003));
}

TEST(ToolsTest, EncodeDayNumberKnownDays) {
  EXPECT_EQ(EncodeDayNumber(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDayNumber(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDayNumber(2003, 5, 1), 37742);
  EXPECT_EQ(EncodeDayNumber(2000, 2, 29), 36585);
  EXPECT_EQ(EncodeDayNumber(1, 1, 1), -693593);
}

TEST(ToolsTest, EncodeDayNumberRejectsInvalidDates) {
  EXPECT_EQ(EncodeDayNumber(2003, 2, 29), -1);
  EXPECT_EQ(EncodeDayNumber(0, 1, 1), -1);
  EXPECT_EQ(EncodeDayNumber(10000, 1, 1), -1);
  EXPECT_EQ(EncodeDayNumber(2003, 13, 1), -1);
  EXPECT_EQ(EncodeDayNumber(2003, 0, 1), -1);
  EXPECT_EQ(EncodeDayNumber(2003, 4, 31), -1);
  EXPECT_EQ(EncodeDayNumber(2003, 4, 0), -1);
}

TEST(ToolsTest, DecodeDayNumberInvertsEncodeOverWholeRange) {
  // Every 97th day from year 1 to 9999 and back, plus both ends.
  int32_t y, m, d;
  for (int32_t n = -693593; n <= 2958465; n += 97) {
    ASSERT_TRUE(DecodeDayNumber(n, y, m, d)) << n;
    ASSERT_EQ(EncodeDayNumber(y, m, d), n) << y << "-" << m << "-" << d;
  }
  ASSERT_TRUE(DecodeDayNumber(-1, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  ASSERT_TRUE(DecodeDayNumber(2958465, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 99991231);
  EXPECT_FALSE(DecodeDayNumber(2958466, y, m, d));
  EXPECT_FALSE(DecodeDayNumber(-693594, y, m, d));
}

TEST(ToolsTest, JoinInt64) {
  EXPECT_EQ(JoinInt64(0xFFFFFFFFu, 0), 0xFFFFFFFFLL);
  EXPECT_EQ(JoinInt64(5, 1), 0x100000005LL);
  EXPECT_EQ(JoinInt64(0, -1), static_cast<int64_t>(0xFFFFFFFF00000000ULL));
}
