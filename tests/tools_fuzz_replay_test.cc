// Replays the seeds and the kept crashes of the tools' fuzz targets (the
// records reader, tarn-eval's fields) through the targets' own checks.
#include <gtest/gtest.h>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_tools.h"

namespace {

using Check = std::string (*)(const std::uint8_t*, std::size_t);

void Replay(const std::string& target, Check check, std::size_t at_least) {
  std::size_t count = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const auto dir = std::filesystem::path(TARN_SOURCE_DIR) / "tests/fuzz" / target / kind;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    for (const auto& [path, bytes] : tarn::fuzz::ReadInputs(dir)) {
      EXPECT_EQ(check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
          << path;
      ++count;
    }
  }
  EXPECT_GE(count, at_least) << target;
}

TEST(ToolsFuzzReplay, Records) { Replay("records", &tarn::fuzz::CheckRecords, 8); }

TEST(ToolsFuzzReplay, Fields) { Replay("fields", &tarn::fuzz::CheckFields, 6); }

}  // namespace
