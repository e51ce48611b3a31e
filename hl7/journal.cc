// Each line goes out in one write(2) followed by fdatasync, so that after a
// kill or a power cut the file holds whole lines plus at most one torn last
// line, which the next run cuts off (its record is then simply sent again).
#include "hl7/journal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace tarn::hl7 {

namespace {

std::runtime_error Failure(const std::string& path, const std::string& what) {
  return std::runtime_error(path + ": " + what);
}

bool ReadLine(const std::string& text, JournalEntry& entry) {
  const auto j = nlohmann::json::parse(text, nullptr, false);
  if (!j.is_object()) return false;
  const auto record = j.find("record");
  const auto outcome = j.find("outcome");
  if (record == j.end() || !record->is_number_unsigned() || record->get<std::size_t>() == 0)
    return false;
  if (outcome == j.end() || !outcome->is_string()) return false;
  const std::string word = outcome->get<std::string>();
  if (word != "delivered" && word != "rejected") return false;
  entry.record = record->get<std::size_t>();
  entry.delivered = word == "delivered";
  const auto id = j.find("control_id");
  entry.control_id = id != j.end() && id->is_string() ? id->get<std::string>() : "";
  return true;
}

}  // namespace

std::string JournalLine(const JournalEntry& entry) {
  nlohmann::ordered_json j;
  j["record"] = entry.record;
  j["outcome"] = entry.delivered ? "delivered" : "rejected";
  j["control_id"] = entry.control_id;
  j["reason"] = entry.reason;
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

Journal::Journal(const std::string& path, std::string_view control_prefix)
    : path_(path), prefix_(control_prefix) {
  const bool existed = ::access(path.c_str(), F_OK) == 0;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) throw Failure(path, std::strerror(errno));
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
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd_);
    throw Failure(path, "another run is using this journal");
  }
  std::ifstream in(path, std::ios::binary);
  std::string line;
  std::size_t number = 0;
  std::streamoff good_end = 0, offset = 0;
  std::size_t damaged = 0;  // the first line that does not read, 0 if none
  while (std::getline(in, line)) {
    ++number;
    const bool whole = !in.eof();
    offset += static_cast<std::streamoff>(line.size()) + (whole ? 1 : 0);
    if (line.find_first_not_of(" \t\r") == std::string::npos) {
      if (whole && !damaged) good_end = offset;
      continue;
    }
    JournalEntry entry;
    if (whole && ReadLine(line, entry)) {
      if (damaged) {
        ::close(fd_);
        throw Failure(path, "line " + std::to_string(damaged) + " is damaged");
      }
      Note(entry);
      good_end = offset;
    } else if (!damaged) {
      damaged = number;
    }
  }
  if (offset != good_end) {
    if (::ftruncate(fd_, good_end) != 0 || ::fsync(fd_) != 0) {
      const std::string why = std::strerror(errno);
      ::close(fd_);
      throw Failure(path, why);
    }
    repaired_ = true;
  }
}

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

void Journal::Note(const JournalEntry& entry) {
  if (entry.record >= final_.size()) final_.resize(entry.record + 1);
  if (!final_[entry.record]) {
    final_[entry.record] = true;
    ++(entry.delivered ? delivered_ : rejected_);
  }
  const std::string& id = entry.control_id;
  if (!control_offset_ && id.size() > prefix_.size() && id.size() - prefix_.size() <= 18 &&
      id.compare(0, prefix_.size(), prefix_) == 0 &&
      id.find_first_not_of("0123456789", prefix_.size()) == std::string::npos)
    control_offset_ =
        std::stoll(id.substr(prefix_.size())) - static_cast<std::int64_t>(entry.record);
}

void Journal::Append(const JournalEntry& entry) {
  const std::string line = JournalLine(entry);
  const ssize_t n = ::write(fd_, line.data(), line.size());
  if (n != static_cast<ssize_t>(line.size())) {
    const std::string why = n < 0 ? std::strerror(errno) : "short write";
    // Whatever part reached the file is cut off again by the next run.
    throw Failure(path_, why);
  }
  if (::fdatasync(fd_) != 0) throw Failure(path_, std::strerror(errno));
  Note(entry);
}

}  // namespace tarn::hl7
