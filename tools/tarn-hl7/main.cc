// tarn-hl7: builds one HL7 v2 message per data record from a template.
//
//   tarn-hl7 --template FILE --records FILE [--output FILE] [--rejects FILE]
//            [--framing none|lf|mllp] [--dates NAME,NAME...] [--format auto|jsonl|csv]
//
// Exit status: 0 when every record became a message, 1 when some were
// rejected, 2 for a usage, template or file error.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "hl7/message.h"
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

std::string RejectLine(const hl7::Template& t, const hl7::Record& r, const hl7::Outcome& o) {
  std::string s = "record " + std::to_string(r.number);
  if (r.line) s += " (line " + std::to_string(r.line) + ")";
  s += " rejected: ";
  if (!o.reason.empty()) return s + o.reason;
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
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "tarn-hl7: " << e.what() << "\n";
    return 2;
  }

  hl7::Template tmpl;
  std::vector<hl7::Record> records;
  try {
    tmpl = hl7::LoadTemplate(template_path);
    hl7::RecordOptions options;
    options.dates = dates;
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

  hl7::MessageBuilder builder(tmpl);
  Progress progress(records.size(), records.size() > 200 && isatty(STDERR_FILENO));
  std::size_t written = 0, rejected = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const hl7::Outcome o = builder.Build(records[i]);
    if (o.ok()) {
      out << hl7::Frame(o.message, framing);
      ++written;
    } else {
      ++rejected;
      if (rejects_file.is_open()) {
        rejects_file
            << RejectJson(tmpl, records[i], o).dump(-1, ' ', false, json::error_handler_t::replace)
            << "\n";
      } else {
        progress.Clear();
        std::cerr << "tarn-hl7: " << RejectLine(tmpl, records[i], o) << "\n";
      }
    }
    progress.Show(i + 1);
  }
  out.flush();
  progress.Clear();
  std::cerr << written << " messages written, " << rejected << " rejected\n";
  if (!out || (rejects_file.is_open() && !rejects_file.flush())) {
    std::cerr << "tarn-hl7: writing failed\n";
    return 2;
  }
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
