// Replays the seeds and the kept crashes of the tools' fuzz targets (the
// records reader, tarn-eval's fields) through the targets' own checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/fuzz_tools.h"

namespace {

using Check = std::string (*)(const std::uint8_t*, std::size_t);

void Replay(const std::string& target, Check check, std::size_t at_least) {
  std::size_t count = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const auto dir = std::filesystem::path(TARN_SOURCE_DIR) / "tests/fuzz" / target / kind;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      EXPECT_EQ(check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
          << entry.path();
      ++count;
    }
  }
  EXPECT_GE(count, at_least) << target;
}

TEST(ToolsFuzzReplay, Records) { Replay("records", &tarn::fuzz::RunRecords, 8); }

TEST(ToolsFuzzReplay, Fields) { Replay("fields", &tarn::fuzz::RunFields, 6); }

}  // namespace
