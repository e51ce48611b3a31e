// The HL7 message builder (tarn::hl7): templates, records, escaping and
// whole messages, through the library's own interface.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hl7/message.h"
#include "hl7/records.h"
#include "hl7/template.h"
#include "support/temp_files.h"

namespace {

using namespace tarn::hl7;
using tarn::testing::Split;

// Reads HL7 escapes back, written independently of the tool's Escape.
std::string Unescape(const std::string& s, const Delimiters& d) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != d.escape) {
      out += s[i];
      continue;
    }
    const std::size_t end = s.find(d.escape, i + 1);
    const std::string code = s.substr(i + 1, end - i - 1);
    if (code == "F")
      out += d.field;
    else if (code == "S")
      out += d.component;
    else if (code == "R")
      out += d.repetition;
    else if (code == "T")
      out += d.subcomponent;
    else if (code == "E")
      out += d.escape;
    else if (code == "P")
      out += d.truncation;
    else if (code[0] == 'X')
      out += static_cast<char>(std::stoi(code.substr(1), nullptr, 16));
    i = end;
  }
  return out;
}

Record OneRecord(const std::string& jsonl, const std::vector<std::string>& dates = {}) {
  RecordOptions o;
  o.format = RecordFormat::JsonLines;
  o.dates = dates;
  auto records = ParseRecords(jsonl, o);
  EXPECT_EQ(records.size(), 1u);
  return records.at(0);
}

Outcome BuildOne(const std::string& tmpl, const std::string& jsonl) {
  const Template t = ParseTemplate(tmpl, "t.tmpl");
  MessageBuilder builder(t);
  return builder.Build(OneRecord(jsonl));
}

// ---- templates -----------------------------------------------------------

struct BadTemplate {
  const char* text;
  const char* where;
  const char* says;
};

TEST(Hl7Template, RefusesWithFileLineAndColumn) {
  const BadTemplate cases[] = {
      {"PID|1\n", "t.tmpl:1:1", "first segment must be MSH"},
      {"MSH|^~\\&|A\nPID|{{Name\n|x\n", "t.tmpl:2:5", "never closed"},
      {"MSH|^~\\&|A\nPID|Name}}|\n", "t.tmpl:2:9", "without an opening"},
      {"MSH|^~\\&|A\nPid|x\n", "t.tmpl:2:1", "segment id"},
      {"MSH|^~\\&|A\nPIDX|1\n", "t.tmpl:2:4", "field separator"},
      {"MSH|^~|A\n", "t.tmpl:1:5", "encoding characters"},
      {"MSH\n", "t.tmpl:1:4", "field separator"},
      {"MSH|^^\\&|A\n", "t.tmpl:1:5", "repeated"},
      {"MSH|^~\\&|A\nMSH|^~\\&|B\n", "t.tmpl:2:1", "only once"},
      {"MSH|^~\\&|A\n@each : OBX|1\n", "t.tmpl:2:7", "name of a list"},
      {"MSH|^~\\&|A\n@each R OBX|1\n", "t.tmpl:2:9", "':'"},
      {"MSH|^~\\&|A\n@foreach R: OBX|1\n", "t.tmpl:2:1", "directive"},
      {"@each R: MSH|^~\\&|A\n", "t.tmpl:1:1", "cannot repeat"},
      {"MSH|^~\\&|A\n{{X}}|1\n", "t.tmpl:2:1", "not with an expression"},
      {"MSH|^~\\&|A\nOBX|{{  }}\n", "t.tmpl:2:5", "empty expression"},
      {"MSH|^~\\&|A\nOBX|{{a {{b}}\n", "t.tmpl:2:9", "inside the expression opened at 2:5"},
      {"MSH|^~\\&|A\nOBX|{{IF a THEN\n\"x\" ELSE }}|{{\n", "t.tmpl:3:13", "never closed"},
      {"# nothing\n\n", "t.tmpl:1:1", "no segments"},
  };
  for (const auto& c : cases) {
    try {
      ParseTemplate(c.text, "t.tmpl");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const TemplateError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(std::string(c.where) + ": ", 0), 0u) << c.text << " -> " << what;
      EXPECT_NE(what.find(c.says), std::string::npos) << c.text << " -> " << what;
    }
  }
}

TEST(Hl7Template, ReadsDelimitersExpressionsAndDirectives) {
  const Template t = ParseTemplate(
      "# comment {{ not an expression\r\n"
      "MSH#$*@%#A\r\n"
      "\r\n"
      "PID#{{IF a THEN\n\"x}}\"\r\nEND IF}}#y\r\n"
      "@each  Kin :NK1#{{SetId}}\n",
      "t.tmpl");
  EXPECT_EQ(t.delimiters.field, '#');
  EXPECT_EQ(t.delimiters.component, '$');
  EXPECT_EQ(t.delimiters.repetition, '*');
  EXPECT_EQ(t.delimiters.escape, '@');
  EXPECT_EQ(t.delimiters.subcomponent, '%');
  ASSERT_EQ(t.segments.size(), 3u);
  EXPECT_EQ(t.segments[0].pieces[0].literal, "MSH#$*@%#A");
  EXPECT_EQ(t.segments[1].id, "PID");
  EXPECT_EQ(t.segments[1].pieces.back().literal, "#y");
  EXPECT_EQ(t.segments[2].list, "Kin");
  EXPECT_EQ(t.segments[2].pieces[0].literal, "NK1#");
  ASSERT_EQ(t.expressions.size(), 2u);
  EXPECT_EQ(tarn::ToUtf8(t.expressions[0].text), "IF a THEN\r\n\"x}}\"\r\nEND IF");
  EXPECT_EQ(t.expressions[0].at.line, 4);
  EXPECT_EQ(t.expressions[0].at.column, 5);
  EXPECT_EQ(t.expressions[1].at.line, 7);
  EXPECT_EQ(t.expressions[1].at.column, 17);
}

// ---- escaping ------------------------------------------------------------

TEST(Hl7Escape, WritesEscapeSequencesForTheDeclaredDelimiters) {
  const Delimiters std_d;
  const Delimiters odd{'#', '$', '*', '@', '%'};
  Delimiters truncating;
  truncating.truncation = '#';
  struct Case {
    const char* value;
    const Delimiters* d;
    const char* escaped;
  } cases[] = {
      {"plain text", &std_d, "plain text"},
      {"a|b", &std_d, "a\\F\\b"},
      {"a^b~c&d", &std_d, "a\\S\\b\\R\\c\\T\\d"},
      {"C:\\dir", &std_d, "C:\\E\\dir"},
      {"two\r\nlines", &std_d, "two\\X0D\\\\X0A\\lines"},
      {"a|b^c", &odd, "a|b^c"},
      {"a#b$c*d@e%f", &odd, "a@F@b@S@c@R@d@E@e@T@f"},
      // Bytes that frame messages on the wire never pass raw.
      {"a\x0b"
       "b\x1c"
       "c",
       &std_d, "a\\X0B\\b\\X1C\\c"},
      {"#", &std_d, "#"},
      {"a#b", &truncating, "a\\P\\b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Escape(c.value, *c.d), c.escaped) << c.value;
    EXPECT_EQ(Unescape(Escape(c.value, *c.d), *c.d), c.value) << c.value;
  }
  EXPECT_EQ(Escape(std::string_view("a\0b", 3), std_d), "a\\X00\\b");
}

TEST(Hl7Escape, AFifthEncodingCharacterIsTheTruncationCharacter) {
  const Template t = ParseTemplate("MSH|^~\\&#|A\nPID|{{Name}}\n", "t.tmpl");
  EXPECT_EQ(t.delimiters.truncation, '#');
  EXPECT_EQ(ParseTemplate("MSH|^~\\&|A\n", "t.tmpl").delimiters.truncation, '\0');
  MessageBuilder builder(t);
  const Outcome o = builder.Build(OneRecord(R"({"Name": "No #1"})"));
  ASSERT_TRUE(o.ok());
  EXPECT_EQ(o.message, "MSH|^~\\&#|A\rPID|No \\P\\1\r");
}

// ---- records -------------------------------------------------------------

TEST(Hl7Records, MembersBecomeTypedFields) {
  struct Case {
    const char* json;
    const char* type;
    const char* text;  // CStr of the value
  } cases[] = {
      {R"({"X": 42})", "Long", "42"},
      {R"({"X": 2.0})", "Long", "2"},
      {R"({"X": -2147483648})", "Long", "-2147483648"},
      {R"({"X": 4000000000})", "Double", "4000000000"},
      {R"({"X": 2.5})", "Double", "2.5"},
      {R"({"X": true})", "Boolean", "True"},
      {R"({"X": "007"})", "String", "007"},
      {R"({"X": null})", "String", ""},
      {R"({"D": "1980-03-05"})", "Date", "3/5/1980"},
      {R"({"D": "2024-01-15T08:30:00"})", "Date", "1/15/2024 8:30:00 AM"},
      {R"({"D": ""})", "String", ""},
      {R"({"D": 12})", "Long", "12"},
      {R"({"X": "12", "types": {"x": "Integer"}})", "Integer", "12"},
      {R"({"X": 12, "types": {"X": "String"}})", "String", "12"},
      {R"({"X": "3/5/1980", "types": {"X": "Date"}})", "Date", "3/5/1980"},
      // JSON that the fast reader refuses is read all the same.
      {R"({"X": 18446744073709551616})", "Double", "1.84467440737096E+19"},
      {"\xEF\xBB\xBF{\"X\": 7}", "Long", "7"},
      {R"({"X": 1, "X": "last"})", "String", "last"},
  };
  for (const auto& c : cases) {
    const Record r = OneRecord(c.json, {"d"});
    ASSERT_EQ(r.error, "") << c.json;
    ASSERT_EQ(r.fields.size(), 1u) << c.json;
    EXPECT_EQ(tarn::ToUtf8(r.fields[0].type), c.type) << c.json;
    EXPECT_EQ(tarn::ToUtf8(tarn::CStr(r.fields[0].value)), c.text) << c.json;
  }
}

TEST(Hl7Records, UnusableRecordsCarryAReason) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"X": "unknown"})", "\"unknown\" is no date"},
      {R"({"X": "1975-02-30"})", "is no date"},
      {R"({"Y": "abc", "types": {"Y": "Long"}})", "does not convert to Long"},
      {R"({"Y": 1, "types": {"Y": 5}})", "no type word"},
      {R"("text")", "a record is a JSON object"},
      {R"({"Y": )", "not a JSON object"},
      {"{\"Y\": \"a\tb\"}", "control character U+0009 (HT) must be escaped"},
      {R"({"Y": 1e400})", "number overflow"},
      {R"({"L": [{"Code": "X", "code": "Y"}]})", "differ only in letter case"},
  };
  for (const auto& [text, reason] : cases) {
    const Record r = OneRecord(text, {"X"});
    EXPECT_NE(r.error.find(reason), std::string::npos) << text << " -> " << r.error;
    EXPECT_TRUE(r.fields.empty());
  }
}

TEST(Hl7Records, ListsAndNestedObjects) {
  const Record r = OneRecord(
      R"({"A": {"B": 1, "C": {"D": "x"}}, "L": [{"V": 1, "Deep": [1]}, {"V": 2}], "S": ["p", 3]})");
  ASSERT_EQ(r.fields.size(), 2u);
  EXPECT_EQ(tarn::ToUtf8(r.fields[0].name), "A_B");
  EXPECT_EQ(tarn::ToUtf8(r.fields[1].name), "A_C_D");
  ASSERT_EQ(r.lists.size(), 2u);
  ASSERT_EQ(r.lists[0].elements.size(), 2u);
  EXPECT_EQ(r.lists[0].elements[0].size(), 1u);  // "Deep" is the element's own list
  ASSERT_EQ(r.lists[0].element_lists.size(), 2u);
  ASSERT_EQ(r.lists[0].element_lists[0].size(), 1u);
  EXPECT_EQ(tarn::ToUtf8(r.lists[0].element_lists[0][0].name), "Deep");
  EXPECT_TRUE(r.lists[0].element_lists[1].empty());
  ASSERT_EQ(r.lists[1].elements.size(), 2u);
  EXPECT_EQ(tarn::ToUtf8(r.lists[1].elements[1][0].name), "Value");
  EXPECT_EQ(tarn::ToUtf8(r.lists[1].elements[1][0].type), "Long");
}

TEST(Hl7Records, MembersComeInTheOrderOfTheirNames) {
  const Record r = OneRecord(R"({"b": 1, "B_": 2, "a": {"z": 3, "c": 4}, "A": 5})");
  std::vector<std::string> names;
  for (const Field& f : r.fields) names.push_back(tarn::ToUtf8(f.name));
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B_", "a_c", "a_z", "b"}));
}

TEST(Hl7Records, CsvWithHeaderTypesQuotesAndBadRows) {
  RecordOptions o;
  o.dates = {"Born"};
  const auto rs = ParseRecords(
      "Name,Age:Long,Born\r\n"
      "\"Smith, \"\"Jr\"\"\",42,1980-03-05\r\n"
      "\"two\nlines\",7,\n"
      "short,1\n"
      "x,notanumber,\n"
      "y,1,someday\n",
      o);
  ASSERT_EQ(rs.size(), 5u);
  EXPECT_EQ(rs[0].error, "");
  EXPECT_EQ(tarn::ToUtf8(rs[0].fields[0].value.string()), "Smith, \"Jr\"");
  EXPECT_EQ(tarn::ToUtf8(rs[0].fields[1].type), "Long");
  EXPECT_EQ(tarn::ToUtf8(rs[0].fields[2].type), "Date");
  EXPECT_EQ(tarn::ToUtf8(rs[1].fields[0].value.string()), "two\nlines");
  EXPECT_EQ(rs[2].line, 5u);
  EXPECT_NE(rs[2].error.find("2 cells, the header 3"), std::string::npos);
  EXPECT_NE(rs[3].error.find("does not convert to Long"), std::string::npos);
  EXPECT_NE(rs[4].error.find("is no date"), std::string::npos);
}

// No input chooses how deep the reader goes: a list nested past the limit
// is rejected in either form, and the records around it are read. (Nested
// objects are run through tarn-hl7 itself.)
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

// Blank lines before the first record: the format is told from the first
// text that is not blank, and the lines are read once.
TEST(Hl7Records, BlankLinesBeforeTheFirstRecord) {
  const std::pair<const char*, const char*> cases[] = {
      {"\n\r\n  \n{\"A\": \"x\"}\n{\"A\": \"y\"}\n", "y"},
      {"\n\n[{\"A\": \"x\"},\n{\"A\": \"y\"}]\n", "y"},
      {"\n\nA\nx\ny\n", "y"},
  };
  for (const auto& [text, last] : cases) {
    const auto rs = ParseRecords(text, RecordOptions{});
    ASSERT_EQ(rs.size(), 2u) << text;
    EXPECT_EQ(rs[1].error, "");
    EXPECT_EQ(tarn::ToUtf8(rs[1].fields.at(0).value.string()), last) << text;
  }
}

// ---- messages ------------------------------------------------------------

TEST(Hl7Message, RepeatingSegmentsHideAndRestoreRecordFields) {
  const std::string tmpl =
      "MSH|^~\\&|A\n"
      "@each Kin: NK1|{{SetId}}|{{Name}}|{{Tag}}\n"
      "@each Tags: ZTG|{{SetId}}|{{Value}}\n"
      "ZZZ|{{Name}}|{{SetId}}\n";
  struct Case {
    const char* record;
    std::vector<std::string> nk1, ztg;
  } cases[] = {
      {R"({"Name": "Rec", "SetId": "own", "Tag": "t", "Kin": [{"Name": "K1"}, {"Name": "K2", "SetId": 99}], "Tags": ["a", "b|c"]})",
       {"1|K1|t", "2|K2|t"},
       {"1|a", "2|b\\F\\c"}},
      {R"({"Name": "Rec", "SetId": "own", "Tag": "t", "Kin": []})", {}, {}},
      {R"({"Name": "Rec", "SetId": "own", "Tag": "t"})", {}, {}},
  };
  for (const auto& c : cases) {
    const Outcome o = BuildOne(tmpl, c.record);
    ASSERT_TRUE(o.ok()) << c.record << (o.failures.empty() ? o.reason : o.failures[0].reason);
    std::vector<std::string> nk1, ztg;
    for (const auto& s : Split(o.message, '\r')) {
      if (s.rfind("NK1|", 0) == 0) nk1.push_back(s.substr(4));
      if (s.rfind("ZTG|", 0) == 0) ztg.push_back(s.substr(4));
    }
    EXPECT_EQ(nk1, c.nk1) << c.record;
    EXPECT_EQ(ztg, c.ztg) << c.record;
    EXPECT_NE(o.message.find("\rZZZ|Rec|own\r"), std::string::npos) << o.message;
  }
}

TEST(Hl7Message, FailingExpressionsNameTheirPosition) {
  const std::string tmpl =
      "MSH|^~\\&|A\n"
      "PID|{{Age + 1}}|{{Missing}}\n"
      "PV1|{{Age / Zero}}|{{Age &}}|{{Replace Nope, \"-\" , \"\"}}\n";
  const Outcome o = BuildOne(tmpl, R"({"Age": 41, "Zero": 0})");
  EXPECT_FALSE(o.ok());
  EXPECT_TRUE(o.message.empty());
  struct Want {
    int line, column;
    const char* reason;
    bool reports;
  } want[] = {{2, 17, "no field 'Missing'", false},
              {3, 5, "report", true},
              {3, 20, "ends in an operator", false},
              {3, 30, "no field 'Nope'", true}};
  ASSERT_EQ(o.failures.size(), std::size(want));
  for (std::size_t i = 0; i < std::size(want); ++i) {
    EXPECT_EQ(o.failures[i].at.line, want[i].line) << i;
    EXPECT_EQ(o.failures[i].at.column, want[i].column) << i;
    EXPECT_NE(o.failures[i].reason.find(want[i].reason), std::string::npos) << o.failures[i].reason;
    EXPECT_EQ(!o.failures[i].reports.empty(), want[i].reports) << i;
  }
  // The builder starts afresh for the next record.
  const Template t = ParseTemplate("MSH|^~\\&|A\nPID|{{Age + 1}}\n", "t.tmpl");
  MessageBuilder builder(t);
  EXPECT_FALSE(builder.Build(OneRecord(R"({"Agex": 1})")).ok());
  const Outcome ok = builder.Build(OneRecord(R"({"Age": 1})"));
  EXPECT_EQ(ok.message, "MSH|^~\\&|A\rPID|2\r");
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

// One builder over records whose members come and go, change kind and
// change order: each record sees its own fields only.
TEST(Hl7Message, ConsecutiveRecordsSeeOnlyTheirOwnFields) {
  const Template t = ParseTemplate("MSH|^~\\&|A\nPID|{{A}}|{{B}}|{{A & \"/\" & B}}\n", "t.tmpl");
  MessageBuilder builder(t);
  const std::pair<const char*, const char*> cases[] = {
      {R"({"A": 1, "B": "x"})", "PID|1|x|1/x"},
      {R"({"A": 2.5, "B": "y"})", "PID|2.5|y|2.5/y"},
      {R"({"B": "z", "A": 3})", "PID|3|z|3/z"},
      {R"({"A": 4})", "no field 'B'"},
      {R"({"A": true, "B": "w"})", "PID|True|w|True/w"},
      {R"({"A": 5, "b": "v"})", "PID|5|v|5/v"},
  };
  for (const auto& [record, want] : cases) {
    const Outcome o = builder.Build(OneRecord(record));
    const std::string got = o.ok() ? Split(o.message, '\r').at(1)
                                   : (o.failures.empty() ? o.reason : o.failures[0].reason);
    EXPECT_NE(got.find(want), std::string::npos) << record << " -> " << got;
  }
}

TEST(Hl7Message, AFieldNamedErrorIsNoFailure) {
  const Outcome o = BuildOne("MSH|^~\\&|A\nZER|{{Error}}\n", R"({"Error": false})");
  ASSERT_TRUE(o.ok());
  EXPECT_NE(o.message.find("ZER|False\r"), std::string::npos);
}

}  // namespace
