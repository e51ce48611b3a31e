// The debug log: settings from the registry and the calls to the log
// component (tests/data/debug_log.tsv), entries, per-thread state (tarn-eval
// writing a log file is a row of tests/data/tools.tsv).
#include "support/debug_log.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/log_component.h"
#include "support/data_rows.h"
#include "support/registry.h"
#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/object.h"
#include "tarn/registry.h"

namespace {

using tarn::Arg;
using tarn::CallKind;
using tarn::MemoryRegistry;
using tarn::Variant;
using tarn::detail::InitDebugLog;
using tarn::testing::DataRow;
using tarn::testing::ReadDataRows;
using tarn::testing::UnescapeBytes;

constexpr std::u16string_view kKey = u"HKLM\\SOFTWARE\\Quillmont\\Interfaces\\Upload\\Debug";

// What the fake log component saw.
struct InitArg {
  Variant value;
  bool byref;
};
struct LogRecord {
  int created = 0;
  std::vector<InitArg> init_args;
  std::vector<std::u16string> messages;
  Variant init_result = std::int32_t{0};
  std::int32_t write_status = 0;
  std::optional<std::int32_t> init_raises;
};

class FakeLog final : public tarn::Object {
 public:
  explicit FakeLog(LogRecord& r) : r_(r) {}
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg> args) override {
    if (member == u"Init") {
      if (r_.init_raises) tarn::Raise(*r_.init_raises);
      r_.init_args.clear();
      for (const Arg& a : args) r_.init_args.push_back({a.value(), a.byref() != nullptr});
      return r_.init_result;
    }
    if (member == u"WriteLogMsg") {
      tarn::RequireArgs(args, 1);
      r_.messages.push_back(tarn::CStr(args[0].value()));
      return r_.write_status;
    }
    tarn::RaiseNoMember(member);
  }

 private:
  LogRecord& r_;
};

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tarn::detail::ResetDebugLogState();
    tarn::RegisterClass(tarn::kLogProgId, [this] {
      ++record.created;
      return tarn::ObjectRef(tarn::MakeRef<FakeLog>(record));
    });
  }
  void TearDown() override {
    tarn::detail::ResetDebugLogState();
    tarn::RegisterClass(tarn::kLogProgId, &tarn::detail::NewLogComponent);
  }
  void Set(std::u16string_view name, std::u16string_view value) {
    reg->SetString(kKey, name, value);
  }
  std::int32_t Init(std::u16string message = u"hello") { return InitDebugLog(message); }

  std::shared_ptr<MemoryRegistry> reg = std::make_shared<MemoryRegistry>();
  tarn::ScopedRegistryBackend scope{reg};
  LogRecord record;
};

// ---- The switches, as rows of tests/data/debug_log.tsv ----

TEST_F(DebugLogTest, SwitchesAsTheTableSays) {
  for (const DataRow& row : ReadDataRows("debug_log.tsv")) {
    SCOPED_TRACE(row.where);
    record = LogRecord{};
    SetUp();  // a fresh start with the fake component
    const std::string& component = row["component"];
    if (component == "missing") {
      ASSERT_TRUE(tarn::UnregisterClass(tarn::kLogProgId));
    }
    if (component.starts_with("init raises ")) record.init_raises = std::stoi(component.substr(12));
    if (component.starts_with("init returns "))
      record.init_result = Variant(tarn::FromUtf8(component.substr(13)));
    if (component.starts_with("write gives "))
      record.write_status = std::stoi(component.substr(12));
    auto settings = std::make_shared<MemoryRegistry>();
    ASSERT_TRUE(settings->ImportBytes("REGEDIT4\r\n[" + tarn::ToUtf8(kKey) + "]\r\n" +
                                      UnescapeBytes(row["settings"])));
    tarn::ScopedRegistryBackend inner{settings};
    EXPECT_EQ(tarn::detail::IsDebugLogEnabled() ? "yes" : "no", row["enabled"]);
    EXPECT_EQ(std::to_string(Init()), row["status"]);
    EXPECT_EQ(std::to_string(record.created), row["created"]);
    // Init's arguments as "[&]TYPE TEXT" each (&: by reference).
    std::string args;
    for (const InitArg& a : record.init_args)
      args +=
          (a.byref ? "|&" : "|") + tarn::ToUtf8(a.value.TypeName() + u" " + tarn::CStr(a.value));
    EXPECT_EQ(args, row["files"] == "-"
                        ? ""
                        : "|String KvUpDebg|String Log|&String " + row["path"] + "|Integer " +
                              row["files"] + "|&Long " + row["bytes"] + "|Boolean True|&String " +
                              row["separator"] + "|String Debug Log");
    std::u16string msg = u"x";
    std::string then;
    try {
      then = std::to_string(tarn::detail::WriteDebugLogMsg(msg));
    } catch (const tarn::RuntimeError& e) {
      then = "error " + std::to_string(e.number());
    }
    EXPECT_EQ(then, row["then"]);
    EXPECT_EQ(std::to_string(record.messages.size()), row["entries"]);
  }
}

// A value as long as the reader's buffer counts as missing.
TEST_F(DebugLogTest, WriteDebugLogTooLongIsOff) {
  Set(u"WriteDebugLog", std::u16string(256, u'1'));
  EXPECT_EQ(Init(), -1);
}

// ---- Entries ----

// Only a message of nothing but spaces is replaced.
TEST_F(DebugLogTest, EntryIsNewlineDateNewlineMessage) {
  Set(u"WriteDebugLog", u"1");
  const struct {
    std::u16string given, after, logged;  // the message, what the call leaves in it, the entry's
  } cases[] = {{u"  hello world  ", u"  hello world  ", u"hello world"},
               {u"   ", u"Debug Log Initialized", u"Debug Log Initialized"},
               {u"", u"Debug Log Initialized", u"Debug Log Initialized"}};
  for (const auto& c : cases) {
    record.messages.clear();
    const double before = tarn::Now().serial;
    std::u16string message = c.given;
    ASSERT_EQ(InitDebugLog(message), 0);
    EXPECT_EQ(message, c.after);
    ASSERT_EQ(record.messages.size(), 1u);
    const std::u16string& entry = record.messages[0];
    ASSERT_EQ(entry.substr(0, 2), u"\r\n");
    const auto second = entry.find(u"\r\n", 2);
    ASSERT_NE(second, std::u16string::npos);
    const std::u16string when = entry.substr(2, second - 2);
    EXPECT_EQ(entry.substr(second), u"\r\n" + c.logged);
    ASSERT_TRUE(tarn::IsDate(Variant(when))) << tarn::ToUtf8(when);
    const double serial = tarn::CDate(Variant(when)).serial;
    EXPECT_GE(serial, before - 2.0 / 86400);
    EXPECT_LE(serial, tarn::Now().serial + 2.0 / 86400);
    EXPECT_EQ(when, tarn::CStr(Variant(tarn::CDate(Variant(when)))));  // general date form
  }
}

TEST_F(DebugLogTest, StateIsPerThread) {
  Set(u"WriteDebugLog", u"1");
  ASSERT_EQ(Init(), 0);
  std::int32_t other_status = -99;
  std::thread([&] {
    std::u16string msg = u"elsewhere";
    other_status = tarn::detail::WriteDebugLogMsg(msg);
  }).join();
  EXPECT_EQ(other_status, 0);
  EXPECT_EQ(record.messages.size(), 1u);
  std::u16string msg = u"here";
  EXPECT_EQ(tarn::detail::WriteDebugLogMsg(msg), 0);
  EXPECT_EQ(record.messages.size(), 2u);
}

}  // namespace
