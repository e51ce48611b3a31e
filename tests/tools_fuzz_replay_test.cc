// Replays the seeds and the kept crashes of the tools' fuzz targets (the
// records reader, tarn-eval's fields) through the targets' own checks.
#include <gtest/gtest.h>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_tools.h"

namespace {

const std::string kFuzz = TARN_SOURCE_DIR "/tests/fuzz/";

TEST(ToolsFuzzReplay, RecordsAndFields) {
  using namespace tarn::fuzz;
  std::vector<std::string> broken;
  EXPECT_GE(Replay(kFuzz + "records/corpus", &CheckRecords, broken), 8);
  EXPECT_GE(Replay(kFuzz + "records/regressions", &CheckRecords, broken), 0);
  EXPECT_GE(Replay(kFuzz + "fields/corpus", &CheckFields, broken), 6);
  EXPECT_GE(Replay(kFuzz + "fields/regressions", &CheckFields, broken), 0);
  EXPECT_EQ(broken, std::vector<std::string>{});
}

}  // namespace
