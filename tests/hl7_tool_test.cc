// tarn-hl7 as a program: exit status, outputs, rejects and the example
// templates' messages compared byte for byte with golden files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

const std::string kExamples = std::string(TARN_SOURCE_DIR) + "/examples/hl7/";
const std::string kGolden = std::string(TARN_SOURCE_DIR) + "/tests/golden/";
const std::string kDates = "BirthDate,MessageDateTime,AdmitDateTime,DiagnosedAt";

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + 1)
    out.push_back(s.substr(start, at - start));
  out.push_back(s.substr(start));
  return out;
}

// ---- the program ---------------------------------------------------------

struct ToolRun {
  int status;
  std::string out, err;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string TempPath(const std::string& name) {
  return testing::TempDir() + "hl7_test_" + std::to_string(::getpid()) + "_" + name;
}

ToolRun Tool(const std::vector<std::string>& args) {
  const std::string err_path = TempPath("stderr");
  std::string cmd = TARN_HL7_PATH;
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " 2>" + Quote(err_path);
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int status = pclose(p);
  return {WEXITSTATUS(status), out, ReadAll(err_path)};
}

std::string WriteTemp(const std::string& name, const std::string& text) {
  const std::string path = TempPath(name);
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(Hl7Tool, EveryRecordIsAMessageOrAReject) {
  const std::string rejects = TempPath("rejects.jsonl");
  const ToolRun r =
      Tool({"--template", kExamples + "adt_a01.tmpl", "--records", kExamples + "patients.jsonl",
            "--dates", kDates, "--rejects", rejects, "--framing", "mllp"});
  EXPECT_EQ(r.status, 1);
  std::size_t messages = 0;
  for (std::size_t at = 0; (at = r.out.find('\x0b', at)) != std::string::npos; ++at) ++messages;
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "\x1c\r");
  std::vector<json> lines;
  for (const auto& l : Split(ReadAll(rejects), '\n'))
    if (!l.empty()) lines.push_back(json::parse(l));
  EXPECT_EQ(messages + lines.size(), 300u);
  EXPECT_EQ(r.err, std::to_string(messages) + " messages written, " + std::to_string(lines.size()) +
                       " rejected\n");
  std::set<int> numbers;
  for (const auto& l : lines) {
    numbers.insert(l["record"].get<int>());
    EXPECT_EQ(l["record"], l["line"]);
    EXPECT_TRUE(l.contains("reason") || !l["expressions"].empty()) << l.dump();
    for (const auto& e : l["expressions"]) {
      EXPECT_NE(e["at"].get<std::string>().find("adt_a01.tmpl:16:"), std::string::npos);
      EXPECT_FALSE(e["reports"].empty());
    }
  }
  EXPECT_EQ(numbers.count(50), 1u);
}

TEST(Hl7Tool, ExitStatusAndOutputs) {
  const std::string tmpl = WriteTemp("ok.tmpl", "MSH|^~\\&|A\nPID|{{Name}}\n");
  const std::string good = WriteTemp("good.csv", "Name\nSmith\nJones\n");
  const std::string mixed = WriteTemp("mixed.jsonl", "{\"Name\": \"x\"}\n\n{\"Nam\": 1}\n");
  const std::string bad_tmpl = WriteTemp("bad.tmpl", "MSH|^~\\&|A\nPID|{{Name\n");
  const std::string out_file = TempPath("out.hl7");

  ToolRun r = Tool({"--template", tmpl, "--records", good, "--framing", "lf"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "MSH|^~\\&|A\rPID|Smith\r\nMSH|^~\\&|A\rPID|Jones\r\n");
  EXPECT_EQ(r.err, "2 messages written, 0 rejected\n");

  r = Tool({"--template", tmpl, "--records", mixed, "--output", out_file});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadAll(out_file), "MSH|^~\\&|A\rPID|x\r");
  EXPECT_NE(r.err.find("record 2 (line 3) rejected: " + tmpl + ":2:5:"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("1 messages written, 1 rejected\n"), std::string::npos);

  r = Tool({"--template", bad_tmpl, "--records", good});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("tarn-hl7: " + bad_tmpl + ":2:5: ", 0), 0u) << r.err;

  EXPECT_EQ(Tool({"--template", tmpl}).status, 2);
  EXPECT_EQ(Tool({"--template", tmpl, "--records", good, "--framing", "x"}).status, 2);
  EXPECT_EQ(Tool({"--template", tmpl, "--records", TempPath("absent")}).status, 2);
}

// The example templates over the example records, byte for byte. After a
// deliberate change of the output, TARN_UPDATE_GOLDEN=1 rewrites the files.
struct GoldenCase {
  const char* template_name;
  const char* dates;
  const char* summary;
};

class Hl7Golden : public testing::TestWithParam<GoldenCase> {};

TEST_P(Hl7Golden, MessagesMatchTheGoldenFile) {
  const GoldenCase& c = GetParam();
  const std::string name = c.template_name;
  const std::string out_file = TempPath(name + ".hl7");
  const ToolRun r = Tool({"--template", kExamples + name + ".tmpl", "--records",
                          kExamples + "patients.jsonl", "--dates", c.dates, "--framing", "lf",
                          "--output", out_file, "--rejects", TempPath(name + ".rejects")});
  EXPECT_EQ(r.err, c.summary);
  const std::string golden = kGolden + name + ".hl7";
  const std::string got = ReadAll(out_file);
  if (std::getenv("TARN_UPDATE_GOLDEN")) std::ofstream(golden, std::ios::binary) << got;
  const std::string want = ReadAll(golden);
  ASSERT_FALSE(want.empty()) << golden;
  // On a difference, name the first message that differs rather than dump both.
  if (got != want) {
    const auto a = Split(got, '\n'), b = Split(want, '\n');
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
      ASSERT_EQ(a[i], b[i]) << "message " << i + 1 << " differs from " << golden;
    ASSERT_EQ(a.size(), b.size()) << "message count differs from " << golden;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Hl7Golden,
    testing::Values(GoldenCase{"adt_a01", "BirthDate,MessageDateTime,AdmitDateTime,DiagnosedAt",
                               "288 messages written, 12 rejected\n"},
                    GoldenCase{"oru_r01", "BirthDate,MessageDateTime,CollectedAt",
                               "294 messages written, 6 rejected\n"}),
    [](const auto& info) { return std::string(info.param.template_name); });

}  // namespace
