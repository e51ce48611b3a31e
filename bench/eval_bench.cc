// Whole evaluations through the public entry point; fields are set up once,
// outside the timed loop.
#include <benchmark/benchmark.h>

#include "tarn/tarn.h"

static void BM_Arith(benchmark::State& state) {
  auto fields = tarn::MakeRef<tarn::DataFields>();
  fields->AddField(u"Field1", u"Long", std::int32_t{41});
  auto errors = tarn::MakeRef<tarn::RecordingErrorManager>();
  tarn::Interpreter interp;
  interp.Init(fields, errors, u"bench", u"bench");
  for (auto _ : state) {
    std::u16string text = u"Field1 + 1";
    benchmark::DoNotOptimize(interp.RealizeRegularExpression(text));
  }
}
BENCHMARK(BM_Arith);

BENCHMARK_MAIN();
