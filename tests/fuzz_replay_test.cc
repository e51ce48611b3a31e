// Replays every fuzzing seed and every input that once broke a guarantee
// through the fuzz target's checks: the guarantees of each call, and (UTF-8
// inputs) the library's own host against a late-bound one, which must
// behave alike.
#include <gtest/gtest.h>

#include "fuzz/fuzz_harness.h"

namespace {

void Replay(const char* folder, std::size_t at_least) {
  const auto dir = std::filesystem::path(TARN_SOURCE_DIR) / "tests/fuzz" / folder;
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  const auto inputs = tarn::fuzz::ReadInputs(dir);
  for (const auto& [path, bytes] : inputs)
    EXPECT_EQ(
        tarn::fuzz::CheckEval(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        "")
        << path;
  EXPECT_GE(inputs.size(), at_least) << dir;
}

TEST(FuzzReplay, SeedCorpus) { Replay("corpus", 100); }

TEST(FuzzReplay, Regressions) { Replay("regressions", 0); }

}  // namespace
