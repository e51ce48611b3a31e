// The delivery journal: a first line naming the run it belongs to, then one
// JSON line per record once its outcome is final, so that a run started
// again with the same journal sends nothing twice and skips nothing.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarn::hl7 {

// What makes a run's messages what they are: the template's content and
// the options that change messages ("--control-id" among them), by name.
struct RunIdentity {
  std::string template_digest;
  std::map<std::string, std::string> options;
};

struct JournalEntry {
  std::size_t record = 0;  // counting from 1 in input order
  bool delivered = false;  // else rejected
  std::string control_id;  // MSH-10 as sent; empty when the record never became a message
  std::string reason;
  std::string digest;  // of the record as read (RecordDigest)
  std::string key;     // JSON text of the record's --key value; empty when none
};

// {"record": N, "outcome": "delivered"|"rejected", "control_id": "...",
//  "reason": "...", "input": "<digest>"[, "key": K]}
std::string JournalLine(const JournalEntry& entry);
// {"journal": 1, "template": "<digest>", "options": {...}}
std::string JournalHeader(const RunIdentity& run);

// A SHA-256 of the text, as 64 hex digits; RecordDigest keeps 32 of them.
std::string TextDigest(std::string_view text);
std::string RecordDigest(std::string_view text);

// Refused: the journal belongs to another run, or is damaged.
class JournalRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A line could not be written.
class JournalWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Journal {
 public:
  // Reads what earlier runs wrote and opens the file for appending; a last
  // line without its line end (a crash in the middle of its write) is cut
  // from the file. A new or empty journal gets the run's first line.
  // Throws JournalRefused when the journal was written for another run
  // (saying what differs), a line is damaged (with its number), or another
  // run holds it; JournalWriteError when it cannot be read or written.
  Journal(const std::string& path, const RunIdentity& run);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // The entry an earlier run wrote for the record, or null.
  const JournalEntry* Settled(std::size_t record) const {
    return record >= 1 && record <= earlier_.size() ? &earlier_[record - 1] : nullptr;
  }
  // Records earlier runs settled (1 to this), and how.
  std::size_t settled() const { return earlier_.size(); }
  std::size_t delivered() const { return delivered_; }
  std::size_t rejected() const { return rejected_; }
  // Whether a torn last line was cut when the file was opened.
  bool repaired() const { return repaired_; }
  // The key of the last record settled that has one (JSON text), or empty:
  // keys grow with the records, so it is the highest.
  const std::string& highest_key() const { return highest_key_; }
  // Records with a key settled by earlier runs whose --on-settled
  // statement was not recorded as done.
  std::vector<std::size_t> Unmarked() const;
  // Records that --on-settled ran for `record` ({"marked": N}). Not synced:
  // a line lost costs only the statement run again.
  void Mark(std::size_t record);

  // Writes the line in one write and waits until it is on disk. Throws
  // JournalWriteError when it cannot be written.
  void Append(const JournalEntry& entry);

 private:
  void WriteAll(const std::string& line);
  void Write(const std::string& line);

  std::string path_;
  int fd_ = -1;
  std::vector<JournalEntry> earlier_;
  std::size_t next_ = 1;  // the record the next line must be for
  std::size_t delivered_ = 0, rejected_ = 0;
  bool repaired_ = false;
  std::string highest_key_;
  std::vector<bool> marked_;  // by record - 1
};

}  // namespace tarn::hl7
