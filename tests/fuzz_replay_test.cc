// Replays every fuzzing seed and every input that once broke a guarantee
// through the fuzz target's checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/fuzz_harness.h"

namespace {

void ReplayDirectory(const std::filesystem::path& dir, std::size_t at_least) {
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(tarn::fuzz::Run(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
              "")
        << entry.path();
    ++count;
  }
  EXPECT_GE(count, at_least) << dir;
}

TEST(FuzzReplay, SeedCorpus) {
  ReplayDirectory(std::filesystem::path(TARN_SOURCE_DIR) / "tests/fuzz/corpus", 100);
}

// The library calls its own collection and fields directly; a host's own
// objects are reached by member name. Both must behave alike.
TEST(FuzzReplay, OwnAndLateBoundHostsAgree) {
  const auto dir = std::filesystem::path(TARN_SOURCE_DIR) / "tests/fuzz/corpus";
  std::size_t count = 0, differ = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF) continue;
    const std::string d =
        tarn::fuzz::Differential(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (!d.empty() && ++differ <= 5) ADD_FAILURE() << entry.path() << "\n" << d;
    ++count;
  }
  EXPECT_EQ(differ, 0u) << "of " << count;
}

TEST(FuzzReplay, Regressions) {
  ReplayDirectory(std::filesystem::path(TARN_SOURCE_DIR) / "tests/fuzz/regressions", 0);
}

}  // namespace
