// The default log component "ZellLog.Log": Init, WriteLogMsg, file names,
// rotation and failures that come back as status codes.
#include "host/log_component.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_files.h"
#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/object.h"

namespace {

namespace fs = std::filesystem;
using tarn::Arg;
using tarn::ObjectRef;
using tarn::Variant;

using tarn::testing::ReadAll;
using tarn::testing::TempDir;

std::vector<std::string> FilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class LogComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { tarn::RegisterDefaultComponents(); }
  void TearDown() override { fs::remove_all(dir); }

  ObjectRef NewLog() { return tarn::CreateObject(tarn::kLogProgId); }

  // Init through the late-bound call, with the argument kinds the debug log passes.
  std::int32_t Init(const ObjectRef& log, const fs::path& folder, std::int16_t files,
                    std::int32_t size, std::u16string separator = u"<END OF ENTRY>",
                    bool append = true, std::u16string name = u"Log") {
    Variant app(u"KvUpDebg"), n(std::move(name)), path(folder.u16string()), num(files), bytes(size),
        flag(append), sep(std::move(separator)), title(u"Debug Log");
    Arg args[] = {Arg::ByVal(app),   Arg::ByVal(n),    Arg::ByRef(path), Arg::ByVal(num),
                  Arg::ByRef(bytes), Arg::ByVal(flag), Arg::ByRef(sep),  Arg::ByVal(title)};
    return tarn::CLng(tarn::Call(log, u"Init", args));
  }
  std::int32_t Write(const ObjectRef& log, std::u16string text) {
    Variant v(std::move(text));
    Arg args[] = {Arg::ByVal(v)};
    return tarn::CLng(tarn::Call(log, u"WriteLogMsg", args));
  }

  fs::path dir = TempDir("t");
};

// The folder is made as needed.
TEST_F(LogComponentTest, WritesUtf8EntriesFollowedByTheSeparator) {
  ObjectRef log = NewLog();
  const fs::path folder = dir / "a" / "b";
  EXPECT_EQ(Init(log, folder, 3, 1048576), 0);
  EXPECT_EQ(Write(log, u"\r\none"), 0);
  EXPECT_EQ(Write(log, u"\r\nzwei \u00fc \u20ac"), 0);
  EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"Log.log"});
  EXPECT_EQ(ReadAll(folder / "Log.log"),
            "\r\none<END OF ENTRY>\r\nzwei \xc3\xbc \xe2\x82\xac<END OF ENTRY>");
}

// Arguments by value too; the log's name is the file's, made fit for one.
TEST_F(LogComponentTest, MemberNamesIgnoreCase) {
  ObjectRef log = NewLog();
  Variant app(u"a"), n(u"sub/dir"), path(dir.u16string()), num(std::int16_t{2}), bytes(100),
      flag(true), sep(u"|"), title(u"t");
  Arg args[] = {Arg::ByVal(app),   Arg::ByVal(n),    Arg::ByVal(path), Arg::ByVal(num),
                Arg::ByVal(bytes), Arg::ByVal(flag), Arg::ByVal(sep),  Arg::ByVal(title)};
  EXPECT_EQ(tarn::CLng(tarn::Call(log, u"init", args)), 0);
  Variant text(u"x");
  Arg one[] = {Arg::ByVal(text)};
  EXPECT_EQ(tarn::CLng(tarn::Call(log, u"WRITELOGMSG", one)), 0);
  EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"sub_dir.log"});
  EXPECT_EQ(ReadAll(dir / "sub_dir.log"), "x|");
}

struct RotationCase {
  const char* label;
  std::int16_t files;
  std::size_t expected_files;
};

class LogRotation : public LogComponentTest, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(LogRotation, KeepsAtMostTheGivenNumberOfFiles) {
  const RotationCase& c = GetParam();
  ObjectRef log = NewLog();
  ASSERT_EQ(Init(log, dir, c.files, 100, u"|"), 0);
  std::vector<std::string> written;
  for (int i = 0; i < 60; ++i) {
    std::string entry = "entry " + std::to_string(1000 + i) + " ....................";
    written.push_back(entry + "|");
    ASSERT_EQ(Write(log, tarn::FromUtf8(entry)), 0);
  }
  const auto files = FilesIn(dir);
  EXPECT_EQ(files.size(), c.expected_files);
  std::vector<std::string> expected{"Log.log"};
  for (std::size_t i = 1; i < c.expected_files; ++i)
    expected.push_back("Log." + std::to_string(i) + ".log");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files, expected);
  // Every file within the size; newest entries in Log.log, older ones in
  // the numbered files, oldest in the highest number.
  std::string joined;
  for (std::size_t i = c.expected_files; i-- > 0;) {
    const fs::path f =
        dir / (i == 0 ? std::string("Log.log") : "Log." + std::to_string(i) + ".log");
    const std::string text = ReadAll(f);
    EXPECT_LE(text.size(), 100u) << f;
    EXPECT_FALSE(text.empty()) << f;
    joined += text;
  }
  std::string tail;
  for (auto it = written.end() - static_cast<long>(joined.size() / written[0].size());
       it != written.end(); ++it)
    tail += *it;
  EXPECT_EQ(joined, tail);
}

INSTANTIATE_TEST_SUITE_P(Counts, LogRotation,
                         ::testing::Values(RotationCase{"One", 1, 1}, RotationCase{"Three", 3, 3},
                                           RotationCase{"ZeroIsOne", 0, 1},
                                           RotationCase{"NegativeIsOne", -4, 1}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(LogComponentTest, SizeOfZeroOrLessIsNoLimit) {
  for (std::int32_t size : {0, -1048576}) {
    ObjectRef log = NewLog();
    const fs::path folder = dir / std::to_string(size);
    ASSERT_EQ(Init(log, folder, 3, size), 0);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(Write(log, u"0123456789"), 0);
    EXPECT_EQ(FilesIn(folder), std::vector<std::string>{"Log.log"});
  }
}

TEST_F(LogComponentTest, EntryLargerThanTheSizeStillGetsWritten) {
  ObjectRef log = NewLog();
  ASSERT_EQ(Init(log, dir, 2, 10, u""), 0);
  EXPECT_EQ(Write(log, u"a long entry of more than ten bytes"), 0);
  EXPECT_EQ(Write(log, u"another long entry"), 0);
  EXPECT_EQ(ReadAll(dir / "Log.log"), "another long entry");
  EXPECT_EQ(ReadAll(dir / "Log.1.log"), "a long entry of more than ten bytes");
}

TEST_F(LogComponentTest, AppendsToAnExistingLogOrStartsANewOne) {
  { std::ofstream(dir / "Log.log", std::ios::binary) << "old|"; }
  {
    ObjectRef log = NewLog();
    ASSERT_EQ(Init(log, dir, 3, 1000, u"|", true), 0);
    ASSERT_EQ(Write(log, u"new"), 0);
  }
  EXPECT_EQ(ReadAll(dir / "Log.log"), "old|new|");
  {
    ObjectRef log = NewLog();
    ASSERT_EQ(Init(log, dir, 3, 1000, u"|", false), 0);
    ASSERT_EQ(Write(log, u"fresh"), 0);
  }
  EXPECT_EQ(ReadAll(dir / "Log.log"), "fresh|");
  EXPECT_EQ(ReadAll(dir / "Log.1.log"), "old|new|");
}

TEST_F(LogComponentTest, ComponentsOfTheSameFileShareTheWriter) {
  ObjectRef a = NewLog(), b = NewLog();
  ASSERT_EQ(Init(a, dir, 3, 60, u"|"), 0);
  ASSERT_EQ(Init(b, dir, 3, 60, u"|"), 0);
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(Write(a, u"a123456789"), 0);
    ASSERT_EQ(Write(b, u"b123456789"), 0);
  }
  EXPECT_EQ(FilesIn(dir).size(), 3u);
  for (const auto& f : FilesIn(dir)) EXPECT_LE(fs::file_size(dir / f), 60u) << f;
  EXPECT_EQ(ReadAll(dir / "Log.log").size() % 11, 0u);
}

TEST_F(LogComponentTest, FailuresComeBackAsStatus) {
  ObjectRef log = NewLog();
  EXPECT_EQ(Write(log, u"before init"), 91);
  // A folder below a plain file cannot be made.
  std::ofstream(dir / "plain", std::ios::binary) << "x";
  EXPECT_EQ(Init(log, dir / "plain" / "sub", 3, 1000), 75);
  EXPECT_EQ(Write(log, u"x"), 75);
}

TEST_F(LogComponentTest, RetriesTheFileOnTheNextWrite) {
  ObjectRef log = NewLog();
  const fs::path blocked = dir / "blocked";
  std::ofstream(blocked, std::ios::binary) << "x";
  EXPECT_EQ(Init(log, blocked, 3, 1000), 75);
  fs::remove(blocked);
  EXPECT_EQ(Write(log, u"now"), 0);
  EXPECT_EQ(ReadAll(blocked / "Log.log"), "now<END OF ENTRY>");
}

}  // namespace
