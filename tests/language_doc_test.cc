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
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tarn/tarn.h"

namespace tarn {
namespace {

// A block's fields, and the interpreter its examples run on.
struct Block {
  Ref<DataFields> fields = MakeRef<DataFields>();
  Ref<RecordingErrorManager> errors = MakeRef<RecordingErrorManager>();
  Interpreter interp;
  Block() { interp.Init(fields, errors, u"doc", u"doc"); }
};

std::string Describe(const ObjectRef& r) {
  if (!r) return "Nothing";
  const Variant data = Get(r, u"Data");
  if (CStr(Get(r, u"Name")) == u"Error" && data == Variant(false)) return "Error";
  std::string text = data.is_null() ? "Null" : ToUtf8(CStr(data));
  if (data.is_string()) text = "\"" + text + "\"";
  return ToUtf8(data.TypeName()) + " " + text;
}

TEST(LanguageDoc, EveryExampleGivesWhatTheManualSays) {
  std::ifstream in(TARN_SOURCE_DIR "/docs/language.md");
  ASSERT_TRUE(in);
  // A field's value may be quoted; a result may end in its count of reports.
  static const std::regex kField(R"re(^(\S+)\s+(\S+)\s*(?:"(.*)"|(.*?))\s*$)re");
  static const std::regex kResult(R"(^=> (.*?)(?:, (\d+) reports?)?$)");
  std::unique_ptr<Block> block;
  std::vector<std::string> lines;  // of the expression being read
  std::string line;
  int first = 0;  // the expression's first line
  std::size_t count = 0;
  for (int n = 1; std::getline(in, line); ++n) {
    std::smatch m;
    if (!block) {
      if (line == "```tarn") block = std::make_unique<Block>();
    } else if (line == "```") {
      EXPECT_TRUE(lines.empty()) << "line " << first << ": an expression without \"=>\"";
      block.reset();
      lines.clear();
    } else if (line == "----") {  // the lines so far were fields
      for (const std::string& field : lines) {
        ASSERT_TRUE(std::regex_match(field, m, kField)) << "line " << n << ": " << field;
        const std::u16string type = FromUtf8(m[2].str());
        const Variant raw(FromUtf8(m[3].matched ? m[3].str() : m[4].str()));
        block->fields->AddField(FromUtf8(m[1].str()), type,
                                type == u"String" ? raw : ConvertByTypeWord(type, raw));
      }
      lines.clear();
    } else if (std::regex_match(line, m, kResult)) {
      std::string expression;
      for (const std::string& part : lines) expression += (expression.empty() ? "" : "\r\n") + part;
      SCOPED_TRACE("docs/language.md:" + std::to_string(first) + ": " + expression);
      block->errors->Clear();
      const std::size_t before = block->fields->Count();
      EXPECT_EQ(Describe(block->interp.RealizeRegularExpressionUtf8(expression)), m[1].str());
      EXPECT_EQ(block->errors->reports().size(), m[2].matched ? std::stoul(m[2].str()) : 0);
      EXPECT_EQ(block->fields->Count(), before) << "temporary fields left behind";
      lines.clear();
      ++count;
    } else if (!lines.empty() || line.find_first_not_of(" \t") != std::string::npos) {
      if (lines.empty()) first = n;
      lines.push_back(line);
    }
  }
  EXPECT_GE(count, 40u) << "the examples were not found";
}

}  // namespace
}  // namespace tarn
