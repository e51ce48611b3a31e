// Strict mode: each text that the default evaluates quietly into something
// nobody meant is reported and gives the Error field in strict mode, while
// the default keeps its value. Sound texts stay silent in both modes.
#include <gtest/gtest.h>

#include "support/host_fixture.h"

namespace tarn::testing {
namespace {

void Populate(DataFields& f) {
  f.AddField(u"Phone", u"String", u"555-123-4567");
  f.AddField(u"D", u"Date", Date{45296.5730324074});  // 1/5/2024 13:45:10
  f.AddField(u"Flag", u"Boolean", true);
  f.AddField(u"Zone", u"Long", std::int32_t{-500});
  f.AddField(u"BigZone", u"Long", std::int32_t{99999999});
  f.AddField(u"Big", u"Double", 1e20);
}

// Host fields under functions' names.
void AddShadows(DataFields& f) {
  f.AddField(u"Format", u"String", u"shadow");
  f.AddField(u"replace", u"Long", std::int32_t{7});
}

struct Row {
  std::u16string text;
  std::string lenient;             // Show() of the default's value or "Error" ...
  std::u16string lenient_reports;  // ... and the procedures that reported
  std::u16string procedure;        // the strict report's procedure, or empty for none
  std::u16string problem;          // a part of its description
  bool shadows = false;            // with host fields under functions' names
};

const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      // Arguments that run out read the end-of-text word.
      {u"Replace Phone, \"-\"",
       "String 555<EOL>123<EOL>4567",
       {},
       u"GetReplaceArguments",
       u"Replace needs a text to find and its replacement"},
      {u"Replace Phone", "String 555-123-4567", {}, u"GetReplaceArguments", u"end of the text"},
      {u"Format D",
       "String eol1/5/2024 1:45:10 pm",
       {},
       u"GetFormatArguments",
       u"Format has no format argument"},
      // An IF block inside a branch.
      {u"If 1 = 1 Then If 2 = 2 Then 3 End If End If", "Error", u"GetStatements;PerformIf;",
       u"GetStatements", u"an IF block inside a branch"},
      {u"If 1 = 2 Then 4 Else If 2 = 2 Then 3 End If End If", "Boolean False",
       u"GetStatements;GetStatements;GetStatements;", u"GetStatements",
       u"an IF block inside a branch"},
      {u"If 1 = 1 Then 3 Else If 2 = 2 Then 4 End If End If",
       "Long 3",
       {},
       u"RemoveEndIf",
       u"an IF block inside a branch"},
      // A host field read under a function's name.
      {u"Format & \"!\"",
       "String shadow!",
       {},
       u"RealizeRegularExpression",
       u"the host's field 'Format' hides the function Format",
       true},
      {u"REPLACE + 1",
       "Long 8",
       {},
       u"RealizeRegularExpression",
       u"the host's field 'REPLACE' hides the function Replace",
       true},
      // A time zone that is no hhmm offset within -1400..+1400.
      {u"FormatHL7DateTime D, 0, , True, True, 99999999",
       "String 20240105134510+99999999",
       {},
       u"PerformGetHL7DateTimeFormatArguments",
       u"the time zone '99999999'"},
      {u"FormatHL7DateTime D, 0, , True, True, BigZone",
       "String 20240105134510+99999999",
       {},
       u"PerformGetHL7DateTimeFormatArguments",
       u"no offset of hours and minutes"},
      {u"FormatHL7DateTime D, 0, , True, True, Flag",
       "String 20240105134510True",
       {},
       u"PerformGetHL7DateTimeFormatArguments",
       u"the time zone 'True'"},
      {u"FormatHL7DateTime D, 0, , True, True, 1500",
       "String 20240105134510+1500",
       {},
       u"PerformGetHL7DateTimeFormatArguments",
       u"within -1400 to +1400"},
      {u"FormatHL7DateTime D, 0, , True, True, 570",
       "String 20240105134510+0570",
       {},
       u"PerformGetHL7DateTimeFormatArguments",
       u"(hhmm)"},
      {u"FormatHL7DateTime D, 0, , True, True, 2.5",
       "String 20240105134510+0003",
       {},
       u"PerformGetHL7DateTimeFormatArguments",
       u"the time zone '2.5'"},
      // A branch's words run together, or its value is the Error field.
      {u"If Flag Then FormatHL7DateTime D Else \"\" END IF",
       "Boolean False",
       {},
       u"GetStatements",
       u"\"FormatHL7DateTime\" and \"D\" run together"},
      {u"If Flag Then 1 2 END IF", "Long 12", {}, u"GetStatements", u"run together"},
      {u"If Flag Then Nope END IF",
       "Boolean False",
       {},
       u"PerformIf",
       u"the branch \"Nope\" cannot be evaluated"},
      {u"If Zone > 0 Then 1 Else Nope END IF",
       "Boolean False",
       {},
       u"PerformIf",
       u"the branch \"Nope\" cannot be evaluated"},
      {u"If Nope Then 1 Else 2 END IF",
       "Long 2",
       {},
       u"PerformIf",
       u"the condition \"Nope\" cannot be evaluated"},
      // A comma written against a literal argument stays part of it.
      {u"Replace Phone, \"-\", \"\"",
       "String 555-123-4567",
       {},
       u"GetReplaceArguments",
       u"the argument \"-\", keeps the comma"},
      {u"Replace Phone, \"-\" , \"\", 1",
       "String 555\",123\",4567",
       {},
       u"GetReplaceArguments",
       u"keeps the comma"},
      // A number joined to a text in exponent form.
      {u"\"n\" & Big", "String n1E+20", {}, u"EvaluateExpression", u"exponent form"},
      {u"Format Big, \"\"", "String 1E+20", {}, u"PerformFormat", u"exponent form"},
      {u"Replace Big, \"x\" , \"y\"", "String 1E+20", {}, u"PerformReplace", u"exponent form"},
      // Sound texts: no report either way.
      {u"If Flag Then Zone * 2 Else \"\" END IF", "Long -1000", {}, {}, {}, false},
      {u"If Flag Then (Zone) END IF", "Long -500", {}, {}, {}, false},
      {u"\"n\" & Zone", "String n-500", {}, {}, {}, false},
      {u"Format Big, \"0\"", "String 100000000000000000000", {}, {}, {}, false},
      {u"Replace Phone, \"-\" , \"\"", "String 5551234567", {}, {}, {}, false},
      {u"If 1 = 1 Then 3 ElseIf 2 = 2 Then 4 End If", "Long 3", {}, {}, {}, false},
      {u"FormatHL7DateTime D, 0, , True, True, Zone",
       "String 20240105134510-0500",
       {},
       {},
       {},
       false},
      {u"FormatHL7DateTime D, 0, , True, True, -1400",
       "String 20240105134510-1400",
       {},
       {},
       {},
       false},
      {u"FormatHL7DateTime D, 0, , True, True, 1400",
       "String 20240105134510+1400",
       {},
       {},
       {},
       false},
  };
  return rows;
}

std::u16string Procedures(const Evaluation& r) {
  std::u16string out;
  for (const auto& report : r.reports()) out += report.procedure + u";";
  return out;
}

TEST(Strict, IsOffByDefaultAndTheDefaultKeepsItsValues) {
  for (const auto& row : Rows()) {
    Host h;
    Populate(*h.fields);
    if (row.shadows) AddShadows(*h.fields);
    EXPECT_FALSE(h.interp.strict());
    const std::size_t before = h.fields->Count();
    const Evaluation r = h.interp.Evaluate(row.text);
    if (row.lenient == "Error") {
      EXPECT_TRUE(r.is_error()) << ToUtf8(row.text);
    } else {
      EXPECT_EQ(Show(r.value()), row.lenient) << ToUtf8(row.text);
      EXPECT_FALSE(r.is_error()) << ToUtf8(row.text);
    }
    EXPECT_EQ(Procedures(r), row.lenient_reports) << ToUtf8(row.text);
    EXPECT_EQ(h.fields->Count(), before) << ToUtf8(row.text);
  }
}

TEST(Strict, EachCaseIsReportedAndGivesTheErrorField) {
  for (const auto& row : Rows()) {
    Host h;
    Populate(*h.fields);
    if (row.shadows) AddShadows(*h.fields);
    h.interp.set_strict(true);
    const std::size_t before = h.fields->Count();
    const Evaluation r = h.interp.Evaluate(row.text);
    EXPECT_EQ(h.fields->Count(), before) << ToUtf8(row.text);
    EXPECT_TRUE(h.Idle()) << ToUtf8(row.text);
    if (row.procedure.empty()) {
      EXPECT_TRUE(r.ok()) << ToUtf8(row.text);
      EXPECT_EQ(Show(r.value()), row.lenient) << ToUtf8(row.text);
      continue;
    }
    EXPECT_TRUE(r.is_error()) << ToUtf8(row.text);
    EXPECT_EQ(Show(r.value()), "Boolean False") << ToUtf8(row.text);
    ASSERT_FALSE(r.reports().empty()) << ToUtf8(row.text);
    // The first report names the problem; what the default does next may add others.
    const EvaluationReport& first = r.reports().front();
    EXPECT_EQ(first.procedure, row.procedure) << ToUtf8(row.text);
    EXPECT_EQ(first.number, 5) << ToUtf8(row.text);
    EXPECT_EQ(first.description.rfind(u"Invalid procedure call or argument: ", 0), 0u)
        << ToUtf8(first.description);
    EXPECT_NE(first.description.find(row.problem), std::u16string::npos)
        << ToUtf8(row.text) << ": " << ToUtf8(first.description);
    EXPECT_EQ(first.message, u"Error: 5 - " + first.description);
    // The host's error manager received the same reports.
    EXPECT_EQ(h.errors->reports().size(), r.reports().size()) << ToUtf8(row.text);
  }
}

TEST(Strict, IsAPropertyByName) {
  Ref<Interpreter> interp = MakeRef<Interpreter>();
  auto fields = MakeRef<DataFields>();
  auto errors = MakeRef<RecordingErrorManager>();
  Populate(*fields);
  interp->Init(fields, errors, u"Sys", u"App");
  EXPECT_EQ(Get(interp, u"Strict"), Variant(false));
  Let(interp, u"strict", Variant(true));
  EXPECT_TRUE(interp->strict());
  EXPECT_EQ(Get(interp, u"Strict"), Variant(true));
  EXPECT_TRUE(interp->Evaluate(u"Format D").is_error());
  Let(interp, u"Strict", Variant(false));
  EXPECT_EQ(Show(interp->Evaluate(u"Format D").value()), "String eol1/5/2024 1:45:10 pm");
}

}  // namespace
}  // namespace tarn::testing
