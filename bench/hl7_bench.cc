// tarn-hl7's throughput: the example ADT^A01 template over the example
// patient records, messages per second. Loading and parsing stay outside
// the timed loop; rejected records count as processed too.
#ifdef TARN_HL7_BENCH
#include <benchmark/benchmark.h>

#include <string>

#include "hl7/message.h"
#include "hl7/records.h"
#include "hl7/template.h"

static void BM_Hl7Messages(benchmark::State& state) {
  const std::string dir = std::string(TARN_SOURCE_DIR) + "/examples/hl7/";
  const tarn::hl7::Template t = tarn::hl7::LoadTemplate(dir + "adt_a01.tmpl");
  tarn::hl7::RecordOptions options;
  options.dates = {"BirthDate", "MessageDateTime", "AdmitDateTime", "DiagnosedAt"};
  const auto records = tarn::hl7::LoadRecords(dir + "patients.jsonl", options);
  tarn::hl7::MessageBuilder builder(t);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto& r : records) {
      const tarn::hl7::Outcome o = builder.Build(r);
      bytes += o.message.size();
      benchmark::DoNotOptimize(o.message.data());
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * records.size()));
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_Hl7Messages)->Unit(benchmark::kMillisecond);
#endif
