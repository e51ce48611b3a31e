// The default log component ("ZellLog.Log") that the debug log writes
// through (docs/debug-log.md).
//
// Members:
//   Init(app id, log name, folder, number of files (Integer), maximum size
//        in bytes (Long), append (Boolean), separator, title) -> Long
//        0 when the log file could be opened, 75 when not (the file is
//        tried again on the next WriteLogMsg).
//   WriteLogMsg(text) -> Long: 0 when written; 75 when the file could not be
//        opened or written, 91 before Init. I/O failures never raise.
//
// Files: "<folder>/<log name>.log" is the file being written; when the next
// entry would take it past the maximum size it becomes "<log name>.1.log",
// the older ones move up ("<log name>.1.log" -> "<log name>.2.log", ...) and
// the oldest beyond the number of files is deleted, so at most that many
// files exist. Each entry is the text in UTF-8 followed by the separator.
// An empty folder is the current directory, an empty log name "Log"; a
// number of files below 1 counts as 1 and a size of 0 or less as no limit.
// With append False, an existing non-empty "<log name>.log" is rotated
// away when the file is first opened. The app id and the title are kept but
// not written. Components (of any thread) that name the same file with the
// same limits share one writer, so their entries do not interleave.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "tarn/object.h"
#include "tarn/value.h"

namespace tarn::detail {

class LogComponent final : public Object {
 public:
  LogComponent();
  ~LogComponent() override;

  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override;
  std::u16string_view ClassName() const noexcept override { return u"Log"; }

  std::int32_t Init(std::u16string app_id, std::u16string log_name, std::u16string folder,
                    std::int16_t num_files, std::int32_t max_size, bool append,
                    std::u16string separator, std::u16string title);
  std::int32_t WriteLogMsg(std::u16string_view text);

  struct Writer;  // one rotating file, shared by the components that name it

  // The file being written ("" before Init).
  const std::filesystem::path& file() const noexcept { return file_; }

 private:
  bool Open();

  bool initialised_ = false;
  std::u16string app_id_, title_, separator_;
  std::filesystem::path file_;
  std::size_t max_size_ = 0;
  std::size_t max_rotated_ = 0;
  bool append_ = true;
  std::shared_ptr<Writer> writer_;
};

ObjectRef NewLogComponent();

}  // namespace tarn::detail
