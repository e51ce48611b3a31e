// Record i of a batch goes to thread i mod N; each thread owns a message
// builder made on that thread, as the interpreter keeps per-thread state.
#include "hl7/batch.h"

namespace tarn::hl7 {

BatchBuilder::BatchBuilder(const BatchSettings& settings, std::size_t jobs) : settings_(settings) {
  if (jobs <= 1) {
    inline_ = std::make_unique<MessageBuilder>(settings_.tmpl);
    return;
  }
  for (std::size_t k = 0; k < jobs; ++k) threads_.emplace_back([this, k, jobs] { Work(k, jobs); });
}

BatchBuilder::~BatchBuilder() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (auto& t : threads_) t.join();
}

void BatchBuilder::BuildOne(MessageBuilder& builder, RawRecord& raw, Built& built) const {
  Record record;
  settings_.reader.Complete(std::move(raw), record);
  const Outcome o = builder.Build(record);
  built.ok = o.ok();
  built.text = built.ok ? Frame(o.message, settings_.framing) : settings_.reject_text(record, o);
}

void BatchBuilder::Run(std::vector<RawRecord>& batch, std::vector<Built>& out) {
  out.assign(batch.size(), Built{});
  if (inline_) {
    for (std::size_t i = 0; i < batch.size(); ++i) BuildOne(*inline_, batch[i], out[i]);
    return;
  }
  std::unique_lock lock(mutex_);
  batch_ = &batch;
  out_ = &out;
  busy_ = threads_.size();
  ++generation_;
  wake_.notify_all();
  done_.wait(lock, [this] { return busy_ == 0; });
}

void BatchBuilder::Work(std::size_t k, std::size_t jobs) {
  MessageBuilder builder(settings_.tmpl);
  std::size_t seen = 0;
  for (;;) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
    if (stop_) return;
    seen = generation_;
    auto& batch = *batch_;
    auto& out = *out_;
    lock.unlock();
    for (std::size_t i = k; i < batch.size(); i += jobs) BuildOne(builder, batch[i], out[i]);
    lock.lock();
    if (--busy_ == 0) done_.notify_one();
  }
}

}  // namespace tarn::hl7
