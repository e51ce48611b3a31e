// A record becomes a message or a reject here, the same way for every
// caller: the tool's threads and the Python package.
#include "hl7/pipeline.h"

#include <ctime>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "hl7/message.h"
#include "hl7/names.h"
#include "hl7/record_dates.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace tarn::hl7 {

namespace {

using nlohmann::json;

bool HasMember(const Record& record, std::u16string_view name) {
  for (const Field& f : record.fields)
    if (SameName(f.name, name)) return true;
  return false;
}

bool WordChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
         c == u'_' || c > 0x7f;
}

RecordOptions ReaderOptions(const PipelineOptions& o) {
  RecordOptions r;
  r.dates = o.dates;
  r.date_order = o.date_order == "dmy"   ? DateOrder::Dmy
                 : o.date_order == "ymd" ? DateOrder::Ymd
                                         : DateOrder::Mdy;
  r.format = o.format == "jsonl" ? RecordFormat::JsonLines
             : o.format == "csv" ? RecordFormat::Csv
                                 : RecordFormat::Auto;
  return r;
}

std::string Failure(const Template& t, const ExpressionFailure& f) {
  std::string s = TemplateWhere(t, f.at.line, f.at.column) + ": " + f.reason;
  for (const auto& rep : f.reports)
    s += " [" + std::to_string(rep.number) + " " + ToUtf8(rep.procedure) + ": " +
         ToUtf8(rep.message) + "]";
  return s;
}

std::string RejectJson(const Template& t, const Record& r, const Outcome& o) {
  json expressions = json::array();
  for (const auto& f : o.failures) {
    json reports = json::array();
    for (const auto& rep : f.reports)
      reports.push_back({{"number", rep.number},
                         {"procedure", ToUtf8(rep.procedure)},
                         {"message", ToUtf8(rep.message)}});
    expressions.push_back({{"at", TemplateWhere(t, f.at.line, f.at.column)},
                           {"expression", f.expression},
                           {"reason", f.reason},
                           {"reports", reports}});
  }
  json j{{"record", r.number}, {"line", r.line}};
  if (!o.reason.empty()) j["reason"] = o.reason;
  j["expressions"] = expressions;
  j["input"] = r.source;
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace

std::string TemplateWhere(const Template& t, int line, int column) {
  return t.file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

double LocalNowSerial() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  // A leap second (tm_sec 60) counts as the second before it.
  return CivilSerial(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                     t.tm_sec > 59 ? 59 : t.tm_sec)
      .value_or(0);
}

HostFieldUse HostFieldsNamedIn(const Template& t) {
  // A name in an expression is a word; one inside a string literal counts
  // too, which costs only a field.
  const auto named = [&](std::u16string_view name) {
    for (const Expression& e : t.expressions) {
      const std::u16string_view text = e.text;
      for (std::size_t at = 0; at + name.size() <= text.size(); ++at)
        if ((at == 0 || !WordChar(text[at - 1])) &&
            (at + name.size() == text.size() || !WordChar(text[at + name.size()])) &&
            SameName(text.substr(at, name.size()), name))
          return true;
    }
    return false;
  };
  return {named(kNowField), named(kControlIdField), named(kRecordNumberField)};
}

void AddHostFields(Record& record, const HostFieldUse& use, std::string_view control_id) {
  if (use.now && !HasMember(record, kNowField))
    record.fields.push_back({std::u16string(kNowField), u"Date", Variant(Date{LocalNowSerial()})});
  if (use.control_id && !HasMember(record, kControlIdField))
    record.fields.push_back(
        {std::u16string(kControlIdField), u"String", Variant(FromUtf8(control_id))});
  if (use.record_number && !HasMember(record, kRecordNumberField)) {
    const Variant number =
        record.number <= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())
            ? Variant(static_cast<std::int32_t>(record.number))
            : Variant(static_cast<double>(record.number));
    record.fields.push_back({std::u16string(kRecordNumberField),
                             number.kind() == Kind::Long ? u"Long" : u"Double", number});
  }
}

Pipeline::Pipeline(std::shared_ptr<const Template> t, PipelineOptions options)
    : template_(std::move(t)), options_(std::move(options)) {
  for (const auto& [word, allowed] :
       {std::pair{&options_.date_order, "mdy dmy ymd"}, {&options_.format, "auto jsonl csv"}}) {
    const std::string all = std::string(" ") + allowed + " ";
    if (word->empty() || word->find(' ') != std::string::npos ||
        all.find(" " + *word + " ") == std::string::npos)
      throw std::invalid_argument("'" + *word + "' is none of " + allowed);
  }
  host_fields_ = HostFieldsNamedIn(*template_);
}

Pipeline Pipeline::FromText(const std::string& template_text, const std::string& file,
                            PipelineOptions options) {
  return Pipeline(std::make_shared<const Template>(ParseTemplate(template_text, file)),
                  std::move(options));
}

std::string Pipeline::ControlIdFor(std::size_t number) const {
  if (options_.control_id) return options_.control_id(number);
  return options_.control_prefix + std::to_string(number);
}

std::unique_ptr<RecordReader> Pipeline::Reader(std::istream& in, const std::string& path) const {
  return std::make_unique<RecordReader>(in, path, ReaderOptions(options_));
}

RecordBuilder::RecordBuilder(const Pipeline& p)
    : pipeline_(p),
      builder_(std::make_unique<MessageBuilder>(p.tmpl())),
      record_(std::make_unique<Record>()),
      last_(std::make_unique<Outcome>()) {
  builder_->set_strict(p.options().strict);
}

RecordBuilder::~RecordBuilder() = default;

void RecordBuilder::set_check_names(bool on) { builder_->set_check_names(on); }

void RecordBuilder::Build(const RecordReader& reader, const RawRecord& raw, Built& out) {
  // The record keeps its room from one record to the next.
  reader.Complete(raw, *record_);
  Build(*record_, out);
}

void RecordBuilder::Build(Record& record, Built& out) {
  out.number = record.number;
  out.line = record.line;
  if (record.error.empty())
    AddHostFields(record, pipeline_.host_fields(),
                  pipeline_.host_fields().control_id ? pipeline_.ControlIdFor(record.number) : "");
  *last_ = builder_->Build(record);
  const Outcome& o = *last_;
  out.ok = o.ok();
  out.message.clear();
  out.reason.clear();
  out.reject.clear();
  if (keep_source_) out.source = record.source;
  if (out.ok) {
    out.message = std::move(last_->message);
    return;
  }
  if (!o.reason.empty()) {
    out.reason = o.reason;
  } else {
    for (std::size_t i = 0; i < o.failures.size(); ++i)
      out.reason += (i ? "; " : "") + Failure(pipeline_.tmpl(), o.failures[i]);
  }
  out.reject = RejectJson(pipeline_.tmpl(), record, o);
}

void RecordBuilder::BuildJson(std::string text, std::size_t number, std::size_t line,
                              const std::vector<std::string>& dates, Built& out,
                              const std::string& error) {
  PipelineOptions options = pipeline_.options();
  options.dates.insert(options.dates.end(), dates.begin(), dates.end());
  std::istringstream none;
  RecordReader reader(none, {}, ReaderOptions(options));
  RawRecord raw;
  raw.number = number;
  raw.line = line;
  raw.source = std::move(text);
  raw.error = error;
  if (raw.error.empty() && JsonNestingDepth(raw.source) > kMaxJsonDepth)
    raw.error = "the record nests deeper than " + std::to_string(kMaxJsonDepth) + " levels";
  Build(reader, raw, out);
}

TemplateCheck::TemplateCheck(const Pipeline& p) : pipeline_(p), builder_(p) {
  builder_.set_check_names(true);
}

TemplateCheck::~TemplateCheck() = default;

std::vector<std::string> TemplateCheck::Add(const RecordReader& reader, const RawRecord& raw) {
  Built built;
  builder_.Build(reader, raw, built);
  ++records_;
  const Outcome& o = builder_.last();
  std::vector<std::string> found;
  const auto say = [&](const std::string& what) {
    for (const auto& s : seen_)
      if (s == what) return;
    seen_.push_back(what);
    found.push_back(what + " (record " + std::to_string(raw.number) + ")");
  };
  if (!o.reason.empty()) say("record " + std::to_string(raw.number) + ": " + o.reason);
  for (const auto& f : o.failures) say(Failure(pipeline_.tmpl(), f));
  // The record's lists and member names, those inside list elements too.
  const auto remember = [](std::vector<std::u16string>& names, const std::u16string& name) {
    for (const auto& n : names)
      if (SameName(n, name)) return;
    names.push_back(name);
  };
  for (const Field& f : builder_.record().fields) remember(names_, f.name);
  std::vector<const std::vector<List>*> open{&builder_.record().lists};
  while (!open.empty()) {
    const auto* lists = open.back();
    open.pop_back();
    for (const List& l : *lists) {
      remember(lists_, l.name);
      for (const auto& element : l.elements)
        for (const Field& m : element) remember(names_, m.name);
      for (const auto& inner : l.element_lists) open.push_back(&inner);
    }
  }
  return found;
}

std::vector<std::string> TemplateCheck::Finish() {
  std::vector<std::string> found;
  if (records_ == 0) return found;
  const Template& t = pipeline_.tmpl();
  const auto walked = [&](const std::string& list, Position at, const char* how) {
    if (list.empty()) return;
    const std::u16string name = FromUtf8(list);
    for (const auto& n : lists_)
      if (SameName(n, name)) return;
    std::string what = TemplateWhere(t, at.line, at.column) + ": " + how + " '" + list +
                       "' walks a list that no checked record has";
    const std::u16string near = NearestName(name, lists_);
    if (!near.empty()) {
      what += "; did you mean '" + ToUtf8(near) + "'?";
    } else if (!lists_.empty()) {
      what += "; the records have";
      for (std::size_t i = 0; i < lists_.size(); ++i)
        what += (i ? ", '" : " '") + ToUtf8(lists_[i]) + "'";
    }
    for (const auto& s : seen_)
      if (s == what) return;
    seen_.push_back(what);
    found.push_back(what);
  };
  for (std::size_t g = 1; g < t.groups.size(); ++g)
    walked(t.groups[g].list, t.groups[g].at, "@each");
  // An optional value whose name no record has is empty in every message:
  // a misspelling, most likely.
  names_.push_back(u"SetId");
  for (const Expression& e : t.expressions) {
    if (!e.optional) continue;
    const auto known = [&](std::u16string_view n) {
      for (const auto& name : names_)
        if (SameName(name, n)) return true;
      return false;
    };
    for (const auto& name : UnknownNames(e.text, known)) {
      std::string what = TemplateWhere(t, e.at.line, e.at.column) + ": the optional value reads '" +
                         ToUtf8(name) + "', which no checked record has";
      const std::u16string near = NearestName(name, names_);
      if (!near.empty()) what += "; did you mean '" + ToUtf8(near) + "'?";
      bool again = false;
      for (const auto& w : seen_) again = again || w == what;
      if (again) continue;
      seen_.push_back(what);
      found.push_back(what);
    }
  }
  for (const SegmentLine& seg : t.segments) {
    walked(seg.list, seg.at, "@each");
    for (const Piece& p : seg.pieces) walked(p.repeat, seg.at, "{{@each}}");
  }
  return found;
}

std::vector<Built> BuildText(const Pipeline& p, const std::string& text, const std::string& path) {
  std::istringstream in(text);
  const auto reader = p.Reader(in, path);
  RecordBuilder builder(p);
  std::vector<Built> out;
  RawRecord raw;
  while (reader->NextRaw(raw)) builder.Build(*reader, raw, out.emplace_back());
  return out;
}

}  // namespace tarn::hl7
