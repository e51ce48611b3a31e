// Inputs, outputs and file identity for the tools, on POSIX calls so that
// every failure can name the system's reason.
#include "hl7/io.h"

#include <fcntl.h>
#include <poll.h>
#include <simdjson.h>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

namespace tarn::hl7 {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string Reason(int error) { return std::strerror(error); }

// A file or standard input, read in large blocks with read(2), which gives
// what a pipe holds at once rather than waiting for a block to fill.
class FdBuffer final : public std::streambuf {
 public:
  FdBuffer(int fd, bool owned, std::string name)
      : fd_(fd), owned_(owned), name_(std::move(name)), buffer_(kBufferSize) {
    struct stat st {};
    regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    setg(buffer_.data(), buffer_.data(), buffer_.data());
  }
  ~FdBuffer() override {
    if (owned_) ::close(fd_);
  }

  bool LineReady() {
    if (regular_) return true;  // a file never keeps its reader waiting long
    for (;;) {
      if (end_ || std::memchr(gptr(), '\n', static_cast<std::size_t>(egptr() - gptr())))
        return true;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 0) <= 0) return false;
      Fill();  // does not wait: something, or the end, is there
    }
  }

 protected:
  int_type underflow() override {
    if (gptr() == egptr() && !end_) Fill();
    return gptr() < egptr() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
  }

 private:
  // Reads more after what is still unread.
  void Fill() {
    const auto unread = static_cast<std::size_t>(egptr() - gptr());
    if (unread && gptr() != buffer_.data()) std::memmove(buffer_.data(), gptr(), unread);
    if (unread == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    ssize_t n;
    do {
      n = ::read(fd_, buffer_.data() + unread, buffer_.size() - unread);
    } while (n < 0 && errno == EINTR);
    setg(buffer_.data(), buffer_.data(), buffer_.data() + unread + (n > 0 ? n : 0));
    if (n < 0) throw FileError(name_, "cannot be read: " + Reason(errno));
    if (n == 0) end_ = true;
  }

  int fd_;
  bool owned_;
  std::string name_;
  std::vector<char> buffer_;
  bool regular_ = false, end_ = false;
};

// Errors inside the buffer reach the reader as exceptions, not as a bad state.
class OwningInput final : public std::istream {
 public:
  explicit OwningInput(std::unique_ptr<std::streambuf> buffer)
      : std::istream(buffer.get()), buffer_(std::move(buffer)) {
    exceptions(std::ios::badbit);
  }

 private:
  std::unique_ptr<std::streambuf> buffer_;
};

struct Converter {
  UConverter* c = nullptr;
  explicit Converter(const std::string& name) {
    UErrorCode status = U_ZERO_ERROR;
    c = ucnv_open(name.c_str(), &status);
    if (U_FAILURE(status)) {
      c = nullptr;
      throw std::runtime_error("--encoding: '" + name + "' is no encoding ICU knows");
    }
  }
  ~Converter() { ucnv_close(c); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
};

// Another encoding's bytes as UTF-8, converted as they are read; bytes that
// are not in the encoding stop the reading with their position.
class DecodingBuffer final : public std::streambuf {
 public:
  DecodingBuffer(std::unique_ptr<std::istream> in, const std::string& encoding, std::string name)
      : in_(std::move(in)),
        from_(encoding),
        encoding_(encoding),
        name_(std::move(name)),
        source_(kBufferSize),
        out_(kUnits * 3) {
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(from_.c, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    setg(out_.data(), out_.data(), out_.data());
  }

  bool LineReady() {
    return std::memchr(gptr(), '\n', static_cast<std::size_t>(egptr() - gptr())) ||
           hl7::LineReady(*in_);
  }

 protected:
  int_type underflow() override {
    while (gptr() == egptr()) {
      if (!failure_.empty()) throw std::runtime_error(failure_);
      if (done_) return traits_type::eof();
      if (from_at_ == from_end_ && !in_end_) {
        // What the input holds now, without waiting for a block to fill.
        std::streambuf& in = *in_->rdbuf();
        std::streamsize n = 0;
        if (in.sgetc() != traits_type::eof())
          n = in.sgetn(source_.data(),
                       std::min<std::streamsize>(in.in_avail(),
                                                 static_cast<std::streamsize>(source_.size())));
        from_at_ = source_.data();
        from_end_ = source_.data() + n;
        in_end_ = n == 0;
      }
      UChar* units_end = units_ + carried_;
      const char* from = from_at_;
      UErrorCode status = U_ZERO_ERROR;
      ucnv_toUnicode(from_.c, &units_end, units_ + kUnits, &from, from_end_, nullptr, in_end_,
                     &status);
      from_at_ = from;
      // A pair's first half waits for its second.
      auto count = static_cast<std::int32_t>(units_end - units_);
      carried_ = count > 0 && U16_IS_LEAD(units_[count - 1]) && !in_end_ ? 1 : 0;
      count -= static_cast<std::int32_t>(carried_);
      std::int32_t size = 0;
      UErrorCode to_utf8 = U_ZERO_ERROR;
      u_strToUTF8WithSub(out_.data(), static_cast<std::int32_t>(out_.size()), &size, units_, count,
                         0xFFFD, nullptr, &to_utf8);
      if (carried_) units_[0] = units_[count];
      setg(out_.data(), out_.data(), out_.data() + size);
      Count(out_.data(), out_.data() + size);
      if (status == U_BUFFER_OVERFLOW_ERROR) continue;
      if (U_FAILURE(status))
        failure_ = name_ + ":" + std::to_string(line_) + ":" + std::to_string(column_) +
                   ": bytes that are not " + encoding_ +
                   " (--encoding names the records' encoding)";
      else if (in_end_)
        done_ = true;
    }
    return traits_type::to_int_type(*gptr());
  }

 private:
  void Count(const char* from, const char* to) {
    for (; from < to; ++from)
      if (*from == '\n') {
        ++line_;
        column_ = 1;
      } else if ((static_cast<unsigned char>(*from) & 0xC0) != 0x80) {
        ++column_;
      }
  }

  static constexpr std::size_t kUnits = 16 * 1024;
  std::unique_ptr<std::istream> in_;
  Converter from_;
  std::string encoding_, name_;
  std::vector<char> source_, out_;
  const char* from_at_ = nullptr;
  const char* from_end_ = nullptr;
  UChar units_[kUnits];
  std::size_t carried_ = 0;
  bool in_end_ = false, done_ = false;
  std::size_t line_ = 1, column_ = 1;
  std::string failure_;
};

}  // namespace

std::unique_ptr<std::istream> OpenInput(const std::string& path) {
  if (path == "-")
    return std::make_unique<OwningInput>(
        std::make_unique<FdBuffer>(STDIN_FILENO, false, "standard input"));
  // A directory opens for reading and then reads as empty; ask first.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw FileError(path, "cannot be read: " + Reason(errno));
  if (S_ISDIR(st.st_mode)) throw FileError(path, "cannot be read: " + Reason(EISDIR));
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError(path, "cannot be read: " + Reason(errno));
  return std::make_unique<OwningInput>(std::make_unique<FdBuffer>(fd, true, path));
}

std::string ReadInput(const std::string& path) {
  auto in = OpenInput(path);
  std::string text;
  char chunk[kBufferSize];
  while (in->read(chunk, sizeof chunk) || in->gcount() > 0)
    text.append(chunk, static_cast<std::size_t>(in->gcount()));
  if (text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0)
    text.erase(0, kByteOrderMark.size());
  return text;
}

bool LineReady(std::istream& in) {
  if (auto* fd = dynamic_cast<FdBuffer*>(in.rdbuf())) return fd->LineReady();
  if (auto* decoding = dynamic_cast<DecodingBuffer*>(in.rdbuf())) return decoding->LineReady();
  return true;
}

std::string EncodingName(const std::string& name) {
  const Converter c(name);
  UErrorCode status = U_ZERO_ERROR;
  const char* canonical = ucnv_getName(c.c, &status);
  return U_SUCCESS(status) && canonical ? canonical : name;
}

std::unique_ptr<std::istream> DecodeInput(std::unique_ptr<std::istream> in,
                                          const std::string& encoding, const std::string& name) {
  return std::make_unique<OwningInput>(
      std::make_unique<DecodingBuffer>(std::move(in), encoding, name));
}

void RequireUtf8(std::string_view text, const std::string& name) {
  const std::size_t bad = FirstNonUtf8(text);
  if (bad == std::string_view::npos) return;
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < bad; ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
  throw std::runtime_error(name + ":" + std::to_string(line) + ":" + std::to_string(column) +
                           ": bytes that are not UTF-8");
}

std::size_t FirstNonUtf8(std::string_view text) {
  if (simdjson::validate_utf8(text.data(), text.size())) return std::string_view::npos;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = byte(i);
    std::size_t n;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    if (i + n > text.size() || byte(i + 1) < low || byte(i + 1) > high) return i;
    for (std::size_t k = 2; k < n; ++k)
      if ((byte(i + k) & 0xC0) != 0x80) return i;
    i += n;
  }
  return std::string_view::npos;
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
  // Absolute first: a relative name that does not exist yet stays
  // relative in weakly_canonical, so that "o" and "./o" would differ.
  // A link to a file not made yet names the file it will make.
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target = fs::absolute(path, ec);
  for (int links = 0; links < 40 && fs::is_symlink(fs::symlink_status(target, ec)); ++links) {
    const fs::path to = fs::read_symlink(target, ec);
    if (ec) break;
    target = to.is_absolute() ? to : target.parent_path() / to;
  }
  const fs::path canonical = fs::weakly_canonical(target, ec);
  id.spelling = (ec ? target : canonical).lexically_normal().string();
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
