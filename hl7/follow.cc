// Growth is found by reading again after a short sleep: a read at the end
// of a regular file costs nothing, and the sleep bounds the latency.
#include "hl7/follow.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include "hl7/feed.h"
#include "hl7/io.h"

namespace tarn::hl7 {

namespace {

std::atomic<int> stop_signal{0};

void OnSignal(int signal) { RequestStop(signal); }

constexpr double kStep = 0.05;  // seconds between looks at a quiet input

class FollowBuffer final : public LineFeed {
 public:
  explicit FollowBuffer(std::string path) : path_(std::move(path)) {
    if (path_ == "-") {
      fd_ = STDIN_FILENO;
      name_ = "standard input";
      struct stat st {};
      regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
      // Standard input redirected from a file ends at its end.
      pipe_ = true;
    } else {
      name_ = path_;
      Open(true);
    }
    setg(out_.data(), out_.data(), out_.data());
  }
  ~FollowBuffer() override {
    if (fd_ > STDIN_FILENO) ::close(fd_);
  }

  bool LineReady() override {
    if (gptr() < egptr()) return true;
    for (;;) {
      if (end_ || StopRequested() || pending_.find('\n') != std::string::npos) return true;
      if (!ReadSome()) return false;
    }
  }

 protected:
  int_type underflow() override {
    if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    for (;;) {
      const std::size_t cut = pending_.rfind('\n');
      if (cut != std::string::npos || (end_ && !pending_.empty())) {
        // Whole lines only; what is left of a line waits for its end.
        const std::size_t n = cut == std::string::npos || end_ ? pending_.size() : cut + 1;
        out_.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        pending_.erase(0, n);
        setg(out_.data(), out_.data(), out_.data() + out_.size());
        return traits_type::to_int_type(*gptr());
      }
      if (end_ || StopRequested()) return traits_type::eof();
      if (ReadSome()) continue;
      if (pipe_) {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(kStep * 1000));
      } else {
        Reopened();
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kStep * 1000)));
      }
    }
  }

 private:
  void Open(bool first) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      if (first) throw FileError(path_, std::string("cannot be read: ") + std::strerror(errno));
      return;  // between a rename and the new file: look again later
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      if (first) throw FileError(path_, std::string("cannot be read: ") + std::strerror(EISDIR));
      return;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    inode_ = st.st_ino;
    device_ = st.st_dev;
    offset_ = 0;
    pipe_ = !S_ISREG(st.st_mode);
  }

  // Whether the file was replaced or truncated; if so, reads from the
  // new file's start.
  void Reopened() {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) return;
    if (st.st_ino != inode_ || st.st_dev != device_) {
      // The old file is read to its end (the read before this found
      // nothing more), so nothing of it is lost.
      if (!ReadSome()) Open(false);
    } else if (static_cast<std::uint64_t>(st.st_size) < offset_) {
      ::lseek(fd_, 0, SEEK_SET);
      offset_ = 0;
    }
  }

  // Reads what is there without waiting; false when nothing was.
  bool ReadSome() {
    if (end_) return false;
    if (pipe_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0) return false;
    }
    char chunk[65536];
    ssize_t n;
    do {
      n = ::read(fd_, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR && !StopRequested());
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) return false;
      throw FileError(name_, std::string("cannot be read: ") + std::strerror(errno));
    }
    if (n == 0) {
      if (pipe_ || (regular_ && path_ == "-")) end_ = true;
      return false;
    }
    pending_.append(chunk, static_cast<std::size_t>(n));
    offset_ += static_cast<std::uint64_t>(n);
    return true;
  }

  std::string path_, name_;
  int fd_ = -1;
  bool pipe_ = false, regular_ = false, end_ = false;
  ino_t inode_ = 0;
  dev_t device_ = 0;
  std::uint64_t offset_ = 0;
  std::string pending_;
  std::vector<char> out_;
};

class OwningStream final : public std::istream {
 public:
  explicit OwningStream(std::unique_ptr<std::streambuf> buffer)
      : std::istream(buffer.get()), buffer_(std::move(buffer)) {}

 private:
  std::unique_ptr<std::streambuf> buffer_;
};

}  // namespace

void RequestStop(int signal) noexcept {
  int none = 0;
  stop_signal.compare_exchange_strong(none, signal ? signal : -1);
}
bool StopRequested() noexcept { return stop_signal.load() != 0; }
int StopSignal() noexcept { return stop_signal.load() > 0 ? stop_signal.load() : 0; }

void StopOnSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: a blocked read or poll returns at once
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
}

bool WaitUnlessStopped(double seconds) {
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::microseconds(static_cast<long long>(seconds * 1e6));
  while (!StopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(20)));
  }
  return false;
}

std::unique_ptr<std::istream> FollowInput(const std::string& path) {
  return std::make_unique<OwningStream>(std::make_unique<FollowBuffer>(path));
}

}  // namespace tarn::hl7
