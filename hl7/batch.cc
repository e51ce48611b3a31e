// FHS and BHS repeat the first message's sending and receiving application
// and facility (MSH-3 to MSH-6), as receivers route a batch by its header.
#include "hl7/batch.h"

#include <algorithm>
#include <ctime>

namespace tarn::hl7 {

std::string LocalStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &t);
  return text;
}

BatchSink::BatchSink(MessageSink& inner, const Delimiters& d, Framing framing,
                     std::size_t per_batch, std::string stamp)
    : inner_(inner), d_(d), framing_(framing), per_batch_(per_batch), stamp_(std::move(stamp)) {
  sender_.assign(4, d_.field);
}

bool BatchSink::Segment(const std::string& text) {
  ++envelope_;
  return inner_.Put(text + (framing_ == Framing::Lf ? "\r\n" : "\r"));
}

std::size_t BatchSink::delivered() const {
  const std::size_t reached = inner_.delivered();
  return std::min(messages_, reached - std::min(reached, envelope_));
}

bool BatchSink::OpenBatch() {
  const std::string header = std::string(1, d_.field) + d_.component + d_.repetition + d_.escape +
                             d_.subcomponent + sender_ + d_.field + stamp_;
  if (!file_open_) {
    file_open_ = true;
    if (!Segment("FHS" + header)) return false;
  }
  batch_open_ = true;
  in_batch_ = 0;
  ++batches_;
  return Segment("BHS" + header);
}

bool BatchSink::CloseBatch() {
  batch_open_ = false;
  return Segment("BTS" + std::string(1, d_.field) + std::to_string(in_batch_));
}

bool BatchSink::Put(std::string_view message) {
  if (!file_open_) {
    // MSH-3 to MSH-6: from the second field separator up to the sixth.
    const std::string_view msh = message.substr(0, message.find('\r'));
    const std::size_t start = msh.find(d_.field, 4);
    std::size_t end = start;
    for (int i = 0; i < 4 && end != std::string_view::npos; ++i) end = msh.find(d_.field, end + 1);
    if (start != std::string_view::npos)
      sender_ = std::string(msh.substr(start, end == std::string_view::npos ? end : end - start));
  }
  if (batch_open_ && per_batch_ && in_batch_ == per_batch_ && !CloseBatch()) return false;
  if (!batch_open_ && !OpenBatch()) return false;
  if (!inner_.Put(message)) return false;
  ++in_batch_;
  ++messages_;
  return true;
}

bool BatchSink::Finish() {
  if (!batch_open_ && !OpenBatch()) return false;
  if (!CloseBatch()) return false;
  if (!Segment("FTS" + std::string(1, d_.field) + std::to_string(batches_))) return false;
  return inner_.Finish();
}

}  // namespace tarn::hl7
