// The steps from a record to a message or a reject, as tarn-hl7 and the
// Python package both take them: reading a record's members and dates, the
// fields the host adds, strict evaluation, building, and the reject record.
// The template, records and builder types stay behind this header.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::hl7 {

struct Template;
struct Record;
struct RawRecord;
struct Outcome;
class RecordReader;
class MessageBuilder;

// The names of the fields that the host adds; a record's own member of the
// same name (letter case aside) wins.
inline constexpr std::u16string_view kNowField = u"Now";
inline constexpr std::u16string_view kControlIdField = u"ControlId";
inline constexpr std::u16string_view kRecordNumberField = u"RecordNumber";

// The local date and time, to the second, as a Date serial.
double LocalNowSerial();

// Which of the host's fields a template's expressions name: the others need
// not be made for every record.
struct HostFieldUse {
  bool now = true, control_id = true, record_number = true;
};
HostFieldUse HostFieldsNamedIn(const Template& t);

// Adds Now (a Date), ControlId (a String) and RecordNumber (a Long), those
// that `use` asks for.
void AddHostFields(Record& record, const HostFieldUse& use, std::string_view control_id);

struct PipelineOptions {
  std::vector<std::string> dates;  // members whose texts are dates
  std::string date_order = "mdy";  // of numeric dates: mdy, dmy or ymd
  std::string format = "auto";     // of a records text: auto, jsonl or csv
  std::string control_prefix;      // ControlId is the prefix and the record's counter
  // Another ControlId for a record's number (a resumed run's counter).
  std::function<std::string(std::size_t)> control_id;
  bool strict = true;  // false: evaluated as the library does by default
};

// What one record came to.
struct Built {
  bool ok = false;
  std::size_t number = 0, line = 0;
  std::string message;  // unframed; empty for a reject
  std::string reason;   // a reject's reason as one line
  std::string reject;   // a reject as a JSON object (one line, no line end)
  std::string source;   // the record as written, when asked for
};

// A template and the options every record is built with; shared, read-only,
// by the builders of all threads.
class Pipeline {
 public:
  // Throws std::invalid_argument for an option word it does not know.
  Pipeline(std::shared_ptr<const Template> t, PipelineOptions options);
  // A template's text; throws TemplateError (a std::runtime_error).
  static Pipeline FromText(const std::string& template_text, const std::string& file,
                           PipelineOptions options);

  const Template& tmpl() const { return *template_; }
  const PipelineOptions& options() const { return options_; }
  const HostFieldUse& host_fields() const { return host_fields_; }
  std::string ControlIdFor(std::size_t number) const;
  // A reader of records with the pipeline's formats and dates.
  std::unique_ptr<RecordReader> Reader(std::istream& in, const std::string& path) const;

 private:
  std::shared_ptr<const Template> template_;
  PipelineOptions options_;
  HostFieldUse host_fields_;
};

// One thread's builder.
class RecordBuilder {
 public:
  explicit RecordBuilder(const Pipeline& p);
  ~RecordBuilder();
  RecordBuilder(const RecordBuilder&) = delete;
  RecordBuilder& operator=(const RecordBuilder&) = delete;

  // A record cut by `reader`, its values read here.
  void Build(const RecordReader& reader, const RawRecord& raw, Built& out);
  // A record whose values are read.
  void Build(Record& record, Built& out);
  // One record given as a JSON object's text; `dates` names further members
  // whose texts are dates in this record; a record that cannot be used
  // comes with its `error`.
  void BuildJson(std::string text, std::size_t number, std::size_t line,
                 const std::vector<std::string>& dates, Built& out, const std::string& error = {});
  // What the last build found and the record it read, for --check.
  const Outcome& last() const { return *last_; }
  const Record& record() const { return *record_; }
  void set_check_names(bool on);
  // Keeps each record's text in Built::source (a receiver's reject needs it).
  void set_keep_source(bool on) { keep_source_ = on; }

 private:
  const Pipeline& pipeline_;
  std::unique_ptr<MessageBuilder> builder_;
  std::unique_ptr<Record> record_;
  std::unique_ptr<Outcome> last_;
  bool keep_source_ = false;
};

// --check: the template against records. Each problem is reported once,
// with its template position and the first record that shows it.
class TemplateCheck {
 public:
  explicit TemplateCheck(const Pipeline& p);
  ~TemplateCheck();
  // The problems this record shows first.
  std::vector<std::string> Add(const RecordReader& reader, const RawRecord& raw);
  // The problems only all records together show: a list the template walks
  // or a name an optional value reads that none of them has.
  std::vector<std::string> Finish();

 private:
  const Pipeline& pipeline_;
  RecordBuilder builder_;
  std::vector<std::string> seen_;
  std::vector<std::u16string> lists_;  // the records' list names
  std::vector<std::u16string> names_;  // their members' names
  std::size_t records_ = 0;
};

// Every record of a text (JSON Lines, a JSON array or CSV), in order; `path`
// names its file, whose extension gives the format. Throws
// std::runtime_error when the text is no records at all.
std::vector<Built> BuildText(const Pipeline& p, const std::string& text,
                             const std::string& path = {});

// "FILE:LINE:COLUMN" of a template position.
std::string TemplateWhere(const Template& t, int line, int column);

}  // namespace tarn::hl7
