// The formatter's week settings, which the format table (formats.tsv)
// leaves at their defaults.
#include <gtest/gtest.h>

#include "tarn/convert.h"

namespace tarn {
namespace {

std::string Week(int y, int m, int d, const char16_t* format, int first_day, int first_week) {
  return ToUtf8(Format(Variant(*MakeDate(y, m, d)), format, first_day, first_week));
}

TEST(Format, FirstDayOfWeek) {
  // 12/30/1899 is a Saturday: its weekday counts from the first day.
  for (int first_day = 1; first_day <= 7; ++first_day)
    EXPECT_EQ(Week(1899, 12, 30, u"w", first_day, 1), std::to_string(8 - first_day));
  EXPECT_EQ(Week(1899, 12, 30, u"w", 0, 1), "7");  // 0: the system's (Sunday)
}

TEST(Format, FirstWeekOfYear) {
  // 1/1/2021 is a Friday; 1/4/2021 a Monday; 12/31/2020 a Thursday.
  EXPECT_EQ(Week(2021, 1, 1, u"ww", 1, 1), "1");
  EXPECT_EQ(Week(2021, 1, 3, u"ww", 1, 1), "2");
  EXPECT_EQ(Week(2024, 12, 31, u"ww", 1, 1), "53");
  EXPECT_EQ(Week(2000, 12, 31, u"ww", 1, 1), "54");
  // Monday first, first four-day week: 1/1/2021 is in 2020's week 53.
  EXPECT_EQ(Week(2021, 1, 1, u"ww", 2, 2), "53");
  EXPECT_EQ(Week(2021, 1, 4, u"ww", 2, 2), "1");
  EXPECT_EQ(Week(2020, 1, 1, u"ww", 2, 2), "1");
  // First full week, Sunday first: 1/3/2021 starts week 1.
  EXPECT_EQ(Week(2021, 1, 2, u"ww", 1, 3), "52");
  EXPECT_EQ(Week(2021, 1, 3, u"ww", 1, 3), "1");
}

}  // namespace
}  // namespace tarn
