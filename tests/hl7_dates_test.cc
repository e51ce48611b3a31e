// Dates in records: ISO 8601 and HL7 forms, zones moved to UTC, and numeric
// dates read in one declared order only (a run's reading of them: rows of
// tests/data/tools.tsv).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "hl7/record_dates.h"
#include "support/expression_table.h"
#include "tarn/convert.h"

namespace {

using namespace tarn::hl7;
using tarn::MakeDate;

// tests/data/hl7/record_dates.tsv: text, order, "yyyy-mm-dd hh:nn:ss" or
// "none", and optionally the zone.
TEST(RecordDates, Forms) {
  std::ifstream in(TARN_SOURCE_DIR "/tests/data/hl7/record_dates.tsv");
  ASSERT_TRUE(in);
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto cells = tarn::testing::Split(line, '\t');
    ASSERT_GE(cells.size(), 3u) << line;
    const std::string &text = cells[0], &order = cells[1], &want = cells[2];
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
    if (cells.size() < 4) continue;
    // The time as written is the UTC time moved by the offset.
    bool zoned = cells[3] == "none";
    int offset = 1;
    const auto written = ReadRecordDate(text, o, zoned, offset);
    ASSERT_TRUE(written.has_value()) << text;
    EXPECT_EQ(zoned, cells[3] != "none") << text;
    EXPECT_EQ(offset, zoned ? std::stoi(cells[3]) : 0) << text;
    EXPECT_NEAR(*written, *got + (offset / 100 * 60 + offset % 100) / 1440.0, 0.5 / 86400) << text;
  }
  EXPECT_GT(rows, 20);
}

}  // namespace
