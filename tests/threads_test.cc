// One Interpreter per thread: four threads, each with its own host
// collection, evaluate the same mixed set of texts many times and must get
// exactly what one thread alone gets. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <thread>

#include "support/host_doubles.h"

namespace tarn::testing {
namespace {

using doubles::kMixedTexts;

// Each result and its reports, and whether the host's collection held.
std::vector<std::string> RunAll(int rounds) {
  auto fields = MakeRef<DataFields>();
  auto errors = MakeRef<RecordingErrorManager>();
  Interpreter interp;
  doubles::Populate(*fields, interp);
  const auto host = doubles::Snapshot(*fields);
  interp.Init(fields, errors, u"Sys", u"App");
  std::vector<std::string> out;
  for (int i = 0; i < rounds; ++i)
    for (const auto& text : kMixedTexts)
      out.push_back(doubles::Describe(interp.RealizeRegularExpression(text), errors.get()) +
                    doubles::CompareHost(*fields, host));
  return out;
}

// Two threads evaluate all along; two others meanwhile create, use and
// destroy one interpreter after another.
TEST(Threads, InterpretersOnFourThreadsAgreeWithOneAlone) {
  constexpr int kRounds = 300, kShortLived = 40;
  const std::vector<std::string> expected = RunAll(kRounds);
  ASSERT_EQ(expected.size(), std::size(kMixedTexts) * kRounds);
  const std::vector<std::string> one_round(expected.begin(),
                                           expected.begin() + std::size(kMixedTexts));

  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      if (t < 2) {
        mismatches[t] = RunAll(kRounds) == expected ? 0 : 1;
        return;
      }
      for (int i = 0; i < kShortLived; ++i) mismatches[t] += RunAll(1) == one_round ? 0 : 1;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace tarn::testing
