// The default log component "ZellLog.Log": Init, WriteLogMsg, file names
// and rotation, a file shared by two components (tests/data/log_component.tsv),
// and failures that come back as status codes.
#include "host/log_component.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/data_rows.h"
#include "support/temp_files.h"
#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/object.h"

namespace {

namespace fs = std::filesystem;
using tarn::Arg;
using tarn::ObjectRef;
using tarn::Variant;

using tarn::testing::DataRow;
using tarn::testing::ReadAll;
using tarn::testing::ReadDataRows;
using tarn::testing::Split;
using tarn::testing::TempDir;
using tarn::testing::UnescapeBytes;

class LogComponentTest : public ::testing::Test {
 protected:
  void SetUp() override { tarn::RegisterDefaultComponents(); }
  void TearDown() override { fs::remove_all(dir); }

  ObjectRef NewLog() { return tarn::CreateObject(tarn::kLogProgId); }

  // Init through the late-bound call, with the argument kinds the debug log
  // passes (by value: with the member name in other letter case).
  std::int32_t Init(const ObjectRef& log, const fs::path& folder, std::int16_t files,
                    std::int32_t size, std::u16string separator = u"<END OF ENTRY>",
                    bool append = true, std::u16string name = u"Log", bool byval = false) {
    Variant app(u"KvUpDebg"), n(std::move(name)), path(folder.u16string()), num(files), bytes(size),
        flag(append), sep(std::move(separator)), title(u"Debug Log");
    auto ref = [byval](Variant& v) { return byval ? Arg::ByVal(v) : Arg::ByRef(v); };
    Arg args[] = {Arg::ByVal(app), Arg::ByVal(n),    ref(path), Arg::ByVal(num),
                  ref(bytes),      Arg::ByVal(flag), ref(sep),  Arg::ByVal(title)};
    return tarn::CLng(tarn::Call(log, byval ? u"init" : u"Init", args));
  }
  std::int32_t Write(const ObjectRef& log, std::u16string text, bool byval = false) {
    Variant v(std::move(text));
    Arg args[] = {Arg::ByVal(v)};
    return tarn::CLng(tarn::Call(log, byval ? u"WRITELOGMSG" : u"WriteLogMsg", args));
  }

  fs::path dir = TempDir("t");
};

TEST_F(LogComponentTest, WritesAsTheTableSays) {
  int number = 0;
  for (const DataRow& row : ReadDataRows("log_component.tsv")) {
    SCOPED_TRACE(row.where);
    const fs::path folder = dir / std::to_string(++number) / row["folder"];
    if (row["existing"] != "-") {
      fs::create_directories(folder);
      std::ofstream(folder / "Log.log", std::ios::binary) << UnescapeBytes(row["existing"]);
    }
    const bool byval = row["args"] == "byval";
    std::vector<ObjectRef> logs{NewLog()};
    if (row["args"] == "two") logs.push_back(NewLog());
    for (const ObjectRef& log : logs)
      ASSERT_EQ(Init(log, folder, static_cast<std::int16_t>(std::stoi(row["files"])),
                     std::stoi(row["size"]), tarn::FromUtf8(row["separator"]),
                     row["append"] == "yes", tarn::FromUtf8(row["name"]), byval),
                0);
    std::size_t turn = 0;
    for (const std::string& entry : Split(UnescapeBytes(row["writes"]), '|'))
      EXPECT_EQ(Write(logs[turn++ % logs.size()], tarn::FromUtf8(entry), byval), 0);
    std::map<std::string, std::string> files;  // in the order of their names
    for (const auto& f : fs::directory_iterator(folder))
      files[f.path().filename().string()] = ReadAll(f.path());
    std::string found;
    for (const auto& [file, text] : files) found += (found.empty() ? "" : "|") + file + "=" + text;
    EXPECT_EQ(found, UnescapeBytes(row["expected"]));
  }
}

// A folder below a plain file cannot be made; it is tried again on the
// next write.
TEST_F(LogComponentTest, FailuresComeBackAsStatusAndAreRetried) {
  ObjectRef log = NewLog();
  EXPECT_EQ(Write(log, u"before init"), 91);
  const fs::path blocked = dir / "blocked";
  std::ofstream(blocked, std::ios::binary) << "x";
  EXPECT_EQ(Init(log, blocked / "sub", 3, 1000), 75);
  EXPECT_EQ(Write(log, u"x"), 75);
  fs::remove(blocked);
  EXPECT_EQ(Write(log, u"now"), 0);
  EXPECT_EQ(ReadAll(blocked / "sub" / "Log.log"), "now<END OF ENTRY>");
}

}  // namespace
