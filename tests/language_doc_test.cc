// Runs every example of docs/language.md through the public API. An example
// is a fenced "tarn" block:
//
//   Age   Long    42          <- optional fields: NAME TYPE [VALUE]
//   ----
//   Age + 1                   <- an expression, possibly over several lines
//   => Long 43                <- Kind and text, "Error", or "Nothing";
//                                ", N report(s)" when reports are expected
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tarn/tarn.h"

namespace {

struct Case {
  int line = 0;
  std::string expression;
  std::string expected;  // "Long 43", "String \"a b\"", "Error", "Nothing"
  std::size_t reports = 0;
};

struct Block {
  int line = 0;
  std::vector<std::vector<std::string>> fields;  // name, type, value
  std::vector<Case> cases;
};

std::vector<Block> ReadBlocks(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  // A field's value may be quoted; a result may end in its count of reports.
  static const std::regex kField(R"re(^(\S+)\s+(\S+)\s*(?:"(.*)"|(.*?))\s*$)re");
  static const std::regex kResult(R"(^=> (.*?)(?:, (\d+) reports?)?$)");
  std::vector<Block> blocks;
  std::vector<std::string> lines;  // of the expression being read
  Case c;
  std::string line;
  bool inside = false;
  for (int n = 1; std::getline(in, line); ++n) {
    std::smatch m;
    if (!inside) {
      inside = line == "```tarn";
      if (inside) blocks.push_back({n, {}, {}});
    } else if (line == "```") {
      inside = false;
      EXPECT_TRUE(lines.empty()) << "line " << c.line << ": an expression without \"=>\"";
      lines.clear();
    } else if (line == "----") {  // the lines so far were fields
      for (const std::string& field : lines) {
        EXPECT_TRUE(std::regex_match(field, m, kField)) << "line " << n << ": " << field;
        blocks.back().fields.push_back({m[1], m[2], m[3].matched ? m[3] : m[4]});
      }
      lines.clear();
    } else if (std::regex_match(line, m, kResult)) {
      for (const std::string& part : lines)
        c.expression += (c.expression.empty() ? "" : "\r\n") + part;
      c.expected = m[1];
      c.reports = m[2].matched ? std::stoul(m[2]) : 0;
      blocks.back().cases.push_back(c);
      c = Case{};
      lines.clear();
    } else if (!lines.empty() || line.find_first_not_of(" \t") != std::string::npos) {
      if (lines.empty()) c.line = n;
      lines.push_back(line);
    }
  }
  return blocks;
}

std::string Describe(const tarn::ObjectRef& r) {
  if (!r) return "Nothing";
  const tarn::Variant data = tarn::Get(r, u"Data");
  if (tarn::CStr(tarn::Get(r, u"Name")) == u"Error" && data == tarn::Variant(false)) return "Error";
  const std::string kind = tarn::ToUtf8(data.TypeName());
  std::string text = data.is_null() ? "Null" : tarn::ToUtf8(tarn::CStr(data));
  if (data.is_string()) text = "\"" + text + "\"";
  return kind + " " + text;
}

TEST(LanguageDoc, EveryExampleGivesWhatTheManualSays) {
  const auto blocks = ReadBlocks(std::string(TARN_SOURCE_DIR) + "/docs/language.md");
  std::size_t count = 0;
  for (const Block& b : blocks) {
    auto fields = tarn::MakeRef<tarn::DataFields>();
    auto errors = tarn::MakeRef<tarn::RecordingErrorManager>();
    for (const auto& f : b.fields) {
      const std::u16string type = tarn::FromUtf8(f[1]);
      const tarn::Variant raw(tarn::FromUtf8(f[2]));
      fields->AddField(tarn::FromUtf8(f[0]), type,
                       type == u"String" ? raw : tarn::ConvertByTypeWord(type, raw));
    }
    tarn::Interpreter interp;
    interp.Init(fields, errors, u"doc", u"doc");
    for (const Case& c : b.cases) {
      SCOPED_TRACE("docs/language.md:" + std::to_string(c.line) + ": " + c.expression);
      errors->Clear();
      const tarn::ObjectRef r = interp.RealizeRegularExpressionUtf8(c.expression);
      EXPECT_EQ(Describe(r), c.expected);
      EXPECT_EQ(errors->reports().size(), c.reports);
      EXPECT_EQ(fields->Count(), b.fields.size()) << "temporary fields left behind";
      ++count;
    }
  }
  EXPECT_GE(count, 40u) << "the examples were not found";
}

}  // namespace
