// Builds batches of records on several threads, each with its own
// interpreter and host, and gives the results back in input order, so that
// any number of threads writes exactly what one thread writes.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hl7/message.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace tarn::hl7 {

// What one record came to: its framed message, or the text of its reject.
struct Built {
  bool ok = false;
  std::string text;
};

struct BatchSettings {
  const Template& tmpl;
  const RecordReader& reader;  // reads the records' values (Complete)
  Framing framing = Framing::None;
  // The reject's text; called on the building threads, so it keeps no state.
  std::function<std::string(const Record&, const Outcome&)> reject_text;
};

class BatchBuilder {
 public:
  // `jobs` threads; one (or zero) builds on the calling thread.
  BatchBuilder(const BatchSettings& settings, std::size_t jobs);
  ~BatchBuilder();
  BatchBuilder(const BatchBuilder&) = delete;
  BatchBuilder& operator=(const BatchBuilder&) = delete;

  // Builds every record of `batch` into the same place of `out`.
  void Run(std::vector<RawRecord>& batch, std::vector<Built>& out);

 private:
  void Work(std::size_t k, std::size_t jobs);
  void BuildOne(MessageBuilder& builder, RawRecord& raw, Built& built) const;

  const BatchSettings& settings_;
  std::unique_ptr<MessageBuilder> inline_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<RawRecord>* batch_ = nullptr;
  std::vector<Built>* out_ = nullptr;
  std::size_t busy_ = 0, generation_ = 0;
  bool stop_ = false;
};

}  // namespace tarn::hl7
