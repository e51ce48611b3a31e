// Replays every fuzzing seed and every input that once broke a guarantee
// through the fuzz target's checks: the guarantees of each call, and (UTF-8
// inputs) the library's own host against a late-bound one, which must
// behave alike.
#include <gtest/gtest.h>

#include "fuzz/fuzz_harness.h"

namespace {

const std::string kFuzz = TARN_SOURCE_DIR "/tests/fuzz/";

TEST(FuzzReplay, SeedCorpusAndRegressions) {
  std::vector<std::string> broken;
  EXPECT_GE(tarn::fuzz::Replay(kFuzz + "corpus", &tarn::fuzz::CheckEval, broken), 100);
  EXPECT_GE(tarn::fuzz::Replay(kFuzz + "regressions", &tarn::fuzz::CheckEval, broken), 0);
  EXPECT_EQ(broken, std::vector<std::string>{});
}

}  // namespace
