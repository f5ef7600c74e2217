#include <gtest/gtest.h>

#include <cmath>

#include "common/datetime.h"

namespace trelvex {
namespace {

TEST(DateTime, DayCountFromTheZeroDate) {
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1900, 1, 1, 0, 0, 0, 0}), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime({2000, 1, 1, 12, 0, 0, 0}), 36526.5);
  EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);
  const CivilDateTime back = DecodeDateTime(-1.25);
  EXPECT_EQ(back.day, 29);
  EXPECT_EQ(back.hour, 6);
}

TEST(DateTime, RoundTripKeepsMilliseconds) {
  const CivilDateTime cases[] = {
      {2026, 12, 9, 18, 50, 3, 127}, {2024, 2, 29, 23, 59, 59, 999}, {1899, 12, 30, 0, 0, 0, 1},
      {1999, 12, 31, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    CivilDateTime d = DecodeDateTime(EncodeDateTime(c));
    EXPECT_EQ(std::tie(d.year, d.month, d.day, d.hour, d.minute, d.second, d.msec),
              std::tie(c.year, c.month, c.day, c.hour, c.minute, c.second, c.msec));
  }
}

TEST(DateTime, Formats) {
  const TDateTime t = EncodeDateTime({2026, 12, 9, 18, 50, 3, 127});
  EXPECT_EQ(FormatLogStamp(t), "09.12.2026 18:50:03:127");
  EXPECT_EQ(FormatLogFileStamp(t), "2026.12.09 18.50.03");
  EXPECT_EQ(FormatIsoDate(t), "2026-12-09");
  EXPECT_EQ(DateTimeToText(t), "09.12.2026 18:50:03");
  EXPECT_EQ(DateTimeToText(EncodeDateTime({2026, 1, 2, 0, 0, 0, 0})), "02.01.2026");
  EXPECT_EQ(FormatLogStamp(0.0), "30.12.1899 00:00:00:000");
}

TEST(DateTime, OutOfRangeValuesGiveTheZeroDate) {
  EXPECT_EQ(FormatIsoDate(1e300), "1899-12-30");
  EXPECT_EQ(FormatIsoDate(std::nan("")), "1899-12-30");
}

TEST(DateTime, NowAndTodayAgree) {
  const TDateTime today = Today();
  const TDateTime now = Now();
  EXPECT_EQ(today, std::floor(today));
  EXPECT_GE(now, today);
  EXPECT_LT(now, today + 1.0001);
  EXPECT_GT(today, EncodeDateTime({2020, 1, 1, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace trelvex
