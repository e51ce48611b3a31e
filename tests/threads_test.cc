// One Interpreter per thread: four threads, each with its own host
// collection, evaluate the same mixed set of texts many times and must get
// exactly what one thread alone gets. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <thread>

#include "support/host_fixture.h"

namespace tarn::testing {
namespace {

const std::u16string kTexts[] = {
    u"Field1 + 1",
    u"2 * (3 + 4) - Child \\ 5",
    u"7 / 2",
    u"LastName & \", \" & FirstName",
    u"Format AdmitDate, \"yyyymmdd hh:nn:ss\"",
    u"Format Field1, \"0000.00\"",
    u"Replace Phone, \"-\" , \"\"",
    u"\"MRN\" & Replace Name, \"a\" , \"o\" , 1, 10, 0",
    u"FormatHL7DateTime AdmitDate, 0, , True, True, -500",
    u"IF Age > 17 THEN \"A\" ELSE \"C\" END IF",
    u"IF Child > 17 THEN\r\n  \"A\"\r\nELSEIF Child > 9 THEN\r\n  \"T\"\r\nELSE\r\n  \"C\"\r\nEND "
    u"IF",
    u"#1/2/2003# - #1/1/2003#",
    u"1 / 0",
    u"1 + ?",
    u"\"abc",
    u"99999999999",
    u"Unknown & 1",
};

struct Host1 {
  Ref<DataFields> fields = MakeRef<DataFields>();
  Ref<RecordingErrorManager> errors = MakeRef<RecordingErrorManager>();
  Interpreter interp;
  Host1() {
    fields->AddField(u"Field1", u"Long", std::int32_t{41});
    fields->AddField(u"Age", u"Long", std::int32_t{30});
    fields->AddField(u"Child", u"Long", std::int32_t{12});
    fields->AddField(u"Name", u"String", u"banana");
    fields->AddField(u"LastName", u"String", u"Smith");
    fields->AddField(u"FirstName", u"String", u"John");
    fields->AddField(u"Phone", u"String", u"555-1234");
    fields->AddField(u"AdmitDate", u"Date", Date{45296.5730324074});
    interp.Init(fields, errors, u"Sys", u"App");
  }

  // The result, its name and the procedures that reported, as one line.
  std::string Run(const std::u16string& text) {
    ObjectRef r = interp.RealizeRegularExpression(text);
    std::string out = r ? ToUtf8(CStr(Get(r, u"Name"))) + " " + Show(Get(r, u"Data")) : "<nothing>";
    for (const auto& e : errors->reports()) out += " | " + ToUtf8(e.procedure + u" " + e.message);
    errors->Clear();
    return out + " | fields " + std::to_string(fields->Count());
  }
};

std::vector<std::string> RunAll(int rounds) {
  Host1 host;
  std::vector<std::string> out;
  for (int i = 0; i < rounds; ++i)
    for (const auto& text : kTexts) out.push_back(host.Run(text));
  return out;
}

TEST(Threads, FourInterpretersAtOnceAgreeWithOneAlone) {
  constexpr int kRounds = 300;
  const std::vector<std::string> expected = RunAll(kRounds);
  ASSERT_EQ(expected.size(), std::size(kTexts) * kRounds);

  std::vector<std::vector<std::string>> got(4);
  std::vector<std::thread> threads;
  for (auto& g : got) threads.emplace_back([&g] { g = RunAll(kRounds); });
  for (auto& t : threads) t.join();
  for (std::size_t t = 0; t < got.size(); ++t) {
    ASSERT_EQ(got[t].size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
      ASSERT_EQ(got[t][i], expected[i]) << "thread " << t << ", evaluation " << i;
  }
}

// Interpreters created and destroyed on threads while others evaluate.
TEST(Threads, ShortLivedInterpretersBesideLongRunningOnes) {
  const std::vector<std::string> expected = RunAll(1);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i)
        if (RunAll(1) != expected) ++mismatches[static_cast<std::size_t>(t)];
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace tarn::testing
