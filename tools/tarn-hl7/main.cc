// tarn-hl7: builds one HL7 v2 message per data record from a template.
//
//   tarn-hl7 --template FILE --records FILE [--output FILE] [--rejects FILE]
//            [--framing none|lf|mllp] [--dates NAME,NAME...] [--format auto|jsonl|csv]
//            [--control-id PREFIX] [--send HOST:PORT [--journal FILE] [--ack-timeout S]
//            [--retries N] [--retry-delay S]]
//
// Exit status: 0 when every record became a message (or was delivered), 1
// when some were rejected, 2 for a usage, template or file error or a
// receiver that cannot be reached.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "hl7/ack.h"
#include "hl7/batch.h"
#include "hl7/message.h"
#include "hl7/outbound.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace {

using nlohmann::json;
namespace hl7 = tarn::hl7;

std::string Where(const hl7::Template& t, hl7::Position at) {
  return t.file + ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
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

// Why a record did not become a message, as one line.
std::string RejectReason(const hl7::Template& t, const hl7::Outcome& o) {
  if (!o.reason.empty()) return o.reason;
  std::string s;
  for (std::size_t i = 0; i < o.failures.size(); ++i) {
    const auto& f = o.failures[i];
    if (i) s += "; ";
    s += Where(t, f.at) + ": " + f.reason;
    for (const auto& rep : f.reports)
      s += " [" + std::to_string(rep.number) + " " + tarn::ToUtf8(rep.procedure) + ": " +
           tarn::ToUtf8(rep.message) + "]";
  }
  return s;
}

std::string RejectLine(const hl7::Record& r, const std::string& reason) {
  std::string s = "record " + std::to_string(r.number);
  if (r.line) s += " (line " + std::to_string(r.line) + ")";
  return s + " rejected: " + reason;
}

class Progress {
 public:
  Progress(std::size_t total, bool on) : total_(total), on_(on) {}
  void Show(std::size_t done) {
    if (!on_) return;
    const std::size_t width = 40, filled = done * width / total_;
    if (filled == last_ && done != total_) return;
    last_ = filled;
    std::cerr << "\r[" << std::string(filled, '#') << std::string(width - filled, '.') << "] "
              << done << "/" << total_ << std::flush;
  }
  void Clear() {
    if (on_) std::cerr << "\r\033[K" << std::flush;
  }

 private:
  std::size_t total_;
  bool on_;
  std::size_t last_ = static_cast<std::size_t>(-1);
};

int Run(int argc, char** argv) {
  CLI::App app{"Builds one HL7 v2 message per data record from a message template.", "tarn-hl7"};
  std::string template_path, records_path, output_path, rejects_path;
  std::string framing_word = "none", format_word = "auto";
  std::vector<std::string> dates;
  app.add_option("--template", template_path, "The message template")->required();
  app.add_option("--records", records_path, "Data records: JSON Lines or CSV with a header row")
      ->required();
  app.add_option("--output", output_path, "Writes the messages here instead of standard output");
  app.add_option("--rejects", rejects_path, "Writes one JSON line per rejected record here");
  app.add_option("--framing", framing_word, "Between messages: none, lf or mllp")
      ->check(CLI::IsMember({"none", "lf", "mllp"}));
  app.add_option("--dates", dates, "Members whose texts are dates (NAME,NAME...)")->delimiter(',');
  app.add_option("--format", format_word, "Record format: auto, jsonl or csv")
      ->check(CLI::IsMember({"auto", "jsonl", "csv"}));
  std::string send_address, journal_path, control_prefix;
  double ack_timeout = 30, retry_delay = 1;
  int retries = 3;
  app.add_option("--send", send_address, "Delivers each message over MLLP to HOST:PORT");
  app.add_option("--journal", journal_path,
                 "Records each record's final outcome here; the same command resumes a run");
  app.add_option("--ack-timeout", ack_timeout, "Seconds to wait for an acknowledgement")
      ->check(CLI::Range(0.001, 86400.0));
  app.add_option("--retries", retries, "Retries after the first attempt")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--retry-delay", retry_delay, "Seconds before the first retry (then doubling)")
      ->check(CLI::Range(0.0, 3600.0));
  std::string date_order_word = "mdy";
  app.add_option("--date-order", date_order_word,
                 "Order of numeric dates whose year is not first: mdy, dmy or ymd")
      ->check(CLI::IsMember({"mdy", "dmy", "ymd"}));
  bool batch = false;
  std::size_t batch_size = 0;
  app.add_flag("--batch", batch, "Writes a batch file: FHS, BHS ... BTS blocks, FTS");
  app.add_option("--batch-size", batch_size, "Messages in each BHS ... BTS block (0: one block)");
  app.add_option("--control-id", control_prefix,
                 "Prefix of the ControlId field (followed by the record's counter)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }
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
    d.retries = retries;
    d.retry_delay = retry_delay;
    outbound_options.delivery = d;
    if (!output_path.empty()) {
      std::cerr << "tarn-hl7: --send and --output exclude each other\n";
      return 2;
    }
  } else if (!journal_path.empty()) {
    std::cerr << "tarn-hl7: --journal needs --send\n";
    return 2;
  }
  if (batch && (!send_address.empty() || framing_word == "mllp")) {
    std::cerr << "tarn-hl7: --batch writes a file: not with --send or --framing mllp\n";
    return 2;
  }
  if (batch_size && !batch) {
    std::cerr << "tarn-hl7: --batch-size needs --batch\n";
    return 2;
  }

  hl7::Template tmpl;
  std::vector<hl7::Record> records;
  try {
    tmpl = hl7::LoadTemplate(template_path);
    hl7::RecordOptions options;
    options.dates = dates;
    options.date_order = date_order_word == "dmy"   ? hl7::DateOrder::Dmy
                         : date_order_word == "ymd" ? hl7::DateOrder::Ymd
                                                    : hl7::DateOrder::Mdy;
    if (format_word == "jsonl") options.format = hl7::RecordFormat::JsonLines;
    if (format_word == "csv") options.format = hl7::RecordFormat::Csv;
    records = hl7::LoadRecords(records_path, options);
  } catch (const std::exception& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }
  const hl7::Framing framing = framing_word == "lf"     ? hl7::Framing::Lf
                               : framing_word == "mllp" ? hl7::Framing::Mllp
                                                        : hl7::Framing::None;

  std::ofstream output_file, rejects_file;
  if (!output_path.empty()) {
    output_file.open(output_path, std::ios::binary);
    if (!output_file) {
      std::cerr << "tarn-hl7: " << output_path << ": cannot be written\n";
      return 2;
    }
  }
  if (!rejects_path.empty()) {
    rejects_file.open(rejects_path, std::ios::binary);
    if (!rejects_file) {
      std::cerr << "tarn-hl7: " << rejects_path << ": cannot be written\n";
      return 2;
    }
  }
  std::ostream& out = output_path.empty() ? std::cout : output_file;
  std::optional<hl7::Outbound> outbound;
  try {
    outbound.emplace(outbound_options);
  } catch (const std::exception& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }
  if (outbound->journal_repaired())
    std::cerr << "tarn-hl7: " << journal_path << ": a torn last line was cut off\n";

  std::optional<hl7::BatchWriter> batch_writer;
  if (batch) batch_writer.emplace(out, tmpl.delimiters, framing, batch_size, hl7::LocalStamp());
  hl7::MessageBuilder builder(tmpl);
  Progress progress(records.size(), records.size() > 200 && isatty(STDERR_FILENO));
  std::size_t written = 0, rejected = 0, settled = 0;
  bool stopped = false;
  auto reject = [&](const hl7::Record& r, const std::string& reason, const json& detail) {
    ++rejected;
    if (rejects_file.is_open()) {
      rejects_file << detail.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    } else {
      progress.Clear();
      std::cerr << "tarn-hl7: " << RejectLine(r, reason) << "\n";
    }
  };
  for (std::size_t i = 0; i < records.size() && !stopped; ++i) {
    hl7::Record& record = records[i];
    if (outbound->Settled(record.number)) {
      ++settled;
      progress.Show(i + 1);
      continue;
    }
    hl7::AddHostFields(record, hl7::LocalNowSerial(), outbound->ControlIdFor(record.number));
    const hl7::Outcome o = builder.Build(record);
    if (!o.ok()) {
      const std::string reason = RejectReason(tmpl, o);
      outbound->NotBuilt(record.number, reason);
      reject(record, reason, RejectJson(tmpl, record, o));
    } else if (batch_writer) {
      batch_writer->Add(o.message);
      ++written;
    } else if (!outbound->sending()) {
      out << hl7::Frame(o.message, framing);
      ++written;
    } else {
      hl7::DeliveryResult sent;
      switch (outbound->Deliver(record.number, o.message, sent)) {
        case hl7::Disposition::Delivered: ++written; break;
        case hl7::Disposition::Rejected: {
          const std::string why = sent.ack_code == "AE" || sent.ack_code == "CE"
                                      ? "the receiver answered " + sent.ack_code +
                                            (sent.reason.empty() ? "" : ": ") + sent.reason
                                      : sent.reason;
          json detail{{"record", record.number},
                      {"line", record.line},
                      {"reason", why},
                      {"control_id", sent.control_id},
                      {"expressions", json::array()},
                      {"input", record.source}};
          reject(record, why, detail);
          break;
        }
        default:
          progress.Clear();
          std::cerr << "tarn-hl7: record " << record.number << ": " << sent.reason
                    << "; stopped (the same command with the same --journal resumes)\n";
          stopped = true;
      }
    }
    progress.Show(i + 1);
  }
  if (settled)
    std::cerr << "tarn-hl7: " << settled << " records settled by an earlier run ("
              << outbound->earlier_delivered() << " delivered, " << outbound->earlier_rejected()
              << " rejected)\n";
  if (batch_writer) batch_writer->Finish();
  out.flush();
  progress.Clear();
  std::cerr << written << " messages written, " << rejected << " rejected\n";
  if (!out || (rejects_file.is_open() && !rejects_file.flush())) {
    std::cerr << "tarn-hl7: writing failed\n";
    return 2;
  }
  if (stopped) return 2;
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
