// Dates in records: ISO 8601 and HL7 forms, zones moved to UTC, and numeric
// dates read in one declared order only.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "hl7/record_dates.h"
#include "hl7/records.h"
#include "tarn/convert.h"

namespace {

using namespace tarn::hl7;
using tarn::MakeDate;

// tests/data/hl7/record_dates.tsv: text, order, "yyyy-mm-dd hh:nn:ss" or "none".
TEST(RecordDates, Forms) {
  std::ifstream in(TARN_SOURCE_DIR "/tests/data/hl7/record_dates.tsv");
  ASSERT_TRUE(in);
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t a = line.find('\t'), b = line.find('\t', a + 1);
    ASSERT_NE(b, std::string::npos) << line;
    const std::string text = line.substr(0, a), order = line.substr(a + 1, b - a - 1),
                      want = line.substr(b + 1);
    ++rows;
    const DateOrder o = order == "dmy"   ? DateOrder::Dmy
                        : order == "ymd" ? DateOrder::Ymd
                                         : DateOrder::Mdy;
    const std::optional<double> got = ReadRecordDate(text, o);
    if (want == "none") {
      EXPECT_FALSE(got.has_value()) << text << " gave " << *got;
      continue;
    }
    int y, mo, d, h, mi, s;
    ASSERT_EQ(std::sscanf(want.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s), 6) << line;
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_NEAR(*got, MakeDate(y, mo, d, h, mi, s)->serial, 0.5 / 86400) << text;
  }
  EXPECT_GT(rows, 20);
}

TEST(RecordDates, AZonedDateKeepsItsTimeAndItsOffset) {
  const struct {
    std::string text;
    bool zoned;
    int offset, hour, minute;
  } cases[] = {{"2024-01-15T08:30:00-0500", true, -500, 8, 30},
               {"2024-01-15T08:30:00+05:30", true, 530, 8, 30},
               {"2024-01-15T08:30:00Z", true, 0, 8, 30},
               {"202401150830-0330", true, -330, 8, 30},
               {"2024-01-15T08:30:00", false, 0, 8, 30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    bool zoned = !c.zoned;
    int offset = 1;
    const auto got = ReadRecordDate(c.text, DateOrder::Mdy, zoned, offset);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(zoned, c.zoned);
    EXPECT_EQ(offset, c.offset);
    EXPECT_NEAR(*got, MakeDate(2024, 1, 15, c.hour, c.minute)->serial, 0.5 / 86400);
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
  EXPECT_EQ(records[0].fields[0].value.date().serial, MakeDate(1980, 5, 3)->serial);
  EXPECT_EQ(records[1].error, "member 'Born': \"13/03/1980\" is no date");
  EXPECT_EQ(records[2].fields[0].value.date().serial, MakeDate(1980, 3, 5, 10)->serial);

  options.date_order = DateOrder::Dmy;
  records = ParseRecords(text, options);
  EXPECT_EQ(records[0].fields[0].value.date().serial, MakeDate(1980, 3, 5)->serial);
  EXPECT_EQ(records[1].fields[0].value.date().serial, MakeDate(1980, 3, 13)->serial);
  EXPECT_EQ(records[1].fields[0].type, u"Date");
}

}  // namespace
