// Inputs, outputs and file identity for the tools, on POSIX calls so that
// every failure can name the system's reason.
#include "hl7/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace tarn::hl7 {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

std::string Reason(int error) { return std::strerror(error); }

// An input stream that does not delete standard input.
struct BorrowedInput : std::istream {
  BorrowedInput() : std::istream(std::cin.rdbuf()) {}
};

}  // namespace

std::unique_ptr<std::istream> OpenInput(const std::string& path) {
  if (path == "-") return std::make_unique<BorrowedInput>();
  // A directory opens for reading and then reads as empty; ask first.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw FileError(path, "cannot be read: " + Reason(errno));
  if (S_ISDIR(st.st_mode)) throw FileError(path, "cannot be read: " + Reason(EISDIR));
  auto in = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*in) throw FileError(path, "cannot be read: " + Reason(errno ? errno : EACCES));
  return in;
}

std::string ReadInput(const std::string& path) {
  auto in = OpenInput(path);
  std::ostringstream ss;
  ss << in->rdbuf();
  if (in->bad()) throw FileError(path, "cannot be read: " + Reason(errno));
  return ss.str();
}

FileSink::FileSink() { buffer_.reserve(kBufferSize); }

FileSink::~FileSink() {
  if (owned_) ::close(fd_);
}

bool FileSink::Open(const std::string& path) {
  name_ = path;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = path + ": cannot be written: " + Reason(errno);
    return false;
  }
  fd_ = fd;
  owned_ = true;
  return true;
}

bool FileSink::Put(std::string_view message) {
  if (!error_.empty()) return false;
  buffer_.append(message);
  ++pending_;
  return buffer_.size() < kBufferSize || Flush();
}

bool FileSink::Finish() { return error_.empty() && Flush(); }

bool FileSink::Flush() {
  std::size_t done = 0;
  while (done < buffer_.size()) {
    const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = name_ + ": cannot be written: " + Reason(n < 0 ? errno : ENOSPC);
      buffer_.clear();
      pending_ = 0;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  buffer_.clear();
  delivered_ += pending_;
  pending_ = 0;
  return true;
}

namespace {

// Regular files compare by device and inode; a name that does not exist yet
// (an output to be created) by its absolute, normalised spelling.
struct Identity {
  bool regular = false;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string spelling;
  bool operator==(const Identity& o) const {
    if (regular != o.regular) return false;
    return regular ? dev == o.dev && ino == o.ino : spelling == o.spelling;
  }
};

bool IdentityOf(const std::string& path, Identity& id) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;  // devices, pipes: nothing to destroy
    id.regular = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    return true;
  }
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(path, ec);
  id.spelling = ec ? path : canonical.string();
  return true;
}

}  // namespace

std::string SameFileTwice(const std::vector<NamedFile>& files, bool stdout_is_output) {
  std::vector<std::pair<std::string, Identity>> seen;
  for (const NamedFile& f : files) {
    if (f.path.empty() || f.path == "-") continue;
    Identity id;
    if (!IdentityOf(f.path, id)) continue;
    for (const auto& [option, other] : seen)
      if (other == id) return option + " and " + f.option + " name the same file (" + f.path + ")";
    seen.emplace_back(f.option, id);
  }
  if (stdout_is_output) {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
      const Identity out{true, st.st_dev, st.st_ino, {}};
      for (const auto& [option, other] : seen)
        if (other == out) return option + " and standard output name the same file";
    }
  }
  return {};
}

}  // namespace tarn::hl7
