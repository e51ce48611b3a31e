// Dates in records: ISO 8601 and HL7 forms, zones moved to UTC, and numeric
// dates read in one declared order only.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "hl7/record_dates.h"
#include "hl7/records.h"

namespace {

using namespace tarn::hl7;

struct DateCase {
  std::string text;
  DateOrder order;
  // year, month, day, hour, minute, second; year 0: no date
  int y, mo, d, h = 0, mi = 0, s = 0;
};

TEST(RecordDates, Forms) {
  const auto M = DateOrder::Mdy, D = DateOrder::Dmy, Y = DateOrder::Ymd;
  const std::vector<DateCase> cases = {
      {"1980-03-05", M, 1980, 3, 5},
      {"1980-03-05", D, 1980, 3, 5},  // a year first is a year
      {"2024-01-15T08:30:00", M, 2024, 1, 15, 8, 30, 0},
      {"2024-01-15t08:30", M, 2024, 1, 15, 8, 30, 0},
      {"2024-01-15 08:30:00", M, 2024, 1, 15, 8, 30, 0},
      {"2024-01-15T08:30:59.987", M, 2024, 1, 15, 8, 30, 59},  // fractions dropped
      {"2024-01-15T08:30:00Z", M, 2024, 1, 15, 8, 30, 0},
      {"2024-01-15T08:30:00+02:00", M, 2024, 1, 15, 6, 30, 0},
      {"2024-01-15T08:30:00-0500", M, 2024, 1, 15, 13, 30, 0},
      {"2024-01-15T23:30:00-05", M, 2024, 1, 16, 4, 30, 0},
      {"2024-01-01T01:00:00.5+05:30", M, 2023, 12, 31, 19, 30, 0},
      {"20240115", M, 2024, 1, 15},
      {"202401150830", M, 2024, 1, 15, 8, 30, 0},
      {"20240115083015.1234-0500", M, 2024, 1, 15, 13, 30, 15},
      {"05/03/1980", M, 1980, 5, 3},
      {"05/03/1980", D, 1980, 3, 5},
      {"13/03/1980", D, 1980, 3, 13},
      {"13/03/1980", M, 0, 0, 0},  // never silently read the other way
      {"3/5/1980 8:30 PM", M, 1980, 3, 5, 20, 30, 0},
      {"3.5.80", D, 1980, 5, 3},
      {"3/5/49", M, 2049, 3, 5},
      {"1980/3/5", Y, 1980, 3, 5},
      {"3/5/1980", Y, 0, 0, 0},
      {"02/29/2023", M, 0, 0, 0},
      {"02/29/2024", M, 2024, 2, 29},
      {"2024-01-15T24:00:00", M, 0, 0, 0},
      {"2024-01-15T08:30:00+25:00", M, 0, 0, 0},
      {"2024-01-15T08:30:00 junk", M, 0, 0, 0},
      {"5 Mar 1980", D, 1980, 3, 5},
      {"March 5, 1980", M, 1980, 3, 5},
      {"", M, 0, 0, 0},
      {"soon", M, 0, 0, 0},
      {"12345", M, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<double> got = ReadRecordDate(c.text, c.order);
    if (c.y == 0) {
      EXPECT_FALSE(got.has_value()) << *got;
      continue;
    }
    ASSERT_TRUE(got.has_value());
    const std::optional<double> want = CivilSerial(c.y, c.mo, c.d, c.h, c.mi, c.s);
    ASSERT_TRUE(want.has_value());
    EXPECT_NEAR(*got, *want, 0.5 / 86400);
  }
}

TEST(RecordDates, ARunReadsEveryRecordInTheOrderGiven) {
  RecordOptions options;
  options.dates = {"Born"};
  options.format = RecordFormat::JsonLines;
  const std::string text =
      "{\"Born\": \"05/03/1980\"}\n{\"Born\": \"13/03/1980\"}\n{\"Born\": \"1980-03-05T10:00Z\"}\n";
  options.date_order = DateOrder::Mdy;
  auto records = ParseRecords(text, options);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].fields[0].value.date().serial, *CivilSerial(1980, 5, 3));
  EXPECT_EQ(records[1].error, "member 'Born': \"13/03/1980\" is no date");
  EXPECT_EQ(records[2].fields[0].value.date().serial, *CivilSerial(1980, 3, 5, 10));

  options.date_order = DateOrder::Dmy;
  records = ParseRecords(text, options);
  EXPECT_EQ(records[0].fields[0].value.date().serial, *CivilSerial(1980, 3, 5));
  EXPECT_EQ(records[1].fields[0].value.date().serial, *CivilSerial(1980, 3, 13));
  EXPECT_EQ(records[1].fields[0].type, u"Date");
}

}  // namespace
