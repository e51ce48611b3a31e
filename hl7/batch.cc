// FHS and BHS repeat the first message's sending and receiving application
// and facility (MSH-3 to MSH-6), as receivers route a batch by its header.
#include "hl7/batch.h"

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

BatchWriter::BatchWriter(std::ostream& out, const Delimiters& d, Framing framing,
                         std::size_t per_batch, std::string stamp)
    : out_(out), d_(d), framing_(framing), per_batch_(per_batch), stamp_(std::move(stamp)) {
  sender_.assign(4, d_.field);
}

void BatchWriter::Segment(const std::string& text) {
  out_ << text << '\r';
  if (framing_ == Framing::Lf) out_ << '\n';
}

void BatchWriter::OpenBatch() {
  if (!file_open_) {
    file_open_ = true;
    Segment("FHS" + std::string(1, d_.field) + d_.component + d_.repetition + d_.escape +
            d_.subcomponent + sender_ + d_.field + stamp_);
  }
  Segment("BHS" + std::string(1, d_.field) + d_.component + d_.repetition + d_.escape +
          d_.subcomponent + sender_ + d_.field + stamp_);
  batch_open_ = true;
  in_batch_ = 0;
  ++batches_;
}

void BatchWriter::CloseBatch() {
  Segment("BTS" + std::string(1, d_.field) + std::to_string(in_batch_));
  batch_open_ = false;
}

void BatchWriter::Add(std::string_view message) {
  if (!file_open_) {
    // MSH-3 to MSH-6: from the second field separator up to the sixth.
    const std::string_view msh = message.substr(0, message.find('\r'));
    std::size_t start = msh.find(d_.field, 4);
    std::size_t end = start;
    for (int i = 0; i < 4 && end != std::string_view::npos; ++i) end = msh.find(d_.field, end + 1);
    if (start != std::string_view::npos)
      sender_ = std::string(msh.substr(start, end == std::string_view::npos ? end : end - start));
  }
  if (batch_open_ && per_batch_ && in_batch_ == per_batch_) CloseBatch();
  if (!batch_open_) OpenBatch();
  out_ << Frame(message, framing_);
  ++in_batch_;
}

void BatchWriter::Finish() {
  if (!batch_open_) OpenBatch();
  CloseBatch();
  Segment("FTS" + std::string(1, d_.field) + std::to_string(batches_));
}

}  // namespace tarn::hl7
