// HL7 batch files: FHS, then BHS ... BTS blocks around the messages, then
// FTS, written as the messages come so that a batch file streams too.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

#include "hl7/message.h"
#include "hl7/template.h"

namespace tarn::hl7 {

class BatchWriter {
 public:
  // `per_batch` messages go in each BHS ... BTS block (0: all in one).
  // `stamp` is FHS-7 and BHS-7 (YYYYMMDDHHMMSS).
  BatchWriter(std::ostream& out, const Delimiters& d, Framing framing, std::size_t per_batch,
              std::string stamp);

  void Add(std::string_view message);
  // Closes the open batch and the file; a run without messages still writes
  // one empty batch, so that the file is a whole batch file.
  void Finish();

  std::size_t batches() const { return batches_; }

 private:
  void Segment(const std::string& text);
  void OpenBatch();
  void CloseBatch();

  std::ostream& out_;
  Delimiters d_;
  Framing framing_;
  std::size_t per_batch_;
  std::string stamp_;
  std::string sender_;  // MSH-3 to MSH-6 of the first message, with separators
  bool file_open_ = false, batch_open_ = false;
  std::size_t in_batch_ = 0, batches_ = 0;
};

// The local time as YYYYMMDDHHMMSS.
std::string LocalStamp();

}  // namespace tarn::hl7
