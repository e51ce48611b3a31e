// tarn-hl7: builds one HL7 v2 message per data record from a template.
//
//   tarn-hl7 --template FILE --records FILE|- [--output FILE] [--rejects FILE]
//            [--framing none|lf|mllp] [--dates NAME,NAME...] [--format auto|jsonl|csv]
//            [--jobs N] [--check [N]] [--version]
//
// Records are read, built and written one at a time. Exit status: 0 when
// every record became a message, 1 when some were rejected (or --check found
// problems), 2 for a usage, template or file error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hl7/io.h"
#include "hl7/message.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace {

using nlohmann::json;
namespace hl7 = tarn::hl7;

constexpr const char* kFooter = R"(
Exit status:
  0  every record became a message (--check: no problems)
  1  some records were rejected (--check: problems found)
  2  a usage error, a template or records file that cannot be read, one file
     named twice, or output that cannot be written

Example:
  tarn-hl7 --template examples/hl7/adt_a01.tmpl --records examples/hl7/patients.jsonl \
           --dates BirthDate,MessageDateTime,AdmitDateTime,DiagnosedAt --framing lf \
           --output adt.hl7 --rejects adt.rejects.jsonl)";

std::string Where(const hl7::Template& t, hl7::Position at) {
  return t.file + ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
}

std::string Failure(const hl7::Template& t, const hl7::ExpressionFailure& f) {
  std::string s = Where(t, f.at) + ": " + f.reason;
  for (const auto& rep : f.reports)
    s += " [" + std::to_string(rep.number) + " " + tarn::ToUtf8(rep.procedure) + ": " +
         tarn::ToUtf8(rep.message) + "]";
  return s;
}

json RejectJson(const hl7::Template& t, const hl7::Record& r, const hl7::Outcome& o) {
  json expressions = json::array();
  for (const auto& f : o.failures) {
    json reports = json::array();
    for (const auto& rep : f.reports)
      reports.push_back({{"number", rep.number},
                         {"procedure", tarn::ToUtf8(rep.procedure)},
                         {"message", tarn::ToUtf8(rep.message)}});
    expressions.push_back({{"at", Where(t, f.at)},
                           {"expression", f.expression},
                           {"reason", f.reason},
                           {"reports", reports}});
  }
  json j{{"record", r.number}, {"line", r.line}};
  if (!o.reason.empty()) j["reason"] = o.reason;
  j["expressions"] = expressions;
  j["input"] = r.source;
  return j;
}

std::string RejectLine(const hl7::Template& t, const hl7::Record& r, const hl7::Outcome& o) {
  std::string s = "record " + std::to_string(r.number);
  if (r.line) s += " (line " + std::to_string(r.line) + ")";
  s += " rejected: ";
  if (!o.reason.empty()) return s + o.reason;
  for (std::size_t i = 0; i < o.failures.size(); ++i)
    s += (i ? "; " : "") + Failure(t, o.failures[i]);
  return s;
}

// A count of the records done, on a terminal only.
class Progress {
 public:
  explicit Progress(bool on) : on_(on) {}
  void Show(std::size_t done) {
    if (on_ && done % 1000 == 0) std::cerr << "\r" << done << " records" << std::flush;
  }
  void Clear() {
    if (on_) std::cerr << "\r\033[K" << std::flush;
  }

 private:
  bool on_;
};

// What one record came to: its framed message, or its reject (a JSON line
// for --rejects, else a line for standard error).
struct Built {
  bool ok = false;
  std::string text;
};

struct BuildSettings {
  const hl7::Template& tmpl;
  const hl7::RecordReader& reader;
  hl7::Framing framing;
  bool rejects_as_json;
};

void BuildOne(const BuildSettings& s, hl7::MessageBuilder& builder, hl7::RawRecord& raw,
              Built& built) {
  hl7::Record record;
  s.reader.Complete(std::move(raw), record);
  const hl7::Outcome o = builder.Build(record);
  built.ok = o.ok();
  if (built.ok)
    built.text = hl7::Frame(o.message, s.framing);
  else if (s.rejects_as_json)
    built.text =
        RejectJson(s.tmpl, record, o).dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  else
    built.text = RejectLine(s.tmpl, record, o);
}

// Builds a batch of records on N threads, each with its own interpreter and
// host; record i of a batch goes to thread i mod N, and the results come
// back in input order whatever the threads' pace. One thread builds inline.
class Builders {
 public:
  Builders(const BuildSettings& settings, std::size_t jobs) : settings_(settings) {
    if (jobs <= 1) {
      inline_ = std::make_unique<hl7::MessageBuilder>(settings_.tmpl);
      return;
    }
    for (std::size_t k = 0; k < jobs; ++k)
      threads_.emplace_back([this, k, jobs] { Work(k, jobs); });
  }
  ~Builders() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }

  void Run(std::vector<hl7::RawRecord>& batch, std::vector<Built>& out) {
    out.assign(batch.size(), Built{});
    if (inline_) {
      for (std::size_t i = 0; i < batch.size(); ++i)
        BuildOne(settings_, *inline_, batch[i], out[i]);
      return;
    }
    std::unique_lock lock(mutex_);
    batch_ = &batch;
    out_ = &out;
    busy_ = threads_.size();
    ++generation_;
    wake_.notify_all();
    done_.wait(lock, [this] { return busy_ == 0; });
  }

 private:
  void Work(std::size_t k, std::size_t jobs) {
    hl7::MessageBuilder builder(settings_.tmpl);  // made and used on this thread only
    std::size_t seen = 0;
    for (;;) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      auto& batch = *batch_;
      auto& out = *out_;
      lock.unlock();
      for (std::size_t i = k; i < batch.size(); i += jobs)
        BuildOne(settings_, builder, batch[i], out[i]);
      lock.lock();
      if (--busy_ == 0) done_.notify_one();
    }
  }

  const BuildSettings& settings_;
  std::unique_ptr<hl7::MessageBuilder> inline_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<hl7::RawRecord>* batch_ = nullptr;
  std::vector<Built>* out_ = nullptr;
  std::size_t busy_ = 0, generation_ = 0;
  bool stop_ = false;
};

// --check: the template against the first `count` records, every problem
// once with its position; nothing is written.
int Check(const hl7::Template& tmpl, hl7::RecordReader& reader, std::size_t count) {
  hl7::MessageBuilder builder(tmpl);
  builder.set_check_names(true);
  std::set<std::string> seen;
  std::size_t read = 0, problems = 0;
  hl7::Record r;
  auto say = [&](const std::string& what, const hl7::Record& rec) {
    if (!seen.insert(what).second) return;
    ++problems;
    std::cerr << "tarn-hl7: " << what << " (record " << rec.number << ")\n";
  };
  while (read < count && reader.Next(r)) {
    ++read;
    const hl7::Outcome o = builder.Build(r);
    if (!o.reason.empty()) say("record " + std::to_string(r.number) + ": " + o.reason, r);
    for (const auto& f : o.failures) say(Failure(tmpl, f), r);
  }
  std::cerr << "checked " << tmpl.segments.size() << " segments, " << tmpl.expressions.size()
            << " expressions against " << read << (read == 1 ? " record: " : " records: ")
            << problems << (problems == 1 ? " problem\n" : " problems\n");
  return problems ? 1 : 0;
}

int Run(int argc, char** argv) {
  CLI::App app{"Builds one HL7 v2 message per data record from a message template.", "tarn-hl7"};
  app.footer(kFooter);
  std::string template_path, records_path, output_path, rejects_path;
  std::string framing_word = "none", format_word = "auto";
  std::vector<std::string> dates, check_values;
  bool version = false;
  std::size_t jobs = 1;
  app.add_option("--template", template_path, "The message template");
  app.add_option("--records", records_path,
                 "Data records: JSON Lines, a JSON array or CSV with a header row; - reads "
                 "standard input");
  app.add_option("--output", output_path, "Writes the messages here instead of standard output");
  app.add_option("--rejects", rejects_path, "Writes one JSON line per rejected record here");
  app.add_option("--framing", framing_word, "Between messages: none, lf or mllp")
      ->check(CLI::IsMember({"none", "lf", "mllp"}));
  app.add_option("--dates", dates, "Members whose texts are dates (NAME,NAME...)")->delimiter(',');
  app.add_option("--format", format_word, "Record format: auto, jsonl or csv")
      ->check(CLI::IsMember({"auto", "jsonl", "csv"}));
  app.add_option("--check", check_values,
                 "Checks the template against the first N records (default 1), reports every "
                 "problem and writes no message")
      ->expected(0, 1)
      ->check(CLI::PositiveNumber);
  app.add_option("--jobs", jobs, "Builds messages on N threads; the output is the same as with one")
      ->check(CLI::Range(1, 256));
  app.add_flag("--version", version, "Prints the program's and the library's versions");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }
  if (version) {
    std::cout << "tarn-hl7 " << TARN_VERSION << " (tarnintr "
              << tarn::ToUtf8(tarn::Interpreter().Release()) << ")\n";
    return 0;
  }
  for (const auto& [value, option] :
       {std::pair{&template_path, "--template"}, std::pair{&records_path, "--records"}})
    if (value->empty()) {
      std::cerr << "tarn-hl7: " << option << " is required (see --help)\n";
      return 2;
    }
  const bool check = app.count("--check") > 0;

  // Before anything is opened for writing: no file may be two of these.
  const std::string twice = hl7::SameFileTwice({{"--template", template_path},
                                                {"--records", records_path},
                                                {"--output", check ? "" : output_path},
                                                {"--rejects", check ? "" : rejects_path}},
                                               !check && output_path.empty());
  if (!twice.empty()) {
    std::cerr << "tarn-hl7: " << twice << "\n";
    return 2;
  }

  hl7::Template tmpl;
  std::unique_ptr<std::istream> input;
  try {
    tmpl = hl7::LoadTemplate(template_path);
    input = hl7::OpenInput(records_path);
  } catch (const std::exception& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }
  hl7::RecordOptions options;
  options.dates = dates;
  if (format_word == "jsonl") options.format = hl7::RecordFormat::JsonLines;
  if (format_word == "csv") options.format = hl7::RecordFormat::Csv;
  hl7::RecordReader reader(*input, records_path == "-" ? "" : records_path, options);

  if (check) {
    try {
      const bool given = !check_values.empty() && !check_values[0].empty();
      return Check(tmpl, reader, given ? std::stoul(check_values[0]) : 1);
    } catch (const std::exception& e) {
      std::cerr << "tarn-hl7: " << e.what() << "\n";
      return 2;
    }
  }

  const hl7::Framing framing = framing_word == "lf"     ? hl7::Framing::Lf
                               : framing_word == "mllp" ? hl7::Framing::Mllp
                                                        : hl7::Framing::None;
  hl7::FileSink output_file, rejects_file;
  if (!output_path.empty() && !output_file.Open(output_path)) {
    std::cerr << "tarn-hl7: " << output_file.error() << "\n";
    return 2;
  }
  if (!rejects_path.empty() && !rejects_file.Open(rejects_path)) {
    std::cerr << "tarn-hl7: " << rejects_file.error() << "\n";
    return 2;
  }
  hl7::MessageSink& out = output_file;
  hl7::MessageSink* rejects = rejects_path.empty() ? nullptr : &rejects_file;

  // Records are cut from the input in order, built in batches (on --jobs
  // threads), and written in input order; the first failure stops the run.
  const BuildSettings settings{tmpl, reader, framing, rejects != nullptr};
  Builders builders(settings, jobs);
  const std::size_t batch_size = jobs <= 1 ? 64 : 256 * jobs;
  Progress progress(isatty(STDERR_FILENO));
  std::size_t rejected_on_stderr = 0, done = 0;
  std::string stopped;
  std::vector<hl7::RawRecord> batch;
  std::vector<Built> built;
  bool more = true, failed_write = false;
  while (more && !failed_write) {
    batch.clear();
    try {
      hl7::RawRecord raw;
      while (batch.size() < batch_size && (more = reader.NextRaw(raw)))
        batch.push_back(std::move(raw));
    } catch (const std::exception& e) {
      stopped = e.what();  // the records cannot be read on; what was read still counts
      more = false;
    }
    builders.Run(batch, built);
    for (const Built& b : built) {
      if (b.ok) {
        failed_write = !out.Put(b.text);
      } else if (rejects) {
        failed_write = !rejects->Put(b.text);
      } else {
        progress.Clear();
        std::cerr << "tarn-hl7: " << b.text << "\n";
        ++rejected_on_stderr;
      }
      if (failed_write) break;
      progress.Show(++done);
    }
  }
  out.Finish();
  if (rejects) rejects->Finish();
  progress.Clear();

  const std::size_t written = out.delivered();
  const std::size_t rejected = rejects ? rejects->delivered() : rejected_on_stderr;
  bool failed = false;
  for (const std::string& problem : {stopped, out.error(), rejects ? rejects->error() : ""})
    if (!problem.empty()) {
      std::cerr << "tarn-hl7: " << problem << "\n";
      failed = true;
    }
  std::cerr << written << " messages written, " << rejected << " rejected\n";
  if (failed) return 2;
  return rejected ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }
}
