// The delivery journal: one JSON line per record once its outcome is final,
// so that a run started again with the same journal sends nothing twice and
// skips nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::hl7 {

struct JournalEntry {
  std::size_t record = 0;  // counting from 1 in input order
  bool delivered = false;  // else rejected
  std::string control_id;  // MSH-10 as sent; empty when the record never became a message
  std::string reason;
};

// {"record": N, "outcome": "delivered"|"rejected", "control_id": "...", "reason": "..."}
std::string JournalLine(const JournalEntry& entry);

class Journal {
 public:
  // Reads what earlier runs wrote and opens the file for appending; a last
  // line cut short by a crash is cut from the file. Control IDs that are
  // `control_prefix` followed by digits tell how the counter was numbered.
  // Throws std::runtime_error when the file cannot be used (unreadable, a
  // damaged line before the last, or another run holding it).
  Journal(const std::string& path, std::string_view control_prefix);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  bool Final(std::size_t record) const { return record < final_.size() && final_[record]; }
  std::size_t delivered() const { return delivered_; }
  std::size_t rejected() const { return rejected_; }
  // The counter of an earlier run's control ID less its record's number, so
  // that a resumed run numbers its messages as the first run did.
  std::optional<std::int64_t> control_offset() const { return control_offset_; }
  // Whether a torn last line was cut when the file was opened.
  bool repaired() const { return repaired_; }

  // Writes the line in one write and waits until it is on disk. Throws
  // std::runtime_error when it cannot be written.
  void Append(const JournalEntry& entry);

 private:
  void Note(const JournalEntry& entry);

  std::string path_;
  std::string prefix_;
  int fd_ = -1;
  std::vector<bool> final_;
  std::size_t delivered_ = 0, rejected_ = 0;
  std::optional<std::int64_t> control_offset_;
  bool repaired_ = false;
};

}  // namespace tarn::hl7
