// tarn-eval and tarn-hl7 run with the arguments, input and expectations of
// the rows of tests/data/tools.tsv (its head says how a row reads).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

#include "support/expression_table.h"
#include "support/mllp_receiver.h"
#include "support/run_tool.h"
#include "support/temp_files.h"

namespace {

using tarn::testing::Split;

// "\n", "\r", "\t", "\\" and "\xHH".
std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 'x') {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
  }
  return out;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

std::vector<std::string> Pieces(const std::string& s, const std::string& sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + sep.size())
    out.push_back(s.substr(start, at - start));
  out.push_back(s.substr(start));
  return out;
}

// `want` with "{*}" standing for any run of characters.
bool Matches(std::string_view want, std::string_view got) {
  const std::size_t star = want.find("{*}");
  if (star == std::string_view::npos) return want == got;
  if (got.substr(0, star) != want.substr(0, star)) return false;
  for (std::size_t at = star; at <= got.size(); ++at)
    if (Matches(want.substr(star + 3), got.substr(at))) return true;
  return false;
}

// "*": anything; "~a && !b": contains a and not b; else exactly the text.
std::string Mismatch(const std::string& want, const std::string& got) {
  if (want == "*") return "";
  if (want.empty() || want[0] != '~') return Matches(want, got) ? "" : "want [" + want + "]";
  for (const auto& p : Pieces(want.substr(1), " && ")) {
    if (p[0] == '!' && got.find(p.substr(1)) != std::string::npos) return "has [" + p + "]";
    if (p[0] != '!' && got.find(p) == std::string::npos) return "missing [" + p + "]";
  }
  return "";
}

TEST(ToolTable, EveryRowRunsAsWritten) {
  const std::string src = TARN_SOURCE_DIR;
  const std::string tmp = tarn::testing::TempDir("tools").string() + "/";
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const std::string year = std::to_string(t.tm_year + 1900);
  std::ifstream in(src + "/tests/data/tools.tsv", std::ios::binary);
  ASSERT_TRUE(in) << "tests/data/tools.tsv";
  std::unique_ptr<tarn::testing::MllpReceiver> receiver;
  std::string peer, shell;
  const auto expand = [&](const std::string& s) {
    return Replace(
        Replace(Replace(Replace(Unescape(s), "{tmp}", tmp), "{src}", src), "{year}", year),
        "{peer}", peer);
  };
  std::string line;
  int number = 0, rows = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const auto cols = Split(line, '\t');
    // @file <name> <content>: written to {tmp}<name> ("<" and a file: its
    // content); @append adds it to what the file holds.
    if (cols[0] == "@file" || cols[0] == "@append") {
      ASSERT_EQ(cols.size(), 3u) << "line " << number;
      const std::string content =
          cols[2][0] == '<' ? tarn::testing::ReadAll(expand(cols[2].substr(1))) : expand(cols[2]);
      const auto mode = cols[0] == "@file" ? std::ios::binary : std::ios::binary | std::ios::app;
      std::ofstream(tmp + cols[1], mode) << content;
      continue;
    }
    if (cols[0] == "@repeat") {  // @repeat <name> <count> <text>: appended count times
      ASSERT_EQ(cols.size(), 4u) << "line " << number;
      std::ofstream out(tmp + cols[1], std::ios::binary | std::ios::app);
      for (int i = std::stoi(cols[2]); i > 0; --i) out << expand(cols[3]);
      continue;
    }
    if (cols[0] == "@link") {  // @link <name> <target>: a symbolic link in {tmp}
      std::filesystem::remove(tmp + cols[1]);
      std::filesystem::create_symlink(tmp + cols[2], tmp + cols[1]);
      continue;
    }
    if (cols[0] == "@receiver") {  // @receiver <rule>...: a new receiver at {peer}
      if (cols.size() > 1 && cols[1] == "(stopped)") {
        ASSERT_TRUE(receiver) << "line " << number;
        receiver->Stop();
        continue;
      }
      std::string script;
      for (std::size_t i = 1; i < cols.size(); ++i) script += expand(cols[i]) + "\t";
      receiver.reset();
      receiver = std::make_unique<tarn::testing::MllpReceiver>(script);
      peer = receiver->address();
      continue;
    }
    if (cols[0] == "@shell") {  // @shell <commands>: run before each tool below
      shell = cols.size() > 1 ? expand(cols[1]) : "";
      continue;
    }
    if (cols[0] == "@env") {  // @env <name> <value>: for the rows below; no value unsets it
      if (cols.size() > 2 && !cols[2].empty())
        ::setenv(cols[1].c_str(), expand(cols[2]).c_str(), 1);
      else
        ::unsetenv(cols[1].c_str());
      continue;
    }
    ASSERT_GE(cols.size(), 6u) << "line " << number;
    const std::string program = cols[0] == "eval" ? TARN_EVAL_PATH : TARN_HL7_PATH;
    std::vector<std::string> args;
    if (!cols[1].empty())
      for (const auto& a : Pieces(cols[1], " ; ")) args.push_back(expand(a));
    const std::string input =
        cols[2][0] == '<' ? tarn::testing::ReadAll(expand(cols[2].substr(1))) : expand(cols[2]);
    const std::size_t arrived = receiver ? receiver->log().size() : 0;
    const auto r = tarn::testing::RunTool(program, args, input, "", shell);
    const std::string where = "tools.tsv:" + std::to_string(number) + ": " + line.substr(0, 400);
    if (cols[3] != "*") {
      EXPECT_EQ(std::to_string(r.status), cols[3]) << where << "\n" << r.err;
    }
    EXPECT_EQ(Mismatch(expand(cols[4]), r.out), "") << where << "\nout: " << r.out;
    EXPECT_EQ(Mismatch(expand(cols[5]), r.err), "") << where << "\nerr: " << r.err;
    // Optional: <file>=<content> of a file after the run, or "(absent)".
    if (cols.size() > 6 && !cols[6].empty()) {
      const std::size_t eq = cols[6].find('=');
      const std::string file = expand(cols[6].substr(0, eq)), want = cols[6].substr(eq + 1);
      const std::string got = tarn::testing::ReadAll(file);
      if (want == "(absent)")
        EXPECT_FALSE(std::filesystem::exists(file)) << where << " made " << file;
      else if (want[0] == '<')  // the content of a golden file
        EXPECT_TRUE(got == tarn::testing::ReadAll(expand(want.substr(1)))) << where << " " << file;
      else
        EXPECT_EQ(Mismatch(expand(want), got), "") << where << " " << file;
    }
    // Optional: what reached the receiver during the run, "(none)" for nothing.
    if (cols.size() > 7 && !cols[7].empty()) {
      const std::string got = receiver ? receiver->Text(arrived) : "";
      EXPECT_EQ(Mismatch(cols[7] == "(none)" ? "" : cols[7], got), "") << where << "\nlog: " << got;
    }
    ++rows;
  }
  EXPECT_GT(rows, 0);
}

// Records as they come: byte-order marks, encodings, text after a JSON
// document, empty cells of typed columns (tests/data/hl7_inputs.tsv).
TEST(ToolTable, Hl7InputsAreReadAsWrittenOrRefused) {
  const std::string dir = tarn::testing::TempDir("inputs").string() + "/";
  std::ifstream table(std::string(TARN_SOURCE_DIR) + "/tests/data/hl7_inputs.tsv");
  int cases = 0;
  for (std::string row; std::getline(table, row);) {
    if (row.empty() || row[0] == '#') continue;
    const auto cells = Split(row, '\t');
    ASSERT_EQ(cells.size(), 8u) << row;
    SCOPED_TRACE(cells[0]);
    ++cases;
    const std::string tmpl = dir + "in.tmpl";
    std::ofstream(tmpl, std::ios::binary) << Unescape(cells[1]);
    const bool from_stdin = cells[2] == "-";
    const std::string records = from_stdin ? "-" : dir + cells[2];
    if (!from_stdin) std::ofstream(records, std::ios::binary) << Unescape(cells[3]);
    std::vector<std::string> args = {"--template", tmpl, "--records", records, "--framing", "lf"};
    for (const auto& a : Pieces(cells[4], " "))
      if (!a.empty()) args.push_back(a);
    const auto r =
        tarn::testing::RunTool(TARN_HL7_PATH, args, from_stdin ? Unescape(cells[3]) : "");
    EXPECT_EQ(r.status, std::stoi(cells[5])) << r.err;
    EXPECT_EQ(r.out, Unescape(cells[6]));
    EXPECT_NE(r.err.find(Unescape(cells[7])), std::string::npos) << r.err;
  }
  EXPECT_GE(cases, 20);
}

}  // namespace
