// Each line goes out in one write(2) followed by fdatasync, so that after a
// kill or a power cut the file holds whole lines plus at most one torn last
// line, which the next run cuts off (its record is then simply sent again).
// Lines are written in input order, so the journal's n-th record line is
// record n: anything else is damage, and damage is never guessed around.
#include "hl7/journal.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

namespace tarn::hl7 {

namespace {

using nlohmann::json;

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

bool IsHex(const std::string& s, std::size_t size) {
  return s.size() == size && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The entry a line holds, or why it is no entry for `expected`.
std::string ReadEntry(const std::string& text, std::size_t expected, JournalEntry& entry) {
  const auto j = json::parse(text, nullptr, false);
  if (!j.is_object()) return "not a JSON object";
  const auto record = j.find("record");
  if (record == j.end() || !record->is_number_unsigned()) return "no record number";
  if (record->get<std::uint64_t>() != expected)
    return "record " + std::to_string(record->get<std::uint64_t>()) + " where record " +
           std::to_string(expected) + " belongs";
  const auto outcome = j.find("outcome");
  if (outcome == j.end() || !outcome->is_string() ||
      (*outcome != "delivered" && *outcome != "rejected"))
    return "no known outcome";
  const auto id = j.find("control_id");
  const auto reason = j.find("reason");
  const auto input = j.find("input");
  if (id == j.end() || !id->is_string()) return "no control ID";
  if (reason != j.end() && !reason->is_string()) return "a reason that is no text";
  if (input == j.end() || !input->is_string() || !IsHex(input->get<std::string>(), 32))
    return "no digest of the record's input";
  entry.record = expected;
  entry.delivered = *outcome == "delivered";
  entry.control_id = id->get<std::string>();
  entry.digest = input->get<std::string>();
  if (const auto key = j.find("key"); key != j.end()) {
    if (!key->is_number() && !key->is_string()) return "a key that is no number or text";
    entry.key = key->dump();
  }
  return {};
}

// What differs between the run a header names and this one; empty if nothing.
std::string Difference(const std::string& text, const RunIdentity& run) {
  const auto j = json::parse(text, nullptr, false);
  if (!j.is_object() || !j.contains("journal") || !j["journal"].is_number_unsigned() ||
      !j.contains("template") || !j["template"].is_string() || !j.contains("options") ||
      !j["options"].is_object())
    return "line 1 is no journal header (a file of another kind, or of an older tarn-hl7)";
  if (j["journal"] != 1) return "line 1 names a journal format this tarn-hl7 does not know";
  if (j["template"] != run.template_digest) return "the template's content differs from that run's";
  std::map<std::string, std::string> then;
  for (const auto& [name, value] : j["options"].items()) {
    if (!value.is_string()) return "line 1 is damaged (option " + name + ")";
    then[name] = value.get<std::string>();
  }
  for (const auto& [name, value] : run.options) {
    const auto it = then.find(name);
    const std::string was = it == then.end() ? "" : it->second;
    if (was != value) return name + " was " + Quoted(was) + " and is now " + Quoted(value);
  }
  for (const auto& [name, value] : then)
    if (!run.options.count(name) && !value.empty())
      return name + " was " + Quoted(value) + " and is not known now";
  return {};
}

}  // namespace

std::string TextDigest(std::string_view text) {
  unsigned char hash[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!EVP_Digest(text.data(), text.size(), hash, &size, EVP_sha256(), nullptr))
    throw std::bad_alloc();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[hash[i] >> 4];
    out += kHex[hash[i] & 15];
  }
  return out;
}

std::string RecordDigest(std::string_view text) { return TextDigest(text).substr(0, 32); }

std::string JournalLine(const JournalEntry& entry) {
  nlohmann::ordered_json j;
  j["record"] = entry.record;
  j["outcome"] = entry.delivered ? "delivered" : "rejected";
  j["control_id"] = entry.control_id;
  j["reason"] = entry.reason;
  j["input"] = entry.digest;
  if (!entry.key.empty()) j["key"] = json::parse(entry.key, nullptr, false);
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string JournalHeader(const RunIdentity& run) {
  nlohmann::ordered_json j;
  j["journal"] = 1;
  j["template"] = run.template_digest;
  j["options"] = run.options;
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

Journal::Journal(const std::string& path, const RunIdentity& run) : path_(path) {
  const bool existed = ::access(path.c_str(), F_OK) == 0;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw JournalWriteError(path + ": cannot be used: " + std::strerror(errno));
  const auto fail = [&](auto error) {
    ::close(fd_);
    fd_ = -1;
    throw error;
  };
  if (!existed) {
    // A new file's name must survive a power cut as well as its lines.
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd >= 0) {
      ::fsync(dir_fd);
      ::close(dir_fd);
    }
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
    fail(JournalRefused(path + ": another run is using this journal"));
  struct stat st {};
  // A device or a pipe holds no earlier lines (and /dev/full reads forever).
  const bool regular = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  std::ifstream in;
  if (regular) in.open(path, std::ios::binary);
  std::string line;
  std::size_t number = 0;
  std::streamoff good_end = 0, offset = 0;
  bool header = false;
  while (regular && std::getline(in, line)) {
    ++number;
    const bool whole = !in.eof();
    offset += static_cast<std::streamoff>(line.size()) + (whole ? 1 : 0);
    if (!whole) break;  // torn: cut off below
    good_end = offset;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (!header) {
      const std::string differs = Difference(line, run);
      if (!differs.empty())
        fail(JournalRefused(path + ": written for another run: " + differs +
                            " (a new run needs a journal of its own)"));
      header = true;
      continue;
    }
    if (line.compare(0, 10, "{\"marked\":") == 0) {
      const auto j = json::parse(line, nullptr, false);
      const auto n = j.is_object() ? j.find("marked") : j.end();
      if (n == j.end() || !n->is_number_unsigned() || n->get<std::uint64_t>() == 0 ||
          n->get<std::uint64_t>() >= next_)
        fail(JournalRefused(path + ":" + std::to_string(number) +
                            ": the line is damaged (marks a record not settled before it); the "
                            "journal cannot be trusted past it"));
      marked_[n->get<std::size_t>() - 1] = true;
      continue;
    }
    JournalEntry entry;
    const std::string why = ReadEntry(line, next_, entry);
    if (!why.empty())
      fail(JournalRefused(path + ":" + std::to_string(number) + ": the line is damaged (" + why +
                          "); the journal cannot be trusted past it"));
    ++(entry.delivered ? delivered_ : rejected_);
    if (!entry.key.empty()) highest_key_ = entry.key;
    marked_.push_back(false);
    earlier_.push_back(std::move(entry));
    ++next_;
  }
  if (regular && in.bad())
    fail(JournalWriteError(path + ": cannot be read: " + std::strerror(errno)));
  if (offset != good_end) {
    if (::ftruncate(fd_, good_end) != 0 || ::fsync(fd_) != 0)
      fail(JournalWriteError(path + ": cannot be written: " + std::strerror(errno)));
    repaired_ = true;
  }
  if (!header) {
    try {
      Write(JournalHeader(run));
    } catch (const JournalWriteError& e) {
      fail(e);
    }
  }
}

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

void Journal::WriteAll(const std::string& line) {
  // One write(2) puts a whole line; a short one is followed by another to
  // learn the reason. Whatever part reached the file is cut off again by
  // the next run.
  for (std::size_t done = 0; done < line.size();) {
    const ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw JournalWriteError(path_ +
                              ": cannot be written: " + std::strerror(n < 0 ? errno : ENOSPC));
    done += static_cast<std::size_t>(n);
  }
}

void Journal::Write(const std::string& line) {
  WriteAll(line);
  if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS)
    throw JournalWriteError(path_ + ": cannot be written: " + std::strerror(errno));
}

std::vector<std::size_t> Journal::Unmarked() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < earlier_.size(); ++i)
    if (!marked_[i] && !earlier_[i].key.empty()) out.push_back(i + 1);
  return out;
}

void Journal::Mark(std::size_t record) {
  // A mark lost to a crash only repeats its statement on resume: no sync.
  WriteAll("{\"marked\": " + std::to_string(record) + "}\n");
}

void Journal::Append(const JournalEntry& entry) {
  if (entry.record != next_)
    throw JournalWriteError(path_ + ": record " + std::to_string(entry.record) +
                            " cannot follow record " + std::to_string(next_ - 1));
  Write(JournalLine(entry));
  ++next_;
}

}  // namespace tarn::hl7
