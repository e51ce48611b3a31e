// Whole evaluations through the public entry point on one Interpreter with
// the default host components. Fields are set once, each case checks its
// result once before timing, and every case reports the heap allocations
// per evaluation.
#include <benchmark/benchmark.h>

#include <string>
#include <thread>

#include "alloc_counter.h"
#include "tarn/tarn.h"

namespace {

struct Case {
  const char16_t* text;
  const char16_t* expected;
};

// The same host for every case.
struct BenchHost {
  tarn::Ref<tarn::DataFields> fields = tarn::MakeRef<tarn::DataFields>();
  tarn::Ref<tarn::RecordingErrorManager> errors = tarn::MakeRef<tarn::RecordingErrorManager>();
  tarn::Interpreter interpreter;

  BenchHost() {
    fields->AddField(u"Field1", u"Long", std::int32_t{41});
    fields->AddField(u"LastName", u"String", u"Smith");
    fields->AddField(u"FirstName", u"String", u"John");
    fields->AddField(u"Age", u"Long", std::int32_t{42});
    fields->AddField(u"AdmitDate", u"Date", tarn::CDate(tarn::Variant(u"11/14/2023 22:13:20")));
    fields->AddField(u"Phone", u"String", u"555-123-4567");
    interpreter.Init(fields, errors, u"bench", u"bench");
  }
};

void RunCase(benchmark::State& state, const Case& c) {
  BenchHost host;
  {
    std::u16string text = c.text;
    tarn::ObjectRef r = host.interpreter.RealizeRegularExpression(text);
    const std::u16string got = r ? tarn::CStr(tarn::Get(r, u"Data")) : u"<nothing>";
    if (got != c.expected || !host.errors->reports().empty()) {
      state.SkipWithError(("unexpected result " + tarn::ToUtf8(got)).c_str());
      return;
    }
  }
  const std::u16string source = c.text;
  std::uint64_t allocations = 0;
  for (auto _ : state) {
    std::u16string text = source;
    const std::uint64_t before = tarn::bench::AllocationCount();
    tarn::ObjectRef r = host.interpreter.RealizeRegularExpression(text);
    benchmark::DoNotOptimize(r.get());
    r = nullptr;
    allocations += tarn::bench::AllocationCount() - before;
  }
  // Each thread counts its own; the average over threads is per evaluation.
  state.counters["allocs/eval"] =
      benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(state.iterations()),
                         benchmark::Counter::kAvgThreads);
  state.SetItemsProcessed(state.iterations());
}

const Case kArith{u"Field1 + 1", u"42"};

void BM_Arith(benchmark::State& s) { RunCase(s, kArith); }
void BM_Group(benchmark::State& s) { RunCase(s, {u"2 * (3 + 4)", u"14"}); }
void BM_Concat(benchmark::State& s) {
  RunCase(s, {u"LastName & \", \" & FirstName", u"Smith, John"});
}
void BM_If(benchmark::State& s) { RunCase(s, {u"IF Age > 17 THEN \"A\" ELSE \"C\" END IF", u"A"}); }
void BM_FormatDate(benchmark::State& s) {
  RunCase(s, {u"Format AdmitDate, \"yyyymmdd\"", u"20231114"});
}
void BM_Replace(benchmark::State& s) {
  RunCase(s, {u"Replace Phone, \"-\" , \"\"", u"5551234567"});
}
void BM_HL7(benchmark::State& s) {
  RunCase(s, {u"FormatHL7DateTime AdmitDate, 0, , True, True, -500", u"20231114221320-0500"});
}

BENCHMARK(BM_Arith);
BENCHMARK(BM_Group);
BENCHMARK(BM_Concat);
BENCHMARK(BM_If);
BENCHMARK(BM_FormatDate);
BENCHMARK(BM_Replace);
BENCHMARK(BM_HL7);
// One Interpreter and host per thread: throughput should scale with cores.
BENCHMARK(BM_Arith)->Name("BM_ArithThreads")->ThreadRange(1, 2)->UseRealTime();

}  // namespace
