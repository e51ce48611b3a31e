// The debug log: settings from the registry, the calls to the log
// component, status codes and per-thread state (tarn-eval writing a log
// file is a row of tests/data/tools.tsv).
#include "support/debug_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/log_component.h"
#include "support/registry.h"
#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/interpreter.h"
#include "tarn/object.h"
#include "tarn/registry.h"

namespace {

using tarn::Arg;
using tarn::CallKind;
using tarn::Kind;
using tarn::MemoryRegistry;
using tarn::Variant;
using tarn::detail::InitDebugLog;

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

void RestoreDefaultLogComponent() {
  tarn::RegisterClass(tarn::kLogProgId, &tarn::detail::NewLogComponent);
}

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
    RestoreDefaultLogComponent();
  }
  void Set(std::u16string_view name, std::u16string_view value) {
    reg->SetString(kKey, name, value);
  }
  std::int32_t Init(std::u16string message = u"hello") { return InitDebugLog(message); }

  std::shared_ptr<MemoryRegistry> reg = std::make_shared<MemoryRegistry>();
  tarn::ScopedRegistryBackend scope{reg};
  LogRecord record;
};

// ---- "WriteDebugLog" ----

TEST_F(DebugLogTest, WriteDebugLogTurnsTheLogOnOrOff) {
  const std::pair<std::optional<std::u16string>, bool> cases[] = {
      {std::nullopt, false}, {u"yes", false}, {u"tRuE", true},
      {u"0", false},         {u"0.5", true},  {std::u16string(256, u'1'), false}};
  for (const auto& [value, on] : cases) {
    SCOPED_TRACE(value ? tarn::ToUtf8(value->substr(0, 8)) : "missing");
    tarn::detail::ResetDebugLogState();
    record = LogRecord{};
    reg->CreateKey(kKey);
    if (value)
      Set(u"WriteDebugLog", *value);
    else
      reg->DeleteValue(kKey, u"WriteDebugLog");
    EXPECT_EQ(tarn::detail::IsDebugLogEnabled(), on);
    EXPECT_EQ(Init(), on ? 0 : -1);
    EXPECT_EQ(record.created, on ? 1 : 0);
    std::u16string msg = u"x";
    EXPECT_EQ(tarn::detail::WriteDebugLogMsg(msg), 0);
    EXPECT_EQ(record.messages.size(), on ? 2u : 0u);
  }
}

TEST_F(DebugLogTest, WriteDebugLogOfAnotherTypeIsOff) {
  reg->SetValue(kKey, u"WriteDebugLog", tarn::RegistryValue::Dword(1));
  EXPECT_FALSE(tarn::detail::IsDebugLogEnabled());
  reg->SetValue(kKey, u"WriteDebugLog", tarn::RegistryValue::Raw(tarn::reg::kSz, {}));
  EXPECT_FALSE(tarn::detail::IsDebugLogEnabled());  // error 5, trapped
  EXPECT_EQ(Init(), -1);
}

// ---- The settings ----

TEST_F(DebugLogTest, SettingsReachTheComponent) {
  const struct {
    std::optional<std::u16string> log_size, num_logs;
    std::int32_t status, bytes, files;
  } cases[] = {{std::nullopt, std::nullopt, 0, 1048576, 3},
               {u"abc", std::nullopt, 0, 1048576, 3},
               {u"1.5", std::nullopt, 0, 2097152, 3},
               {u"2047", std::nullopt, 0, 2146435072, 3},
               {u"-2048", std::nullopt, 0, INT32_MIN, 3},
               {u"2048", std::nullopt, -2, 0, 0},
               {u"-2049", std::nullopt, -2, 0, 0},
               {std::nullopt, u"32767", 0, 1048576, 32767},
               // Read fine, but not an Integer for the component's Init: error 6.
               {std::nullopt, u"40000", 6, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(tarn::ToUtf8(c.log_size.value_or(u"-") + u" " + c.num_logs.value_or(u"-")));
    tarn::detail::ResetDebugLogState();
    record = LogRecord{};
    reg = std::make_shared<MemoryRegistry>();
    tarn::ScopedRegistryBackend inner{reg};
    Set(u"WriteDebugLog", u"1");
    if (c.log_size) Set(u"LogSize", *c.log_size);
    if (c.num_logs) Set(u"NumLogs", *c.num_logs);
    EXPECT_EQ(Init(), c.status);
    if (c.status != 0) {
      EXPECT_TRUE(record.messages.empty());
      if (c.status == -2) {
        EXPECT_EQ(record.created, 0);
      }
      continue;
    }
    ASSERT_EQ(record.init_args.size(), 8u);
    EXPECT_EQ(record.init_args[4].value, Variant(c.bytes));
    EXPECT_EQ(record.init_args[3].value, Variant(static_cast<std::int16_t>(c.files)));
  }
}

TEST_F(DebugLogTest, ComponentReceivesTheEightArguments) {
  Set(u"WriteDebugLog", u"True");
  Set(u"DebugLogPath", u" /var/log/x ");
  Set(u"LogSize", u"2");
  Set(u"NumLogs", u"4");
  ASSERT_EQ(Init(), 0);
  const auto& a = record.init_args;
  ASSERT_EQ(a.size(), 8u);
  EXPECT_EQ(a[0].value, Variant(u"KvUpDebg"));
  EXPECT_EQ(a[1].value, Variant(u"Log"));
  EXPECT_EQ(a[2].value, Variant(u" /var/log/x "));  // taken as it stands
  EXPECT_TRUE(a[2].byref);
  EXPECT_EQ(a[3].value.kind(), Kind::Integer);
  EXPECT_EQ(a[3].value, Variant(std::int16_t{4}));
  EXPECT_EQ(a[4].value.kind(), Kind::Long);
  EXPECT_EQ(a[4].value, Variant(std::int32_t{2097152}));
  EXPECT_TRUE(a[4].byref);
  EXPECT_EQ(a[5].value, Variant(true));
  EXPECT_EQ(a[6].value, Variant(u"<END OF ENTRY>"));  // "Separator" missing
  EXPECT_TRUE(a[6].byref);
  EXPECT_EQ(a[7].value, Variant(u"Debug Log"));
}

TEST_F(DebugLogTest, ZeroByteSettingMakesTheSettingsUnreadable) {
  Set(u"WriteDebugLog", u"1");
  reg->SetValue(kKey, u"NumLogs", tarn::RegistryValue::Raw(tarn::reg::kSz, {}));
  EXPECT_EQ(Init(), -2);
}

// ---- Entries ----

TEST_F(DebugLogTest, EntryIsNewlineDateNewlineMessage) {
  Set(u"WriteDebugLog", u"1");
  const double before = tarn::Now().serial;
  std::u16string message = u"  hello world  ";
  ASSERT_EQ(InitDebugLog(message), 0);
  EXPECT_EQ(message, u"  hello world  ");  // only an empty message is replaced
  ASSERT_EQ(record.messages.size(), 1u);
  const std::u16string& entry = record.messages[0];
  ASSERT_EQ(entry.substr(0, 2), u"\r\n");
  const auto second = entry.find(u"\r\n", 2);
  ASSERT_NE(second, std::u16string::npos);
  const std::u16string when = entry.substr(2, second - 2);
  EXPECT_EQ(entry.substr(second), u"\r\nhello world");
  ASSERT_TRUE(tarn::IsDate(Variant(when))) << tarn::ToUtf8(when);
  const double serial = tarn::CDate(Variant(when)).serial;
  EXPECT_GE(serial, before - 2.0 / 86400);
  EXPECT_LE(serial, tarn::Now().serial + 2.0 / 86400);
  EXPECT_EQ(when, tarn::CStr(Variant(tarn::CDate(Variant(when)))));  // general date form
}

TEST_F(DebugLogTest, MessageOfOnlySpacesBecomesDebugLogInitialized) {
  Set(u"WriteDebugLog", u"1");
  for (std::u16string message : {std::u16string(u"   "), std::u16string()}) {
    record.messages.clear();
    ASSERT_EQ(InitDebugLog(message), 0);
    EXPECT_EQ(message, u"Debug Log Initialized");
    ASSERT_EQ(record.messages.size(), 1u);
    const std::u16string& entry = record.messages[0];
    EXPECT_EQ(entry.substr(entry.size() - 23), u"\r\nDebug Log Initialized");
  }
}

TEST_F(DebugLogTest, UnwrittenFirstEntryGivesMinusThree) {
  Set(u"WriteDebugLog", u"1");
  record.write_status = 75;
  EXPECT_EQ(Init(), -3);
  std::u16string msg = u"more";
  EXPECT_EQ(tarn::detail::WriteDebugLogMsg(msg), 75);
}

TEST_F(DebugLogTest, ComponentThatCannotBeCreatedGives429) {
  Set(u"WriteDebugLog", u"1");
  ASSERT_TRUE(tarn::UnregisterClass(tarn::kLogProgId));
  EXPECT_EQ(Init(), 429);
  // No trap in WriteDebugLogMsg: logging is on but there is no component.
  std::u16string msg = u"x";
  try {
    tarn::detail::WriteDebugLogMsg(msg);
    ADD_FAILURE() << "no error raised";
  } catch (const tarn::RuntimeError& e) {
    EXPECT_EQ(e.number(), 91);
  }
}

TEST_F(DebugLogTest, ErrorOfTheComponentsInitIsTheStatus) {
  Set(u"WriteDebugLog", u"1");
  record.init_raises = 53;
  EXPECT_EQ(Init(), 53);
  record.init_raises.reset();
  record.init_result = Variant(u"not a number");
  EXPECT_EQ(Init(), 13);  // the result is converted to a Long
  record.init_result = Variant(u"12");
  EXPECT_EQ(Init(), 0);  // converted and not used
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
