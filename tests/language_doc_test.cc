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
#include <sstream>
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

std::string Trim(const std::string& s) {
  const auto a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

std::vector<Block> ReadBlocks(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::vector<Block> blocks;
  std::vector<std::pair<int, std::string>> body;
  std::string line;
  int n = 0, start = 0;
  bool inside = false;
  static const std::regex kReports(R"(^(.*), (\d+) reports?$)");
  while (std::getline(in, line)) {
    ++n;
    if (!inside) {
      if (line == "```tarn") {
        inside = true;
        start = n;
        body.clear();
      }
      continue;
    }
    if (line != "```") {
      body.emplace_back(n, line);
      continue;
    }
    inside = false;
    Block b;
    b.line = start;
    std::size_t i = 0;
    for (std::size_t k = 0; k < body.size(); ++k)
      if (body[k].second == "----") {
        for (; i < k; ++i) {
          std::istringstream ss(body[i].second);
          std::string name, type, value;
          ss >> name >> type;
          std::getline(ss, value);
          value = Trim(value);
          if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
          b.fields.push_back({name, type, value});
        }
        i = k + 1;
        break;
      }
    Case c;
    for (; i < body.size(); ++i) {
      const std::string& text = body[i].second;
      if (text.rfind("=> ", 0) == 0) {
        c.expected = text.substr(3);
        std::smatch m;
        if (std::regex_match(c.expected, m, kReports)) {
          c.reports = std::stoul(m[2]);
          c.expected = m[1];
        }
        b.cases.push_back(c);
        c = Case{};
      } else if (c.expression.empty() && Trim(text).empty()) {
        continue;
      } else {
        if (c.expression.empty())
          c.line = body[i].first;
        else
          c.expression += "\r\n";
        c.expression += text;
      }
    }
    EXPECT_TRUE(c.expression.empty()) << "line " << c.line << ": an expression without \"=>\"";
    blocks.push_back(std::move(b));
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
