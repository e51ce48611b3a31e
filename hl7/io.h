// Files for the tools: inputs opened so that their failures carry the
// system's reason, an output that stops at the first failed write and
// knows how many messages really reached it, and the check that no file
// is named twice among a run's inputs and outputs.
#pragma once

#include <cstddef>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::hl7 {

// "PATH: cannot be read: Is a directory" and the like.
class FileError : public std::runtime_error {
 public:
  FileError(const std::string& path, const std::string& problem)
      : std::runtime_error(path + ": " + problem), problem_(problem) {}
  const std::string& problem() const noexcept { return problem_; }

 private:
  std::string problem_;
};

// An input stream over the file, or standard input for "-", read in large
// blocks. Throws FileError when the file cannot be read.
std::unique_ptr<std::istream> OpenInput(const std::string& path);
// The whole file, without a byte-order mark. Throws FileError.
std::string ReadInput(const std::string& path);

// Whether a line can be read from an input OpenInput or DecodeInput made
// without waiting (true at its end, and for any other stream).
bool LineReady(std::istream& in);

// ICU's name for an encoding; throws std::runtime_error for a name it does
// not know.
std::string EncodingName(const std::string& name);
// The input's text in UTF-8, read as written in `encoding`. Reading throws
// std::runtime_error, naming the line and column, at bytes that are not in
// that encoding.
std::unique_ptr<std::istream> DecodeInput(std::unique_ptr<std::istream> in,
                                          const std::string& encoding, const std::string& name);

// The first byte that is not UTF-8 in `text`, or npos.
std::size_t FirstNonUtf8(std::string_view text);
// Throws std::runtime_error "NAME:LINE:COLUMN: bytes that are not UTF-8"
// when `text` has such bytes.
void RequireUtf8(std::string_view text, const std::string& name);

// Where a run's messages go. Delivery over the network implements the same
// face, so that the run loop does not change with the destination.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // One framed message; false once anything has failed.
  virtual bool Put(std::string_view message) = 0;
  // Everything put so far is delivered; false when that failed.
  virtual bool Finish() = 0;
  // Whole messages put so far are handed on now (not the envelope's end).
  virtual bool Flush() { return error().empty(); }
  // How many messages have really been delivered.
  virtual std::size_t delivered() const = 0;
  // What failed, with the destination and the reason; empty while all is well.
  virtual const std::string& error() const = 0;
};

// A file or standard output, written through one buffer that holds whole
// messages (or lines) only.
class FileSink final : public MessageSink {
 public:
  FileSink();  // standard output
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  // Creates or truncates the file; false (error() says why) when it cannot.
  bool Open(const std::string& path);
  bool Put(std::string_view message) override;
  bool Finish() override;
  bool Flush() override;
  std::size_t delivered() const override { return delivered_; }
  const std::string& error() const override { return error_; }

 private:
  int fd_ = 1;
  bool owned_ = false;
  std::string name_ = "standard output";
  std::string buffer_;
  std::size_t pending_ = 0;  // messages in the buffer
  std::size_t delivered_ = 0;
  std::string error_;
};

struct NamedFile {
  std::string option;  // "--output"
  std::string path;    // empty or "-": not a file of its own
};

// "--output and --records name the same file (PATH)" when two of `files`
// are one file, whatever their spelling; standard output counts when it is
// a regular file and no "--output" file is named. Empty when all differ.
std::string SameFileTwice(const std::vector<NamedFile>& files, bool stdout_is_output);

}  // namespace tarn::hl7
