// The HL7 message builder's cases that tarn-hl7 cannot show as a row of
// tests/data/tools.tsv: the order of a record's fields, lists nested too
// deeply, and records no reader makes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hl7/message.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace {

using namespace tarn::hl7;

Record OneRecord(const std::string& jsonl) {
  RecordOptions o;
  o.format = RecordFormat::JsonLines;
  auto records = ParseRecords(jsonl, o);
  EXPECT_EQ(records.size(), 1u);
  return records.at(0);
}

TEST(Hl7Records, MembersComeInTheOrderOfTheirNames) {
  const Record r = OneRecord(R"({"b": 1, "B_": 2, "a": {"z": 3, "c": 4}, "A": 5})");
  std::vector<std::string> names;
  for (const Field& f : r.fields) names.push_back(tarn::ToUtf8(f.name));
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B_", "a_c", "a_z", "b"}));
}

// No input chooses how deep the reader goes: a list nested past the limit
// is rejected in either form, and the records around it are read.
TEST(Hl7Records, DeepNestingRejectsTheRecordOnly) {
  const std::string record = "{\"A\": [" + std::string(50000, '[') + std::string(50000, ']') + "]}";
  for (const std::string& text :
       {"{\"A\": 1}\n" + record + "\n{\"A\": 3}\n", "[{\"A\": 1}, " + record + ", {\"A\": 3}]"}) {
    RecordOptions o;
    o.format = RecordFormat::JsonLines;
    const auto rs = ParseRecords(text, o);
    ASSERT_EQ(rs.size(), 3u);
    EXPECT_EQ(rs[0].error, "");
    EXPECT_NE(rs[1].error.find("nests deeper than"), std::string::npos) << rs[1].error;
    EXPECT_EQ(rs[2].error, "");
    EXPECT_EQ(rs[2].number, 3u);
  }
}

// Built by hand, as a reader that let them through would: the element is
// refused, and nothing of it stays in the record's scope.
TEST(Hl7Message, ListMembersDifferingOnlyInCaseAreRefused) {
  const Template t = ParseTemplate("MSH|^~\\&|A\n@each L: ZLS|{{Code}}\nZRS|{{Code}}\n", "t.tmpl");
  Record r = OneRecord(R"({"Code": "rec"})");
  r.lists.push_back(
      {u"L",
       {{{u"Code", u"String", tarn::Variant(u"X")}, {u"code", u"String", tarn::Variant(u"Y")}}}});
  MessageBuilder builder(t);
  const Outcome o = builder.Build(r);
  EXPECT_FALSE(o.ok());
  EXPECT_NE(o.reason.find("given twice"), std::string::npos) << o.reason;
  r.lists.clear();
  const Outcome again = builder.Build(r);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.message, "MSH|^~\\&|A\rZRS|rec\r");
}

}  // namespace
