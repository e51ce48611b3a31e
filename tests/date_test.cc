// Dates: serial arithmetic, the general date text and the date parser, one
// table row per recorded platform example.
#include "platform/date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::detail {
namespace {

int ThisYear() { return SplitSerial(NowSerial()).year; }

double Serial(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
  auto v = MakeSerial(y, m, d, h, mi, s);
  EXPECT_TRUE(v.has_value()) << y << "-" << m << "-" << d;
  return v.value_or(0);
}

// The OLE date representation ---------------------------------------------

struct SerialRow {
  double serial;
  int year, month, day, hour, minute, second, weekday;
};

TEST(DateSerial, SplitsReferenceSerials) {
  const SerialRow rows[] = {
      {0, 1899, 12, 30, 0, 0, 0, 7},
      {1, 1899, 12, 31, 0, 0, 0, 1},
      {2, 1900, 1, 1, 0, 0, 0, 2},
      {60, 1900, 2, 28, 0, 0, 0, 4},
      {61, 1900, 3, 1, 0, 0, 0, 5},
      {45296, 2024, 1, 5, 0, 0, 0, 6},  // a Friday
      {45296.5, 2024, 1, 5, 12, 0, 0, 6},
      {-1, 1899, 12, 29, 0, 0, 0, 6},
      {-657434, 100, 1, 1, 0, 0, 0, 6},
      {2958465, 9999, 12, 31, 0, 0, 0, 6},
      {-49192.24, 1765, 4, 24, 5, 45, 36, 4},
      {-1.25, 1899, 12, 29, 6, 0, 0, 6},
      {-1.75, 1899, 12, 29, 18, 0, 0, 6},
      {45296.5730324074, 2024, 1, 5, 13, 45, 10, 6},
      // Seconds round to the nearest whole second.
      {10.4 / 86400, 1899, 12, 30, 0, 0, 10, 7},
      {10.6 / 86400, 1899, 12, 30, 0, 0, 11, 7},
      {0.999999999, 1899, 12, 31, 0, 0, 0, 1},  // rounds up to the next day
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << "serial " << r.serial);
    DateParts p = SplitSerial(r.serial);
    EXPECT_EQ(p.year, r.year);
    EXPECT_EQ(p.month, r.month);
    EXPECT_EQ(p.day, r.day);
    EXPECT_EQ(p.hour, r.hour);
    EXPECT_EQ(p.minute, r.minute);
    EXPECT_EQ(p.second, r.second);
    EXPECT_EQ(p.weekday, r.weekday);
  }
}

TEST(DateSerial, DayOfYear) {
  EXPECT_EQ(SplitSerial(45296).day_of_year, 5);
  EXPECT_EQ(SplitSerial(0).day_of_year, 364);
  EXPECT_EQ(SplitSerial(Serial(2024, 12, 31)).day_of_year, 366);
}

TEST(DateSerial, MakeSerialRoundTrips) {
  EXPECT_EQ(Serial(2024, 1, 5, 12), 45296.5);
  // Before 30 Dec 1899 the time is subtracted from the negative day.
  EXPECT_EQ(Serial(1899, 12, 29, 6), -1.25);
  EXPECT_EQ(Serial(1899, 12, 29, 18), -1.75);
  for (double s : {-657434.0, -49192.0, -1.0, 0.0, 1.0, 61.0, 45296.0, 2958465.0}) {
    DateParts p = SplitSerial(s);
    EXPECT_EQ(MakeSerial(p.year, p.month, p.day), s) << s;
  }
}

TEST(DateSerial, MakeSerialRejectsInvalid) {
  EXPECT_FALSE(MakeSerial(1900, 2, 29));  // no fake leap day
  EXPECT_FALSE(MakeSerial(99, 12, 31));
  EXPECT_FALSE(MakeSerial(10000, 1, 1));
  EXPECT_FALSE(MakeSerial(2024, 13, 1));
  EXPECT_FALSE(MakeSerial(2024, 4, 31));
  EXPECT_FALSE(MakeSerial(2024, 1, 1, 24));
  EXPECT_FALSE(MakeSerial(2024, 1, 1, 0, 60));
  EXPECT_TRUE(MakeSerial(2024, 2, 29));
  EXPECT_TRUE(MakeSerial(2000, 2, 29));
}

TEST(DateSerial, DateOnlyTimeOnly) {
  EXPECT_EQ(DateOnly(45296.75), 45296);
  EXPECT_EQ(TimeOnly(45296.75), 0.75);
  EXPECT_EQ(DateOnly(-1.25), -1);
  EXPECT_EQ(TimeOnly(-1.25), 0.25);
}

// The general date text ----------------------------------------------------

TEST(GeneralDateText, ReferenceRows) {
  const struct {
    double serial;
    const char16_t* text;
  } rows[] = {
      {0, u"12:00:00 AM"},
      {3.34, u"1/2/1900 8:09:36 AM"},
      {365, u"12/30/1900"},
      {1461.5, u"12/31/1903 12:00:00 PM"},
      {-657434, u"1/1/100"},
      {45296.5730324074, u"1/5/2024 1:45:10 PM"},
      {0.5730324074, u"1:45:10 PM"},
      {-49192.24, u"4/24/1765 5:45:36 AM"},
      {-1.25, u"12/29/1899 6:00:00 AM"},
      {-1.75, u"12/29/1899 6:00:00 PM"},
      {45296, u"1/5/2024"},
      {45296.75, u"1/5/2024 6:00:00 PM"},
      {-1, u"12/29/1899"},
      {2958465, u"12/31/9999"},
      {0.5, u"12:00:00 PM"},
      {2958465.9999999, u"12/31/9999 11:59:59 PM"},  // never rounds past the end
  };
  for (const auto& r : rows)
    EXPECT_EQ(ToUtf8(GeneralDateText(r.serial)), ToUtf8(r.text)) << "serial " << r.serial;
}

// Text to Date -------------------------------------------------------------

struct ParseRow {
  const char16_t* text;
  std::optional<double> expected;  // nullopt: not a date
};

void CheckParse(const ParseRow& r) {
  auto got = ParseDateText(r.text);
  std::string in = ToUtf8(r.text);
  if (!r.expected) {
    EXPECT_FALSE(got.has_value()) << "\"" << in << "\" gave " << got.value_or(0);
    return;
  }
  ASSERT_TRUE(got.has_value()) << "\"" << in << "\" was refused";
  EXPECT_NEAR(*got, *r.expected, 1e-9) << "\"" << in << "\" -> " << ToUtf8(GeneralDateText(*got));
}

TEST(ParseDateText, ReferenceTable) {
  const int y = ThisYear();
  const double t = 1.0 / 86400;
  const ParseRow rows[] = {
      {u"1/5/2024", Serial(2024, 1, 5)},
      {u"1-5-2024", Serial(2024, 1, 5)},
      {u"1 5 2024", Serial(2024, 1, 5)},
      {u"2024-01-05", Serial(2024, 1, 5)},
      {u"1970-1-13", Serial(1970, 1, 13)},
      {u"13-1-1970", Serial(1970, 1, 13)},
      {u"13/32/2014", std::nullopt},
      {u"1/2", Serial(y, 1, 2)},
      {u"1 2", Serial(y, 1, 2)},
      {u"14 1", Serial(y, 1, 14)},
      {u"1 14", Serial(y, 1, 14)},
      {u"2 30", Serial(2030, 2, 1)},
      {u"30 2", Serial(2030, 2, 1)},
      {u"32 49", std::nullopt},
      {u"0 49", std::nullopt},
      {u"1 2 3", Serial(2003, 1, 2)},
      {u"14 2 3", Serial(2014, 2, 3)},
      {u"2 3 14", Serial(2014, 2, 3)},
      {u"2 14 3", Serial(2003, 2, 14)},
      {u"32 2 3", Serial(2032, 2, 3)},
      {u"1 2 49", Serial(2049, 1, 2)},
      {u"1 2 50", Serial(1950, 1, 2)},
      {u"Jan 2", Serial(y, 1, 2)},
      {u"2 Jan", Serial(y, 1, 2)},
      {u"Jan 35", Serial(2035, 1, 1)},
      {u"35-Jan", Serial(2035, 1, 1)},
      {u"Jan/35", Serial(2035, 1, 1)},
      {u"2 January, 1970", Serial(1970, 1, 2)},
      {u"2 Jan 1970", Serial(1970, 1, 2)},
      {u"2-Jan-1970", Serial(1970, 1, 2)},
      {u"2/Jan/1970", Serial(1970, 1, 2)},
      {u"February 12, 1969", Serial(1969, 2, 12)},
      {u"April 28, 2014", Serial(2014, 4, 28)},
      {u"Friday, January 5, 2024", std::nullopt},
      {u"6/30/2011 01:20:34 PM", Serial(2011, 6, 30, 13, 20, 34)},
      {u"2013-05-14 02:04:12", Serial(2013, 5, 14, 2, 4, 12)},
      {u"2013-05-14 02:04:12.017", std::nullopt},
      {u"13:45", (13 * 3600 + 45 * 60) * t},
      {u"3:5", (3 * 3600 + 5 * 60) * t},
      {u"1 am", 3600 * t},
      {u"1:45 PM", (13 * 3600 + 45 * 60) * t},
      {u"12:59 p", (12 * 3600 + 59 * 60) * t},
      {u"12:59 AM", 59 * 60 * t},
      {u"00:00 pm", 0.5},
      {u"13:00 AM", 13 * 3600 * t},
      {u"24:00", std::nullopt},
      {u"0:60", std::nullopt},
      {u"24.00", std::nullopt},
      {u"0.60", std::nullopt},
      {u"2.5", (2 * 3600 + 5 * 60) * t},
      {u"1.5.2", (3600 + 5 * 60 + 2) * t},
      {u"04.28.14", (4 * 3600 + 28 * 60 + 14) * t},
      {u"04.28.2014", std::nullopt},
      {u"0.0", std::nullopt},
      {u"1:45:10 p.m.", std::nullopt},  // [U] chosen: rejected
      {u"True", std::nullopt},
      {u"1;2;3", std::nullopt},
      {u"1.2.3.4", std::nullopt},
      {u"", std::nullopt},
      {u"0", std::nullopt},
      {u"1", std::nullopt},
      {u"45296", std::nullopt},
  };
  for (const auto& r : rows) CheckParse(r);
}

TEST(ParseDateText, MoreForms) {
  const int y = ThisYear();
  const double t = 1.0 / 86400;
  const ParseRow rows[] = {
      {u"1.5.2024", std::nullopt},  // dots are time separators
      {u"JANUARY 5 2024", Serial(2024, 1, 5)},
      {u"jan 5, 2024", Serial(2024, 1, 5)},
      {u"5 dec 99", Serial(1999, 12, 5)},
      {u"12-11", Serial(y, 12, 11)},
      {u"  1/5/2024  ", Serial(2024, 1, 5)},
      {u"1/5/2024 13:45", Serial(2024, 1, 5, 13, 45)},
      {u"12/29/1899 6:00 AM", -1.25},
      {u"12 AM", 0.0},
      {u"12 PM", 0.5},
      {u"2/29/2023", std::nullopt},
      {u"2/29/2024", Serial(2024, 2, 29)},
      {u"1/1/10000", std::nullopt},
      {u"Monday", std::nullopt},
      {u"Jan", std::nullopt},
      {u"PM", std::nullopt},
      {u"1/2/3/4", std::nullopt},
      {u"13:", std::nullopt},
      {u":13", std::nullopt},
      {u"1:2:3:4", std::nullopt},
      {u"23:59:59", (86400 - 1) * t},
      {u"1/5/2024 x", std::nullopt},
      {u"2024/01/05", Serial(2024, 1, 5)},
  };
  for (const auto& r : rows) CheckParse(r);
}

// Separators stand between parts of a date: a "-" with nothing on one side is
// a sign, and a signed number is no date part. The date's numbers stand
// together on one side of the time, an hour with its AM/PM marker included.
TEST(ParseDateText, SignsMarkersAndSplitDates) {
  const int y = ThisYear();
  const double t = 1.0 / 86400;
  const ParseRow rows[] = {
      {u"+2.5", std::nullopt},
      {u"3.4-", std::nullopt},
      {u"-2.5", std::nullopt},
      {u"2.5-", std::nullopt},
      {u" - 2.5", std::nullopt},
      {u"-1/5/2024", std::nullopt},
      {u"1/5/2024-", std::nullopt},
      {u"1/5/", std::nullopt},
      {u"/1/5", std::nullopt},
      {u"1--5", std::nullopt},
      {u"1/-5/2024", std::nullopt},
      {u"Jan 5,", std::nullopt},
      {u"3 4 pm 5", std::nullopt},
      {u"1 am 2", std::nullopt},
      {u"1 2 am", std::nullopt},
      {u"1 2 am 3", std::nullopt},
      {u"1.2 3 am 4", std::nullopt},
      {u"1 am 2 3.4", std::nullopt},
      {u"2 3.4 5 6", std::nullopt},
      {u"2 3 4.5 6", std::nullopt},
      {u"1/2 3:04 5", std::nullopt},
      {u"5 3:00 Jan", std::nullopt},
      {u"Jan 3:00 5", std::nullopt},
      // Neighbours that still read.
      {u"3.4", (3 * 3600 + 4 * 60) * t},
      {u"1 - 5 - 2024", Serial(2024, 1, 5)},
      {u"1 -5", Serial(y, 1, 5)},
      {u"3 4 5 pm", Serial(y, 3, 4, 17)},
      {u"3 am 1 2", Serial(y, 1, 2, 3)},
      {u"3 pm 4 5", Serial(y, 4, 5, 15)},
      {u"1:45:10 PM 1/5/2024", Serial(2024, 1, 5, 13, 45, 10)},
      {u"2 3 4.5", Serial(y, 2, 3, 4, 5)},
      {u"4.5 2 3", Serial(y, 2, 3, 4, 5)},
      {u"2 3 4 5:06", Serial(2004, 2, 3, 5, 6)},
      {u"13:45:10 1/5/2024", Serial(2024, 1, 5, 13, 45, 10)},
      {u"1/5/2024 1:45:10 PM", Serial(2024, 1, 5, 13, 45, 10)},
      {u"Jan 5 3:00 PM", Serial(y, 1, 5, 15)},
      {u"3:00 Jan 5", Serial(y, 1, 5, 3)},
  };
  for (const auto& r : rows) {
    const std::string in = ToUtf8(r.text);
    const Variant text{std::u16string(r.text)};
    EXPECT_EQ(IsDate(text), r.expected.has_value()) << "\"" << in << "\"";
    if (!r.expected) {
      EXPECT_THROW(CDate(text), RuntimeError) << "\"" << in << "\"";
      continue;
    }
    try {
      EXPECT_NEAR(CDate(text).serial, *r.expected, 1e-9) << "\"" << in << "\"";
    } catch (const RuntimeError& e) {
      ADD_FAILURE() << "\"" << in << "\" raised " << e.number();
    }
  }
}

// CDate / IsDate of texts that the value rules do not hold.
TEST(ParseDateText, ConversionRows) {
  try {
    CDate(Variant(u"1"));
    ADD_FAILURE() << "CDate(\"1\") did not raise";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 13);
  }
  EXPECT_TRUE(IsDate(Variant(u"04.28.14")));
  EXPECT_FALSE(IsDate(Variant(u"04.28.2014")));
}

}  // namespace
}  // namespace tarn::detail
