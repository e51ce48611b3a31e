// Templates for structured messages: segment conditions, groups (nested in
// "@each"), field repetitions from a list, built from records as written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hl7/message.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace {

using namespace tarn::hl7;

Outcome BuildOne(const std::string& tmpl, const std::string& jsonl) {
  const Template t = ParseTemplate(tmpl, "t.tmpl");
  MessageBuilder builder(t);
  RecordOptions o;
  o.format = RecordFormat::JsonLines;
  auto records = ParseRecords(jsonl, o);
  EXPECT_EQ(records.size(), 1u);
  return builder.Build(records.at(0));
}

struct BuildCase {
  std::string name;
  std::string tmpl;  // after "MSH|^~\&|A\n"
  std::string record;
  std::string message;  // after "MSH|^~\&|A\r", segments ending in "\r"
};

TEST(Hl7Groups, Builds) {
  const std::string orders =
      R"({"Mrn": "7", "Orders": [)"
      R"({"Code": "CBC", "Results": [{"Code": "WBC", "Flag": "H"}, {"Code": "RBC", "Flag": "N"}]},)"
      R"({"Code": "BMP", "Results": [{"Code": "NA", "Flag": "N"}]},)"
      R"({"Code": "LIP"}]})";
  const std::vector<BuildCase> cases = {
      {"a condition that holds", "@if {{Age > 17}}: ZAD|adult\nPID|{{Age}}\n", R"({"Age": 30})",
       "ZAD|adult\rPID|30\r"},
      {"a condition that does not", "@if {{Age > 17}}: ZAD|adult\nPID|{{Age}}\n", R"({"Age": 3})",
       "PID|3\r"},
      {"a conditional group", "@if {{Insured}}:\nIN1|1|{{Plan}}\nIN2|1\n@end\nPV1|1\n",
       R"({"Insured": true, "Plan": "P"})", "IN1|1|P\rIN2|1\rPV1|1\r"},
      {"a conditional group left out", "@if {{Insured}}:\nIN1|1|{{Plan}}\nIN2|1\n@end\nPV1|1\n",
       R"({"Insured": false})", "PV1|1\r"},
      {"orders, each followed by its results",
       "PID|1||{{Mrn}}\n@each Orders:\nOBR|{{SetId}}|{{Code}}\n@each Results: "
       "OBX|{{SetId}}|{{Code}}|{{Mrn}}\n@end\n",
       orders, "PID|1||7\rOBR|1|CBC\rOBX|1|WBC|7\rOBX|2|RBC|7\rOBR|2|BMP\rOBX|1|NA|7\rOBR|3|LIP\r"},
      {"a condition for each element",
       "@each Orders:\nOBR|{{SetId}}\n@each Results: @if {{Flag = \"H\"}}: NTE|{{SetId}}|{{Code}} "
       "is high\n@end\n",
       orders, "OBR|1\rNTE|1|WBC is high\rOBR|2\rOBR|3\r"},
      {"a group inside a group inside a condition",
       "@if {{Mrn = \"7\"}}:\n@each Orders:\n@if {{Code <> \"BMP\"}}:\nOBR|{{Code}}\n@end\n@end\n"
       "@end\n",
       orders, "OBR|CBC\rOBR|LIP\r"},
      {"an inner list falls back to the record's",
       "@each Orders:\nOBR|{{Code}}\n@each Notes: NTE|{{Value}}\n@end\n",
       R"({"Notes": ["n"], "Orders": [{"Code": "A"}, {"Code": "B", "Notes": ["own"]}]})",
       "OBR|A\rNTE|n\rOBR|B\rNTE|own\r"},
      {"field repetitions from a list",
       "PID|1||{{@each Ids}}{{Value}}^^^{{Auth}}&{{SetId}}{{@end}}|x\n",
       R"({"Ids": [{"Value": "1", "Auth": "A"}, {"Value": "2|", "Auth": "B"}]})",
       "PID|1||1^^^A&1~2\\F\\^^^B&2|x\r"},
      {"a list of plain values", "PID|{{@each Names}}{{Value}}{{@end}}\n",
       R"({"Names": ["a", "b", "c"]})", "PID|a~b~c\r"},
      {"an empty or absent list gives an empty field",
       "PID|{{@each Names}}{{Value}}{{@end}}|{{@each None}}x{{@end}}|\n", R"({"Names": []})",
       "PID|||\r"},
      {"a fixed repetition before the list's",
       "PID|M^^^H~{{@each Ids}}{{Value}}{{@end}}|M~{{@each None}}x{{@end}}|~{{@each "
       "Ids}}{{Value}}{{@end}}\n",
       R"({"Ids": ["1", "2"]})", "PID|M^^^H~1~2|M|~1~2\r"},
      {"repetitions inside a group",
       "@each Orders:\nOBR|{{Code}}|{{@each Results}}{{Code}}{{@end}}\n@end\n", orders,
       "OBR|CBC|WBC~RBC\rOBR|BMP|NA\rOBR|LIP|\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = BuildOne("MSH|^~\\&|A\n" + c.tmpl, c.record);
    ASSERT_TRUE(o.ok()) << o.reason << (o.failures.empty() ? "" : o.failures[0].reason);
    EXPECT_EQ(o.message, "MSH|^~\\&|A\r" + c.message);
  }
}

TEST(Hl7Groups, AConditionMustBeTrueOrFalse) {
  struct Case {
    std::string tmpl, record, reason;
  };
  const std::vector<Case> cases = {
      {"@if {{Name}}: ZZZ|1\n", R"({"Name": "x"})",
       "a condition must be True or False (it gave \"x\")"},
      {"@if {{Missing + 1}}: ZZZ|1\n", "{}", "no field 'Missing'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tmpl);
    const Outcome o = BuildOne("MSH|^~\\&|A\n" + c.tmpl, c.record);
    ASSERT_EQ(o.failures.size(), 1u);
    EXPECT_EQ(o.failures[0].at.line, 2);
    EXPECT_EQ(o.failures[0].at.column, 5);
    EXPECT_EQ(o.failures[0].reason.rfind(c.reason, 0), 0u) << o.failures[0].reason;
    EXPECT_EQ(o.message, "");
  }
}

struct BadTemplate {
  std::string text;
  std::string where;
  std::string says;
};

TEST(Hl7Groups, RefusesBrokenStructure) {
  std::vector<BadTemplate> cases = {
      {"MSH|^~\\&|A\n@end\n", "t.tmpl:2:1", "without an open"},
      {"MSH|^~\\&|A\n@each R:\nOBX|1\n", "t.tmpl:2:1", "'@each R' is never closed by '@end'"},
      {"MSH|^~\\&|A\n@if {{X}}:\nOBX|1\n", "t.tmpl:2:1", "'@if' is never closed"},
      {"MSH|^~\\&|A\n@if X: OBX|1\n", "t.tmpl:2:1", "condition in '{{' and '}}'"},
      {"MSH|^~\\&|A\n@if {{X}} OBX|1\n", "t.tmpl:2:5", "expected ':' after the condition"},
      {"MSH|^~\\&|A\n@each R:\n@end x\n", "t.tmpl:3:1", "a line of its own"},
      {"MSH|^~\\&|A\n@each A: @each B: OBX|1\n", "t.tmpl:2:10", "one '@each' to a line"},
      {"@if {{X}}: MSH|^~\\&|A\n", "t.tmpl:1:1", "MSH is always written"},
      {"MSH|^~\\&|A\nPID|{{@end}}\n", "t.tmpl:2:5", "without '{{@each LIST}}'"},
      {"MSH|^~\\&|A\nPID|{{@each A}}x\n", "t.tmpl:2:1", "never closed by '{{@end}}'"},
      {"MSH|^~\\&|A\nPID|{{@each A}}{{@each B}}{{@end}}{{@end}}\n", "t.tmpl:2:16", "do not nest"},
      {"MSH|^~\\&|A\nPID|{{@each}}{{@end}}\n", "t.tmpl:2:5", "names one list"},
      {"MSH|^~\\&|A\nPID|{{@when X}}\n", "t.tmpl:2:5", "unknown directive"},
      {"MSH|^~\\&|A\nPID|{{?}}\n", "t.tmpl:2:5", "'{{?}}' needs an expression"},
  };
  std::string deep = "MSH|^~\\&|A\n";
  for (int i = 0; i < 60000; ++i) deep += "@each L:\n";
  cases.push_back({deep, "t.tmpl:66:1", "groups nest deeper than 64 levels"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseTemplate(c.text, "t.tmpl");
      ADD_FAILURE() << "accepted";
    } catch (const TemplateError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(c.where + ": ", 0), 0u) << what;
      EXPECT_NE(what.find(c.says), std::string::npos) << what;
    }
  }
}

}  // namespace
