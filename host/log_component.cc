// The default log component: rotating log files written with spdlog's
// rotating file sink.
#include "host/log_component.h"

#include <spdlog/details/log_msg.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>

#include <limits>
#include <map>
#include <mutex>
#include <new>

#include "platform/text.h"
#include "tarn/convert.h"

namespace tarn::detail {

namespace {

constexpr std::int32_t kFileAccessError = 75;  // "Path/File access error"

using Sink = spdlog::sinks::rotating_file_sink_mt;

}  // namespace

struct LogComponent::Writer {
  std::shared_ptr<Sink> sink;
};

namespace {

// Writers by file and limits, shared by every component in the process.
struct WriterTable {
  std::mutex mu;
  std::map<std::string, std::weak_ptr<LogComponent::Writer>> writers;
};
WriterTable& Writers() {
  static WriterTable* table = new WriterTable;  // used from thread exits
  return *table;
}

}  // namespace

LogComponent::LogComponent() = default;
LogComponent::~LogComponent() = default;

std::int32_t LogComponent::Init(std::u16string app_id, std::u16string log_name,
                                std::u16string folder, std::int16_t num_files,
                                std::int32_t max_size, bool append, std::u16string separator,
                                std::u16string title) {
  app_id_ = std::move(app_id);
  title_ = std::move(title);
  separator_ = std::move(separator);
  if (log_name.empty()) log_name = u"Log";
  for (char16_t& c : log_name)
    if (c == u'/' || c == u'\\') c = u'_';
  file_ = std::filesystem::path(folder) / std::filesystem::path(log_name + u".log");
  max_size_ =
      max_size > 0 ? static_cast<std::size_t>(max_size) : std::numeric_limits<std::size_t>::max();
  max_rotated_ = num_files > 1 ? static_cast<std::size_t>(num_files - 1) : 0;
  append_ = append;
  writer_.reset();
  initialised_ = true;
  return Open() ? 0 : kFileAccessError;
}

bool LogComponent::Open() {
  if (writer_) return true;
  try {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(file_, ec);
    if (ec) full = file_;
    full = full.lexically_normal();
    // On Windows the name goes to the file system as it is, wide: the ANSI
    // code page cannot spell every folder name.
    const spdlog::filename_t& name = full.native();
    const std::string key = ToUtf8(full.u16string()) + '\n' + std::to_string(max_size_) + '\n' +
                            std::to_string(max_rotated_);
    auto& table = Writers();
    std::lock_guard lock(table.mu);
    if (auto existing = table.writers[key].lock()) {
      writer_ = std::move(existing);
      return true;
    }
    auto writer = std::make_shared<Writer>();
    writer->sink = std::make_shared<Sink>(name, max_size_, max_rotated_, !append_);
    writer->sink->set_formatter(std::make_unique<spdlog::pattern_formatter>(
        "%v", spdlog::pattern_time_type::local, std::string()));
    table.writers[key] = writer;
    // Forget the writers nobody uses any more.
    for (auto it = table.writers.begin(); it != table.writers.end();)
      it = it->second.expired() ? table.writers.erase(it) : std::next(it);
    writer_ = std::move(writer);
    return true;
  } catch (...) {
    return false;
  }
}

std::int32_t LogComponent::WriteLogMsg(std::u16string_view text) {
  if (!initialised_) return err::kObjectNotSet;
  if (!Open()) return kFileAccessError;
  try {
    std::u16string entry(text);
    entry += separator_;
    const std::string bytes = ToUtf8(entry);
    const spdlog::details::log_msg msg(spdlog::source_loc{}, "ZellLog", spdlog::level::info,
                                       spdlog::string_view_t(bytes.data(), bytes.size()));
    writer_->sink->log(msg);
    writer_->sink->flush();
    return 0;
  } catch (const std::bad_alloc&) {
    return err::kOutOfMemory;
  } catch (...) {
    return kFileAccessError;
  }
}

Variant LogComponent::Invoke(std::u16string_view member, CallKind, std::span<Arg> args) {
  if (EqualsIgnoreCase(member, u"Init")) {
    RequireArgs(args, 8);
    return Init(CStr(args[0].value()), CStr(args[1].value()), CStr(args[2].value()),
                CInt(args[3].value()), CLng(args[4].value()), CBool(args[5].value()),
                CStr(args[6].value()), CStr(args[7].value()));
  }
  if (EqualsIgnoreCase(member, u"WriteLogMsg")) {
    RequireArgs(args, 1);
    return WriteLogMsg(CStr(args[0].value()));
  }
  RaiseNoMember(member);
}

ObjectRef NewLogComponent() { return MakeRef<LogComponent>(); }

}  // namespace tarn::detail
