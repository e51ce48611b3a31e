// tarn-hl7 as a program where a row of tests/data/tools.tsv cannot show it:
// --jobs writing what one thread writes, records from a pipe written as
// they come, and running out of memory.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/run_tool.h"
#include "support/temp_files.h"

namespace {

using nlohmann::json;
using tarn::testing::ReadAll;
using tarn::testing::Split;
using tarn::testing::ToolResult;

const std::string kExamples = std::string(TARN_SOURCE_DIR) + "/examples/hl7/";
const std::string kDates = "BirthDate,MessageDateTime,AdmitDateTime,DiagnosedAt";
const char* const kNameTemplate = "MSH|^~\\&|A\nPID|{{Name}}\n";

ToolResult Hl7(const std::vector<std::string>& args) {
  return tarn::testing::RunTool(TARN_HL7_PATH, args);
}

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "hl7_test_" + std::to_string(::getpid()) + "_" + name;
}

std::string WriteTemp(const std::string& name, const std::string& text) {
  const std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

std::string Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) == std::string::npos ? "'" + needle + "' not in:\n" + haystack : "";
}

// The example records as JSON Lines, as one JSON array and as CSV (no lists).
std::vector<std::pair<std::string, std::string>> ExampleInputs() {
  std::vector<std::string> lines;
  for (const auto& l : Split(ReadAll(kExamples + "patients.jsonl"), '\n'))
    if (!l.empty()) lines.push_back(l);
  std::string array = "[\n", csv = "Facility,Mrn,LastName,Note\n";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    array += lines[i] + (i + 1 < lines.size() ? ",\n" : "\n]\n");
    const json j = json::parse(lines[i]);
    csv += j.value("Facility", "") + "," + j.value("Mrn", "") + ",\"" + j.value("LastName", "") +
           "\"," + (i % 7 == 3 ? "\"a|b^c\"" : "x") + "\n";
    if (i % 50 == 17) csv += "short\n";  // a reject now and then
  }
  return {{"jsonl", kExamples + "patients.jsonl"},
          {"json", WriteTemp("array.json", array)},
          {"csv", WriteTemp("rows.csv", csv)}};
}

TEST(Hl7Streaming, JobsWriteExactlyWhatOneThreadWrites) {
  const std::string adt = kExamples + "adt_a01.tmpl";
  const std::string flat =
      WriteTemp("flat.tmpl", "MSH|^~\\&|{{Facility}}\nPID|{{Mrn}}|{{LastName}}|{{Note}}\n");
  for (const auto& [format, records] : ExampleInputs()) {
    const std::string tmpl = format == "csv" ? flat : adt;
    for (const bool to_file : {true, false}) {
      std::string first_out, first_err, first_rejects;
      for (const char* jobs : {"1", "2", "3"}) {
        const std::string rejects = TempPath(std::string("jobs_rejects_") + jobs);
        std::vector<std::string> args = {"--template", tmpl,   "--records", records,
                                         "--dates",    kDates, "--jobs",    jobs,
                                         "--framing",  "lf"};
        if (to_file) args.insert(args.end(), {"--rejects", rejects});
        const ToolResult r = Hl7(args);
        EXPECT_EQ(r.status, 1) << format << " --jobs " << jobs << "\n" << r.err.substr(0, 300);
        if (std::string(jobs) == "1") {
          first_out = r.out;
          first_err = r.err;
          first_rejects = to_file ? ReadAll(rejects) : "";
          EXPECT_FALSE(first_out.empty());
          continue;
        }
        EXPECT_TRUE(r.out == first_out) << format << " --jobs " << jobs;
        EXPECT_EQ(r.err, first_err) << format << " --jobs " << jobs;
        if (to_file) {
          EXPECT_TRUE(ReadAll(rejects) == first_rejects) << format;
        }
      }
    }
  }
}

// A writer that sends records one at a time gets each message as soon as
// its record's line ends, not when the pipe closes.
TEST(Hl7Streaming, ARecordFromAPipeIsWrittenWhenItsLineEnds) {
  const std::string tmpl = WriteTemp("pipe.tmpl", kNameTemplate);
  for (const char* jobs : {"1", "3"}) {
    SCOPED_TRACE(jobs);
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
      ::execl(TARN_HL7_PATH, TARN_HL7_PATH, "--template", tmpl.c_str(), "--records", "-",
              "--format", "jsonl", "--jobs", jobs, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    for (const char* name : {"a", "b", "c"}) {
      const std::string line = std::string("{\"Name\": \"") + name + "\"}\n";
      ASSERT_EQ(::write(in[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
      pollfd p{out[0], POLLIN, 0};
      ASSERT_EQ(::poll(&p, 1, 20000), 1) << "no message for " << name;
      char buffer[256];
      const ssize_t n = ::read(out[0], buffer, sizeof buffer);
      EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), std::string("MSH|^~\\&|A\rPID|") + name + "\r");
    }
    ::close(in[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out[0]);
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
}

// Running out of memory in the middle of a run: the records before are
// written, and the run says so and gives its counts.
TEST(Hl7Streaming, OutOfMemoryEndsTheRunCleanly) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
  const std::string tmpl = WriteTemp("oom.tmpl", kNameTemplate);
  const std::string records = TempPath("oom.jsonl");
  {
    std::ofstream r(records, std::ios::binary);
    r << "{\"Name\": \"a\"}\n{\"Name\": \"b\"}\n{\"Name\": \"" << std::string(150 << 20, 'x')
      << "\"}\n{\"Name\": \"d\"}\n";
  }
  for (const char* jobs : {"1", "2"}) {
    SCOPED_TRACE(jobs);
    const std::string out = TempPath("oom.hl7");
    const std::string command =
        "ulimit -v 400000; exec " + tarn::testing::ShellQuote(TARN_HL7_PATH) + " --template " +
        tmpl + " --records " + records + " --output " + out + " --jobs " + jobs + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string err;
    char buffer[4096];
    while (std::size_t n = fread(buffer, 1, sizeof buffer, p)) err.append(buffer, n);
    const int status = pclose(p);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2) << err;
    EXPECT_EQ(Contains(err, "tarn-hl7: out of memory"), "");
    EXPECT_EQ(Contains(err, "\n2 messages written, 0 rejected\n"), "");
    EXPECT_EQ(ReadAll(out), "MSH|^~\\&|A\rPID|a\rMSH|^~\\&|A\rPID|b\r");
  }
  std::remove(records.c_str());
}

}  // namespace
