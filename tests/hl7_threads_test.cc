// The HL7 builder on several threads: batches of the example records built
// on one, two and four threads must give the same messages and rejects in
// the same order. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hl7/batch.h"

namespace {

using namespace tarn::hl7;

std::vector<Built> BuildAll(std::size_t jobs, std::size_t batch_size) {
  const std::string dir = std::string(TARN_SOURCE_DIR) + "/examples/hl7/";
  const Template tmpl = LoadTemplate(dir + "adt_a01.tmpl");
  std::ifstream in(dir + "patients.jsonl", std::ios::binary);
  RecordOptions options;
  options.dates = {"BirthDate", "MessageDateTime", "AdmitDateTime", "DiagnosedAt"};
  RecordReader reader(in, "patients.jsonl", options);
  const BatchSettings settings{tmpl, reader, Framing::Mllp, [](const Record& r, const Outcome& o) {
                                 return std::to_string(r.number) + ": " +
                                        (o.failures.empty() ? o.reason : o.failures[0].reason);
                               }};
  BatchBuilder builder(settings, jobs);
  std::vector<Built> all, built;
  std::vector<RawRecord> batch;
  for (bool more = true; more;) {
    batch.clear();
    RawRecord raw;
    while (batch.size() < batch_size && (more = reader.NextRaw(raw))) batch.push_back(raw);
    builder.Run(batch, built);
    all.insert(all.end(), built.begin(), built.end());
  }
  return all;
}

TEST(Hl7Threads, BatchesOnSeveralThreadsGiveWhatOneThreadGives) {
  const std::vector<Built> one = BuildAll(1, 64);
  ASSERT_EQ(one.size(), 300u);
  for (const auto& [jobs, batch] :
       {std::pair<std::size_t, std::size_t>{2, 7}, {4, 64}, {4, 1000}}) {
    const std::vector<Built> many = BuildAll(jobs, batch);
    ASSERT_EQ(many.size(), one.size()) << jobs;
    for (std::size_t i = 0; i < one.size(); ++i) {
      EXPECT_EQ(many[i].ok, one[i].ok) << jobs << " threads, record " << i + 1;
      EXPECT_EQ(many[i].text, one[i].text) << jobs << " threads, record " << i + 1;
    }
  }
}

}  // namespace
