// HL7 batch files: FHS, then BHS ... BTS blocks around the messages, then
// FTS, written as the messages come so that a batch file streams too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "hl7/io.h"
#include "hl7/message.h"
#include "hl7/template.h"

namespace tarn::hl7 {

// Wraps the messages put to another sink in a batch envelope.
class BatchSink final : public MessageSink {
 public:
  // `per_batch` messages go in each BHS ... BTS block (0: all in one).
  // `stamp` is FHS-7 and BHS-7 (YYYYMMDDHHMMSS).
  BatchSink(MessageSink& inner, const Delimiters& d, Framing framing, std::size_t per_batch,
            std::string stamp);

  bool Put(std::string_view message) override;
  // Closes the open batch and the file; a run without messages still gets
  // one empty batch, so that the file is a whole batch file.
  bool Finish() override;
  bool Flush() override { return inner_.Flush(); }
  // Messages (not envelope segments) that reached the inner sink.
  std::size_t delivered() const override;
  const std::string& error() const override { return inner_.error(); }

 private:
  bool Segment(const std::string& text);
  bool OpenBatch();
  bool CloseBatch();

  MessageSink& inner_;
  Delimiters d_;
  Framing framing_;
  std::size_t per_batch_;
  std::string stamp_;
  std::string sender_;  // MSH-3 to MSH-6 of the first message, with separators
  bool file_open_ = false, batch_open_ = false;
  std::size_t in_batch_ = 0, batches_ = 0, messages_ = 0, envelope_ = 0;
};

// The local time as YYYYMMDDHHMMSS.
std::string LocalStamp();

}  // namespace tarn::hl7
