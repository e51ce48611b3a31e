// tarn-hl7: builds one HL7 v2 message per data record from a template.
//
//   tarn-hl7 --template FILE --records FILE|- [--output FILE] [--rejects FILE]
//            [--framing none|lf|mllp] [--dates NAME,NAME...] [--format auto|jsonl|csv]
//            [--jobs N] [--check [N]] [--lenient] [--version] [--date-order mdy|dmy|ymd]
//            [--encoding NAME] [--control-id PREFIX] [--batch [--batch-size N]]
//            [--send HOST:PORT [--journal FILE] [--ack-timeout S] [--retries N]
//                              [--retry-delay S] [--tls [--tls-ca FILE]
//                              [--tls-cert FILE [--tls-key FILE]]]
//                              [--on-ae retry|reject] [--on-ar retry|reject]
//                              [--max-retry-delay S]]
//            [--records odbc:CONNECTION --query SELECT [--key COLUMN]
//                                       [--on-settled STATEMENT]]
//            [--follow [--poll S]] [--log FILE]
//
// Expressions are evaluated in the interpreter's strict mode unless
// --lenient is given. Records are read, built and written (or delivered)
// one at a time. Exit
// status: 0 when every record became a message (or was delivered), 1 when
// some were rejected (or --check found problems), 2 for a usage, template or
// file error or a receiver that cannot be reached.
#include <unistd.h>
#ifdef TARN_WITH_MIMALLOC
#include <mimalloc.h>
#endif

#include <fcntl.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <new>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hl7/batch.h"
#include "hl7/feed.h"
#include "hl7/follow.h"
#include "hl7/io.h"
#include "hl7/journal.h"
#include "hl7/message.h"
#include "hl7/odbc.h"
#include "hl7/outbound.h"
#include "hl7/pipeline.h"
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
     named twice, output that cannot be written, or (--send) a receiver that
     cannot be reached or a journal that cannot be used, a database that
     cannot be read (without --follow)
  With --follow, SIGTERM or SIGINT end the run cleanly with 0 (1 when
  records were rejected).

Example:
  tarn-hl7 --template examples/hl7/adt_a01.tmpl --records examples/hl7/patients.jsonl \
           --dates BirthDate,MessageDateTime,AdmitDateTime,DiagnosedAt --framing lf \
           --output adt.hl7 --rejects adt.rejects.jsonl
  tarn-hl7 --template examples/hl7/adt_a01.tmpl --records examples/hl7/patients.jsonl \
           --dates BirthDate,MessageDateTime,AdmitDateTime,DiagnosedAt \
           --send 127.0.0.1:2575 --journal adt.journal
  tarn-hl7 --template examples/hl7/adt_a08.tmpl --records "odbc:Driver=SQLite3;Database=adt.db" \
           --query "SELECT id, mrn AS Mrn, last_name AS LastName FROM adt_events" --key id \
           --follow --poll 2 --send 127.0.0.1:2575 --journal adt.journal --log adt.log)";

std::string RejectLine(std::size_t number, std::size_t line, const std::string& reason) {
  std::string s = "record " + std::to_string(number);
  if (line) s += " (line " + std::to_string(line) + ")";
  return s + " rejected: " + reason;
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

// What one record came to: its message (framed, or as built for --send),
// or its reject (a JSON line for --rejects, else a line for standard error).
struct Built : hl7::Built {
  std::string text;
  std::string key;  // the --key value as JSON text
  double read_at = 0;
};

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// --log: one JSON line per outcome, appended in one write.
class OutcomeLog {
 public:
  bool Open(const std::string& path) {
    if (path.empty()) return true;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) error_ = path + ": cannot be written: " + std::strerror(errno);
    return fd_ >= 0;
  }
  ~OutcomeLog() {
    if (fd_ >= 0) ::close(fd_);
  }
  const std::string& error() const { return error_; }
  void Write(nlohmann::ordered_json line) {
    if (fd_ < 0) return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    char frac[8];
    std::snprintf(frac, sizeof frac, ".%03dZ", static_cast<int>(ms));
    nlohmann::ordered_json j;
    j["time"] = std::string(stamp) + frac;
    for (auto& [k, v] : line.items()) j[k] = v;
    const std::string text = j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    // A log that cannot be written does not stop the interface.
    if (::write(fd_, text.data(), text.size()) < 0) error_ = std::strerror(errno);
  }

 private:
  int fd_ = -1;
  std::string error_;
};

struct BuildSettings {
  const hl7::Pipeline& pipeline;
  const hl7::RecordReader& reader;
  hl7::Framing framing;
  bool rejects_as_json;
  bool sending;
  std::string key_member;  // records from a database: the --key column
};

void BuildOne(const BuildSettings& s, hl7::RecordBuilder& builder, const hl7::RawRecord& raw,
              Built& built) {
  builder.Build(s.reader, raw, built);
  built.read_at = raw.read_at;
  if (!s.key_member.empty()) {
    const auto row = json::parse(raw.source, nullptr, false);
    if (row.is_object() && row.contains(s.key_member)) built.key = row[s.key_member].dump();
  }
  if (built.ok) {
    built.text = s.sending ? std::move(built.message) : hl7::Frame(built.message, s.framing);
    built.message = std::string();
  } else if (s.rejects_as_json) {
    built.text = std::move(built.reject);
    built.text += '\n';
  } else
    built.text = RejectLine(built.number, built.line, built.reason);
}

// Builds a batch of records on N threads, each with its own interpreter and
// host: N - 1 threads of their own, and the caller's, which first reads the
// next batch and writes the one before and then joins in (so that no more
// threads run than build). The threads take the records in turn, and the
// results come back in input order whatever the threads' pace.
class Builders {
 public:
  Builders(const BuildSettings& settings, std::size_t jobs)
      : settings_(settings), own_(settings.pipeline) {
    own_.set_keep_source(settings_.sending);
    for (std::size_t k = 1; k < jobs; ++k) threads_.emplace_back([this] { Work(); });
  }
  ~Builders() {
    Wait();
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }

  // Starts building `batch` into `out`; both stay untouched until Wait().
  // `alone`: on the caller's thread only.
  void Start(std::vector<hl7::RawRecord>& batch, std::vector<Built>& out, bool alone = false) {
    out.assign(batch.size(), Built{});
    std::lock_guard lock(mutex_);
    batch_ = &batch;
    out_ = &out;
    next_ = 0;
    if (alone) return;
    busy_ = threads_.size();
    ++generation_;
    wake_.notify_all();
  }

  // Builds along until the batch is done.
  void Wait() {
    std::unique_lock lock(mutex_);
    if (!batch_) return;
    lock.unlock();
    Take(own_, *batch_, *out_);
    lock.lock();
    done_.wait(lock, [this] { return busy_ == 0; });
    batch_ = nullptr;
  }

 private:
  // A few neighbours at a time, so that threads seldom write next to one
  // another.
  void Take(hl7::RecordBuilder& builder, std::vector<hl7::RawRecord>& batch,
            std::vector<Built>& out) {
    constexpr std::size_t kRun = 4;
    for (std::size_t from; (from = next_.fetch_add(kRun)) < batch.size();)
      for (std::size_t i = from; i < std::min(from + kRun, batch.size()); ++i) try {
          BuildOne(settings_, builder, batch[i], out[i]);
        } catch (const std::bad_alloc&) {
          // Number 0: not built for want of memory. The run stops at this
          // record; the ones before it are written.
          out[i] = Built{};
        }
  }

  void Work() {
    hl7::RecordBuilder builder(settings_.pipeline);  // made and used on this thread only
    builder.set_keep_source(settings_.sending);
    std::size_t seen = 0;
    for (;;) {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      auto& batch = *batch_;
      auto& out = *out_;
      lock.unlock();
      Take(builder, batch, out);
      lock.lock();
      if (--busy_ == 0) done_.notify_all();
    }
  }

  const BuildSettings& settings_;
  hl7::RecordBuilder own_;  // the caller's
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::vector<hl7::RawRecord>* batch_ = nullptr;
  std::vector<Built>* out_ = nullptr;
  std::atomic<std::size_t> next_ = 0;
  std::size_t busy_ = 0, generation_ = 0;
  bool stop_ = false;
};

// --check: the template against the first `count` records, every problem
// once with its position; nothing is written.
int Check(const hl7::Pipeline& pipeline, hl7::RecordReader& reader, std::size_t count) {
  // Where each expression's value goes, so that a field one separator too
  // far shows at a glance.
  for (const hl7::Expression& e : pipeline.tmpl().expressions)
    std::cout << hl7::TemplateWhere(pipeline.tmpl(), e.at.line, e.at.column) << ": "
              << (e.position.empty() ? "condition" : e.position + (e.required ? " (required)" : ""))
              << " \u2190 " << tarn::ToUtf8(e.text) << "\n";
  std::cout << std::flush;
  hl7::TemplateCheck check(pipeline);
  std::size_t read = 0, problems = 0;
  const auto say = [&](const std::vector<std::string>& found) {
    for (const auto& what : found) std::cerr << "tarn-hl7: " << what << "\n";
    problems += found.size();
  };
  hl7::RawRecord raw;
  while (read < count && reader.NextRaw(raw)) {
    ++read;
    say(check.Add(reader, raw));
  }
  say(check.Finish());
  const hl7::Template& tmpl = pipeline.tmpl();
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
  bool lenient = false;
  app.add_flag("--lenient", lenient,
               "Evaluates as the library does by default: texts that strict mode rejects (a "
               "function reading the end of the text, an IF block inside a branch, branch words "
               "that run together, an argument keeping a comma, a number in exponent form, a "
               "field hiding a function, a malformed time zone) give what they give");
  std::string date_order_word = "mdy";
  app.add_option("--date-order", date_order_word,
                 "Order of numeric dates whose year is not first: mdy, dmy or ymd")
      ->check(CLI::IsMember({"mdy", "dmy", "ymd"}));
  std::string control_prefix;
  app.add_option("--control-id", control_prefix,
                 "Prefix of the ControlId field (followed by the record's counter)");
  bool batch_file_wanted = false;
  std::size_t per_batch = 0;
  app.add_flag("--batch", batch_file_wanted, "Writes a batch file: FHS, BHS ... BTS blocks, FTS");
  app.add_option("--batch-size", per_batch, "Messages in each BHS ... BTS block (0: one block)");
  std::string encoding;
  app.add_option("--encoding", encoding,
                 "How the records' bytes are written, when not in UTF-8 (latin1, windows-1252, "
                 "utf-16 or any name ICU knows)");
  std::string send_address, journal_path;
  double ack_timeout = 30, retry_delay = 1;
  int retries = 3;
  app.add_option("--send", send_address, "Delivers each message over MLLP to HOST:PORT");
  app.add_option("--journal", journal_path,
                 "Records the run and each record's final outcome here; the same command "
                 "resumes the run, and another run is refused");
  app.add_option("--ack-timeout", ack_timeout, "Seconds to wait for an acknowledgement")
      ->check(CLI::Range(0.001, 86400.0));
  app.add_option("--retries", retries, "Retries after the first attempt")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--retry-delay", retry_delay, "Seconds before the first retry (then doubling)")
      ->check(CLI::Range(0.0, 3600.0));
  hl7::TlsOptions tls;
  app.add_flag("--tls", tls.enabled, "Delivers over TLS, checking the receiver's certificate");
  app.add_option("--tls-ca", tls.ca_file,
                 "Authorities (PEM) for the receiver's certificate, instead of the system's");
  app.add_option("--tls-cert", tls.cert_file, "A client certificate chain (PEM) to offer");
  app.add_option("--tls-key", tls.key_file, "The client certificate's key (PEM)");
  bool follow = false;
  double poll = 5, most_delay = 60;
  std::string query, key_column, on_settled, log_path, on_ae = "reject", on_ar = "retry";
  app.add_flag("--follow", follow,
               "Keeps running: follows the records file as it grows (and is rotated), reads "
               "standard input as records arrive, or runs --query every --poll seconds; waits "
               "for a receiver that cannot be reached; SIGTERM or SIGINT end the run cleanly");
  app.add_option("--poll", poll,
                 "With --follow and odbc: records: seconds between runs of the query (default 5)")
      ->check(CLI::Range(0.01, 86400.0));
  app.add_option("--query", query,
                 "With --records odbc:CONNECTION: the SELECT whose rows are the records");
  app.add_option("--key", key_column,
                 "A column of the query that grows with every new row: rows are read in its "
                 "order, and a journal keeps the highest settled, so that a restart reads only "
                 "newer rows");
  app.add_option("--on-settled", on_settled,
                 "A statement run after each outcome is journaled, with the record's key as its "
                 "parameter; with two, the outcome (delivered or rejected) and the key");
  app.add_option("--log", log_path,
                 "Appends one JSON line per outcome here: time, record, key, control ID, "
                 "outcome, ACK code, latency");
  app.add_option("--on-ae", on_ae, "An AE answer: reject (final, the default) or retry")
      ->check(CLI::IsMember({"retry", "reject"}));
  app.add_option("--on-ar", on_ar, "An AR answer: retry (the default) or reject (final)")
      ->check(CLI::IsMember({"retry", "reject"}));
  app.add_option("--max-retry-delay", most_delay,
                 "The longest wait between attempts (default 60 seconds; 10 with --follow)")
      ->check(CLI::Range(0.0, 86400.0));
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
#ifdef TARN_WITH_MIMALLOC
    std::cout << "memory: mimalloc " << mi_version() / 100 << "." << mi_version() / 10 % 10 << "."
              << mi_version() % 10 << "\n";
#endif
    return 0;
  }
  for (const auto& [value, option] :
       {std::pair{&template_path, "--template"}, std::pair{&records_path, "--records"}})
    if (value->empty()) {
      std::cerr << "tarn-hl7: " << option << " is required (see --help)\n";
      return 2;
    }
  const bool check = app.count("--check") > 0;
#ifdef TARN_WITH_MIMALLOC
  // Each thread's heap keeps what it freed for a while; with many threads
  // that is most of the memory, so it goes back to the system at once.
  if (jobs > 2) mi_option_set(mi_option_decommit_delay, 0);
#endif
  const bool from_database = records_path.rfind("odbc:", 0) == 0;
  {
    std::string misuse;
    if (from_database && query.empty())
      misuse = "--records odbc:... needs --query";
    else if (!from_database && !(query.empty() && key_column.empty() && on_settled.empty()))
      misuse = "--query, --key and --on-settled need --records odbc:CONNECTION";
    else if (!on_settled.empty() && key_column.empty())
      misuse = "--on-settled needs --key";
    else if (follow && from_database && key_column.empty())
      misuse =
          "--follow with a query needs --key (else every run of the query gives the same rows)";
    else if (app.count("--poll") && !(follow && from_database))
      misuse = "--poll needs --follow and --records odbc:CONNECTION";
    else if (follow && (check || batch_file_wanted))
      misuse = "--follow goes with neither --check nor --batch";
    else if ((app.count("--on-ae") || app.count("--on-ar") || app.count("--max-retry-delay")) &&
             send_address.empty())
      misuse = "--on-ae, --on-ar and --max-retry-delay need --send";
    else if (from_database && !encoding.empty())
      misuse = "--encoding is for files: a database's driver gives text";
    if (!misuse.empty()) {
      std::cerr << "tarn-hl7: " << misuse << "\n";
      return 2;
    }
  }
  if (follow) hl7::StopOnSignals();
  OutcomeLog log;
  std::size_t current = 0;  // the record being delivered, for the waits' messages
  hl7::OutboundOptions outbound_options;
  outbound_options.control_prefix = control_prefix;
  outbound_options.journal = journal_path;
  if (!send_address.empty()) {
    hl7::DeliveryOptions d;
    if (!hl7::ParseAddress(send_address, d.host, d.port)) {
      std::cerr << "tarn-hl7: --send: '" << send_address << "' is not HOST:PORT\n";
      return 2;
    }
    d.ack_timeout = ack_timeout;
    // A running interface waits for its receiver as long as it takes.
    d.retries = follow && !app.count("--retries") ? INT_MAX - 1 : retries;
    d.retry_delay = retry_delay;
    d.most_delay = app.count("--max-retry-delay") ? most_delay : follow ? 10 : 60;
    d.retry_ae = on_ae == "retry";
    d.reject_ar = on_ar == "reject";
    if (follow) d.stopped = [] { return hl7::StopRequested(); };
    // Without a wait's message an operator cannot tell a receiver that is
    // down from a quiet interface.
    d.on_wait = [&](int attempt, const std::string& why, double delay) {
      if ((attempt & (attempt - 1)) == 0)
        std::cerr << "tarn-hl7: record " << current << ": attempt " << attempt << " failed: " << why
                  << "; trying again in " << delay << " s\n";
      log.Write(
          {{"record", current}, {"outcome", "retrying"}, {"attempt", attempt}, {"reason", why}});
    };
    d.tls = tls;
    outbound_options.delivery = d;
    if (!output_path.empty()) {
      std::cerr << "tarn-hl7: --send and --output exclude each other\n";
      return 2;
    }
  } else if (!journal_path.empty() || tls.enabled) {
    std::cerr << "tarn-hl7: " << (tls.enabled ? "--tls" : "--journal") << " needs --send\n";
    return 2;
  }
  if (!tls.enabled && !(tls.ca_file.empty() && tls.cert_file.empty() && tls.key_file.empty())) {
    std::cerr << "tarn-hl7: --tls-ca, --tls-cert and --tls-key need --tls\n";
    return 2;
  }
  if (batch_file_wanted && (!send_address.empty() || framing_word == "mllp")) {
    std::cerr << "tarn-hl7: --batch writes a file: not with --send or --framing mllp\n";
    return 2;
  }
  if (per_batch && !batch_file_wanted) {
    std::cerr << "tarn-hl7: --batch-size needs --batch\n";
    return 2;
  }

  // Before anything is opened for writing: no file may be two of these.
  const std::string twice = hl7::SameFileTwice({{"--template", template_path},
                                                {"--records", from_database ? "" : records_path},
                                                {"--log", check ? "" : log_path},
                                                {"--output", check ? "" : output_path},
                                                {"--rejects", check ? "" : rejects_path},
                                                {"--journal", check ? "" : journal_path}},
                                               !check && output_path.empty());
  if (!twice.empty()) {
    std::cerr << "tarn-hl7: " << twice << "\n";
    return 2;
  }

  std::optional<hl7::Outbound> outbound;  // made once the records are open
  hl7::PipelineOptions options;
  options.dates = dates;
  options.date_order = date_order_word;
  options.format = format_word;
  options.control_prefix = control_prefix;
  options.strict = !lenient;
  std::optional<hl7::Pipeline> pipeline;
  std::unique_ptr<std::istream> input;
  try {
    if (!encoding.empty()) encoding = hl7::EncodingName(encoding);
    const std::string template_text = hl7::ReadInput(template_path);
    hl7::RequireUtf8(template_text, template_path);
    pipeline.emplace(std::make_shared<const hl7::Template>(hl7::LoadTemplate(template_path)),
                     options);
    if (!from_database)
      input = follow ? hl7::FollowInput(records_path) : hl7::OpenInput(records_path);
    if (!encoding.empty())
      input = hl7::DecodeInput(std::move(input), encoding,
                               records_path == "-" ? "standard input" : records_path);
    if (!journal_path.empty())
      outbound_options.run.template_digest = hl7::TextDigest(template_text);
  } catch (const std::exception& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }
  const hl7::Template& tmpl = pipeline->tmpl();
  std::unique_ptr<hl7::RecordReader> reader;
  if (!from_database) reader = pipeline->Reader(*input, records_path == "-" ? "" : records_path);
  // Rows from a database: the query runs once its columns' types and the
  // journal's highest key are known.
  std::unique_ptr<hl7::OdbcInput> database;
  std::function<void()> on_idle;
  const auto open_database = [&](const std::string& after, std::size_t first_number) {
    hl7::OdbcSource source;
    source.connection = records_path.substr(5);
    source.query = query;
    source.key = key_column;
    source.after = after;
    source.poll = follow ? poll : 0;
    source.most_delay = app.count("--max-retry-delay") ? most_delay : 10;
    source.on_problem = [&](const std::string& why) {
      std::cerr << "tarn-hl7: " << why << "; the query is run again after a pause\n";
      log.Write({{"outcome", "database"}, {"reason", why}});
    };
    // Statements of --on-settled that failed are tried again while the
    // interface is quiet, not only after the next outcome.
    source.on_idle = [&] {
      if (on_idle) on_idle();
    };
    database = std::make_unique<hl7::OdbcInput>(source);
    database->Describe();
    reader = pipeline->RowReader(database->stream(), database->date_columns(), first_number);
  };

  if (check) {
    try {
      if (from_database) open_database("", 1);
      const bool given = !check_values.empty() && !check_values[0].empty();
      return Check(*pipeline, *reader, given ? std::stoul(check_values[0]) : 1);
    } catch (const std::exception& e) {
      std::cerr << "tarn-hl7: " << e.what() << "\n";
      return 2;
    }
  }

  // What the journal must have been written for: whatever changes messages.
  std::vector<std::string> date_names = dates;
  std::sort(date_names.begin(), date_names.end());
  date_names.erase(std::unique(date_names.begin(), date_names.end()), date_names.end());
  std::string dates_word;
  for (const auto& d : date_names) dates_word += (dates_word.empty() ? "" : ",") + d;
  outbound_options.run.options = {{"--control-id", control_prefix},
                                  {"--dates", dates_word},
                                  {"--date-order", date_order_word},
                                  {"--format", format_word},
                                  {"--lenient", lenient ? "yes" : "no"},
                                  {"--encoding", encoding},
                                  {"--query", query},
                                  {"--key", key_column}};
  try {
    outbound.emplace(outbound_options);
  } catch (const std::exception& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    if (!journal_path.empty()) std::cerr << "0 messages written, 0 rejected\n";
    return 2;
  }
  if (!log.Open(log_path)) {
    std::cerr << "tarn-hl7: " << log.error() << "\n";
    return 2;
  }
  if (from_database) try {
      hl7::Journal* journal = outbound->journal();
      // With a key the query asks only for rows after those settled; without
      // one its rows are checked against the journal as a file's are.
      if (key_column.empty())
        open_database("", 1);
      else
        open_database(journal ? journal->highest_key() : "", outbound->earlier_settled() + 1);
    } catch (const std::exception& e) {
      std::cerr << "tarn-hl7: " << e.what() << "\n";
      if (follow && hl7::StopRequested()) {
        std::cerr << "tarn-hl7: stopped by " << strsignal(hl7::StopSignal())
                  << "\n0 messages written, 0 rejected\n";
        return 0;
      }
      std::cerr << "0 messages written, 0 rejected\n";
      return 2;
    }
  // --on-settled: the outcomes whose statement has not run yet, oldest
  // first; the journal records each one that did.
  struct Unmarked {
    std::size_t record;
    std::string key, outcome;
  };
  std::deque<Unmarked> unmarked;
  std::optional<hl7::SettledStatement> settled_statement;
  bool settled_failing = false;
  if (!on_settled.empty()) {
    settled_statement.emplace(records_path.substr(5), on_settled);
    if (hl7::Journal* journal = outbound->journal())
      for (const std::size_t n : journal->Unmarked())
        unmarked.push_back({n, outbound->Settled(n)->key,
                            outbound->Settled(n)->delivered ? "delivered" : "rejected"});
  }
  const auto mark_settled = [&] {
    while (!unmarked.empty()) {
      try {
        settled_statement->Run(unmarked.front().key, unmarked.front().outcome);
      } catch (const std::exception& e) {
        if (!settled_failing)
          std::cerr << "tarn-hl7: --on-settled, record " << unmarked.front().record << ": "
                    << e.what() << "; tried again later (the journal holds it)\n";
        settled_failing = true;
        return;
      }
      if (settled_failing)
        std::cerr << "tarn-hl7: --on-settled runs again from record " << unmarked.front().record
                  << "\n";
      settled_failing = false;
      try {
        if (hl7::Journal* journal = outbound->journal()) journal->Mark(unmarked.front().record);
      } catch (const std::exception&) {
        // The statement simply runs again on resume.
      }
      unmarked.pop_front();
    }
  };
  if (settled_statement) {
    mark_settled();
    on_idle = [&] {
      if (!unmarked.empty()) mark_settled();
    };
  }
  if (outbound->journal_repaired())
    std::cerr << "tarn-hl7: " << journal_path << ": a torn last line was cut off\n";
  if (const std::size_t n = outbound->earlier_settled())
    std::cerr << "tarn-hl7: " << n << " records settled by an earlier run ("
              << outbound->earlier_delivered() << " delivered, " << outbound->earlier_rejected()
              << " rejected) are skipped; the counts below are this run's\n";

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
  std::optional<hl7::BatchSink> batch_file;
  if (batch_file_wanted)
    batch_file.emplace(output_file, tmpl.delimiters, framing, per_batch, hl7::LocalStamp());
  hl7::MessageSink& out = batch_file ? static_cast<hl7::MessageSink&>(*batch_file) : output_file;
  hl7::MessageSink* rejects = rejects_path.empty() ? nullptr : &rejects_file;

  // Room given back when memory runs out, so that the run can still say so,
  // write what it built and give its counts.
  std::unique_ptr<char[]> reserve(new char[1 << 20]);
  const std::string out_of_memory = "out of memory";

  // Records are cut from the input in order, built in batches (on --jobs
  // threads), and written (or delivered, one at a time) in input order; the
  // first failure stops the run.
  const BuildSettings settings{*pipeline,
                               *reader,
                               framing,
                               rejects != nullptr,
                               outbound->sending(),
                               database ? database->key_member() : ""};
  // Batches start small, so that the threads start soon, and grow; bytes
  // bound them as well as records, so that large records cost no more
  // memory with more threads.
  const std::size_t most_per_batch = jobs <= 1 ? 64 : 1024 * jobs;
  const std::size_t batch_bytes = jobs > 2 ? 512 << 10 : 2 << 20;
  // A record larger than this is a batch of its own, built on the caller's
  // thread: every thread's memory keeps some twenty times the size of the
  // largest record it built, and the threads together must not keep much.
  const std::size_t large_record = (1 << 20) / jobs;
  std::optional<hl7::RawRecord> held;  // a large record, for the next batch
  bool alone[2] = {false, false};
  std::size_t batch_size = 64;
  Progress progress(isatty(STDERR_FILENO));
  std::size_t rejected_on_stderr = 0, done = 0, settled_seen = 0, delivered = 0;
  std::string stopped;
  // Two batches: one is built while the other is read, then written.
  std::vector<hl7::RawRecord> batches[2];
  std::vector<Built> built[2];
  bool more = true, failed_write = false, halted = false;
  // Cuts the next batch: without waiting for the input unless `may_wait`
  // and nothing is cut yet, so that what has arrived is written before
  // what has not. Records an earlier run settled are checked and counted.
  const auto read = [&](std::vector<hl7::RawRecord>& batch, bool may_wait) {
    batch.clear();
    bool& by_one = alone[&batch - batches];
    by_one = held.has_value();
    if (held) {
      batch.push_back(std::move(*held));
      held.reset();
      return;
    }
    try {
      hl7::RawRecord raw;
      batch_size = std::min(batch_size * 2, most_per_batch);
      std::size_t bytes = 0;
      while (more && batch.size() < batch_size && bytes < batch_bytes) {
        if (!(may_wait && batch.empty()) && !reader->Ready()) break;
        if (!(more = reader->NextRaw(raw))) break;
        raw.read_at = SteadySeconds();
        if (database) raw.line = 0;  // rows have no lines; --log names their keys
        if (const hl7::JournalEntry* settled = outbound->Settled(raw.number)) {
          if (hl7::RecordDigest(raw.source) != settled->digest) {
            stopped = journal_path + ": record " + std::to_string(raw.number) +
                      " is not the one this journal settled: these records are not those of " +
                      "the run it belongs to (a file written anew under the same name?)";
            halted = true;
            more = false;
            break;
          }
          ++settled_seen;
          progress.Show(++done);
        } else if (raw.source.size() > large_record) {
          by_one = batch.empty();
          if (by_one)
            batch.push_back(std::move(raw));
          else
            held = std::move(raw);
          break;
        } else {
          bytes += raw.source.size();
          batch.push_back(std::move(raw));
        }
      }
    } catch (const std::bad_alloc&) {
      reserve.reset();
      stopped = out_of_memory + " reading record " + std::to_string(reader->count() + 1);
      more = false;
    } catch (const std::exception& e) {
      stopped = e.what();  // the records cannot be read on; what was read still counts
      more = false;
    }
  };
  // What each outcome is told to --log and --on-settled.
  const auto settled = [&](const Built& b, const char* outcome, const hl7::DeliveryResult* sent,
                           const std::string& reason) {
    nlohmann::ordered_json line;
    line["record"] = b.number;
    if (!b.key.empty()) line["key"] = json::parse(b.key, nullptr, false);
    line["control_id"] = sent ? sent->control_id : "";
    line["outcome"] = outcome;
    line["ack"] = sent ? sent->ack_code : "";
    if (!reason.empty()) line["reason"] = reason;
    line["latency_ms"] = static_cast<long long>((SteadySeconds() - b.read_at) * 1000);
    log.Write(std::move(line));
    if (settled_statement && !b.key.empty() && std::string(outcome) != "written") {
      unmarked.push_back({b.number, b.key, outcome});
      mark_settled();
    }
  };
  bool stopped_by_signal = false;
  const double follow_cap = app.count("--max-retry-delay") ? most_delay : 10;
  // Writes (or delivers) the records of `raws` as built into `batch`.
  const auto write = [&](const std::vector<hl7::RawRecord>& raws, std::vector<Built>& batch) {
    if (halted) return;
    for (std::size_t i = 0; i < batch.size(); ++i) {
      Built& b = batch[i];
      if (b.number == 0) {
        reserve.reset();
        stopped = out_of_memory + " building record " + std::to_string(raws[i].number) +
                  "; stopped there (the records before it are written)";
        halted = true;
        return;
      }
      // A stop is taken between records; those read from a pipe were taken
      // from it and go out first, since nothing could read them again.
      if (follow && hl7::StopRequested() && records_path != "-") {
        stopped_by_signal = true;
        halted = true;
        return;
      }
      // The journal keeps a digest of each record as read.
      const std::string digest =
          outbound->journaling() ? hl7::RecordDigest(raws[i].source) : std::string();
      if (b.ok && outbound->sending()) {
        hl7::DeliveryResult sent;
        current = b.number;
        hl7::Disposition d;
        // Only a --retries limit ends the sender's own waits; a running
        // interface then waits on, as long again each time, up to the cap.
        for (double pause = retry_delay;; pause = std::min(pause * 2, follow_cap)) {
          d = outbound->Deliver(b.number, b.text, digest, sent, b.key);
          if (!follow || hl7::StopRequested() ||
              (d != hl7::Disposition::Unreachable && d != hl7::Disposition::Pending) ||
              !hl7::WaitUnlessStopped(std::max(pause, 0.05)))
            break;
        }
        if (d == hl7::Disposition::Delivered) {
          ++delivered;
          settled(b, "delivered", &sent, "");
        } else if (d == hl7::Disposition::Rejected) {
          const std::string why = sent.ack_code == "AE" || sent.ack_code == "CE"
                                      ? "the receiver answered " + sent.ack_code +
                                            (sent.reason.empty() ? "" : ": ") + sent.reason
                                      : sent.reason;
          settled(b, "rejected", &sent, why);
          if (rejects) {
            const json j{{"record", b.number},
                         {"line", b.line},
                         {"reason", why},
                         {"control_id", sent.control_id},
                         {"expressions", json::array()},
                         {"input", b.source}};
            failed_write =
                !rejects->Put(j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
          } else {
            progress.Clear();
            std::cerr << "tarn-hl7: " << RejectLine(b.number, b.line, why) << "\n";
            ++rejected_on_stderr;
          }
        } else if (follow && hl7::StopRequested()) {
          stopped_by_signal = true;
          stopped = "record " + std::to_string(b.number) + " is not acknowledged (" + sent.reason +
                    "): the same command sends it again";
          halted = true;
          return;
        } else {
          stopped =
              "record " + std::to_string(b.number) + ": " + sent.reason + "; stopped" +
              (journal_path.empty() ? ""
                                    : " (the same command with the same --journal sends it again)");
          halted = true;
          return;
        }
      } else if (b.ok) {
        failed_write = !out.Put(b.text);
        if (follow) failed_write = failed_write || !out.Flush();
        settled(b, "written", nullptr, "");
      } else {
        outbound->NotBuilt(b.number, b.reason, digest, b.key);
        settled(b, "rejected", nullptr, b.reason);
        if (rejects) {
          failed_write = !rejects->Put(b.text);
        } else {
          progress.Clear();
          std::cerr << "tarn-hl7: " << b.text << "\n";
          ++rejected_on_stderr;
        }
      }
      progress.Show(++done);
      if (!outbound->failure().empty()) {
        stopped = outbound->failure() + "; stopped: record " + std::to_string(b.number) +
                  "'s outcome is not journaled, so the next run handles it again";
        halted = true;
        return;
      }
      if (failed_write) return;
    }
  };
  {
    Builders builders(settings, jobs);
    try {
      std::size_t cur = 0;
      read(batches[cur], true);
      builders.Start(batches[cur], built[cur], alone[cur]);
      for (;;) {
        const std::size_t next = 1 - cur;
        batches[next].clear();
        if (!halted) read(batches[next], false);
        builders.Wait();
        if (!batches[next].empty()) builders.Start(batches[next], built[next], alone[next]);
        write(batches[cur], built[cur]);
        built[cur].clear();
        if (failed_write || halted) break;
        if (batches[next].empty()) {
          if (!more) break;
          // The input has nothing more yet: what is built goes out now.
          failed_write = !out.Flush() || (rejects && !rejects->Flush());
          if (failed_write) break;
          read(batches[next], true);
          if (batches[next].empty()) break;
          builders.Start(batches[next], built[next], alone[next]);
        }
        cur = next;
      }
    } catch (const std::bad_alloc&) {
      reserve.reset();
      stopped = out_of_memory + "; stopped (what was built before is written)";
    }
    builders.Wait();  // a batch built after a failure is not written
  }
  if (!(from_database && !key_column.empty()) && !halted && !failed_write && stopped.empty() &&
      settled_seen < outbound->earlier_settled())
    stopped = journal_path + ": the journal settled " +
              std::to_string(outbound->earlier_settled()) + " records, and the records hold " +
              std::to_string(settled_seen) + ": they are not those of the run it belongs to";
  out.Finish();
  if (rejects) rejects->Finish();
  progress.Clear();

  if (settled_statement) mark_settled();
  const std::size_t written = outbound->sending() ? delivered : out.delivered();
  const std::size_t rejected = rejects ? rejects->delivered() : rejected_on_stderr;
  bool failed = false;
  stopped_by_signal = stopped_by_signal || (follow && hl7::StopRequested());
  for (const std::string& problem :
       {stopped_by_signal ? std::string() : stopped, out.error(), rejects ? rejects->error() : ""})
    if (!problem.empty()) {
      std::cerr << "tarn-hl7: " << problem << "\n";
      failed = true;
    }
  if (stopped_by_signal) {
    // Not a failure: what the journal has not settled is sent by the next run.
    if (!stopped.empty()) std::cerr << "tarn-hl7: " << stopped << "\n";
    std::cerr << "tarn-hl7: stopped by " << strsignal(hl7::StopSignal()) << "\n";
    std::cerr << written << " messages written, " << rejected << " rejected\n";
    return failed ? 2 : rejected ? 1 : 0;
  }
  std::cerr << written << " messages written, " << rejected << " rejected\n";
  if (failed) return 2;
  return rejected ? 1 : 0;
}

}  // namespace

#ifdef TARN_WITH_MIMALLOC
// mimalloc's own operator new aborts when memory runs out; through its
// malloc, running out is std::bad_alloc, which the run stops on cleanly.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, std::align_val_t align) {
  const auto a = static_cast<std::size_t>(align);
  if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) { return operator new(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
#endif

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }
}
