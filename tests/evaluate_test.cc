// Whole evaluations: {text, kind, text of the value} rows against one set of
// host fields. Covers operators and their grouping, the "=" rule, literals,
// functions and IF blocks.
#include <gtest/gtest.h>

#include "support/host_fixture.h"

namespace tarn::testing {
namespace {

struct Row {
  std::u16string text;
  std::string expected;  // "Kind text", or "<nothing>" for an empty reference
};

void Populate(DataFields& f) {
  f.AddField(u"Field1", u"Long", std::int32_t{41});
  f.AddField(u"Age", u"Long", std::int32_t{30});
  f.AddField(u"Child", u"Long", std::int32_t{12});
  f.AddField(u"Name", u"String", u"banana");
  f.AddField(u"Upper", u"String", u"BANANA");
  f.AddField(u"Phone", u"String", u"555-1234");
  f.AddField(u"Fmt", u"String", u"mm/dd/yyyy");
  f.AddField(u"Flag", u"Boolean", true);
  f.AddField(u"AdmitDate", u"Date", Date{45296.5730324074});  // 1/5/2024 13:45:10
  f.AddField(u"Custom", u"Money", u"2.5");
  f.AddField(u"Other", u"Amount", std::int32_t{2});
}

void Check(const std::vector<Row>& rows) {
  for (const auto& row : rows) {
    Host h;
    Populate(*h.fields);
    const std::size_t before = h.fields->Count();
    EXPECT_EQ(Show(h.Value(row.text)), row.expected) << ToUtf8(row.text);
    EXPECT_EQ(h.fields->Count(), before) << ToUtf8(row.text);
    EXPECT_TRUE(h.Idle()) << ToUtf8(row.text);
  }
}

TEST(Evaluate, OperatorsShareOnePrecedenceAndGroupFromTheRight) {
  Check({
      {u"Field1 + 1", "Long 42"},
      {u"2 * (3 + 4)", "Long 14"},
      {u"(2 * 3) + 4", "Long 10"},
      {u"2 * 3 + 4", "Long 14"},
      {u"1 - 2 - 3", "Long 2"},
      {u"1 + 1 = 2", "Boolean True"},
      {u"1 + 1 == 2", "Long 1"},
      {u"3 * (1 = 1) + 2", "Long -1"},
      {u"7 / 2", "Double 3.5"},
      {u"7 \\ 2", "Long 3"},
      {u"1 / 0", "<nothing>"},
      {u"1 \\ 0", "<nothing>"},
      {u"2.5 * 2", "Double 5"},
      {u"5 <> 4", "Boolean True"},
      {u"5 != 5", "Boolean False"},
      {u"4 <= 4", "Boolean True"},
      {u"\"b\" > \"a\"", "Boolean True"},
      {u"\"a\" < \"B\"", "Boolean False"},
  });
}

TEST(Evaluate, OperandRulesDecideTheConversions) {
  Check({
      {u"\"1\" + \"2\"", "String 12"},
      {u"1 + \"2\"", "Long 3"},
      {u"\"ab\" + 1", "String ab1"},
      {u"\"ab\" & \"cd\"", "String abcd"},
      {u"\"A\" & \" \" & \"B\"", "String AB"},
      {u"Field1 & 1", "String 411"},
      {u"Flag + 1", "Long 0"},
      {u"Custom * Other", "Double 5"},
      {u"\"ab\" - 1", "<nothing>"},
      {u"Name = \"banana\"", "Boolean True"},
  });
}

TEST(Evaluate, Dates) {
  Check({
      {u"#1/2/2003# - #1/1/2003#", "Double 1"},
      {u"#1/2/2003# + 1", "String 1/2/20031"},
      {u"#1/2/2003#", "Date 1/2/2003"},
      {u"AdmitDate", "Date 1/5/2024 1:45:10 PM"},
      {u"#not a date#", "Boolean False"},
  });
}

TEST(Evaluate, FormatAndReplace) {
  Check({
      {u"Format AdmitDate, \"yyyymmdd\"", "String 20240105"},
      {u"format AdmitDate, \"yyyymmdd\"", "String 20240105"},
      {u"FORMAT AdmitDate, \"yyyymmdd\" & \"X\"", "String 20240105X"},
      {u"Format (AdmitDate , \"mm/dd/yyyy\")", "String 01/05/2024"},
      {u"Format AdmitDate, Fmt", "String 01/05/2024"},
      {u"Format AdmitDate, \"mm/dd/yyyy\")", "String 01/05/2024"},
      {u"Format Field1, \"0000\"", "String 0041"},
      {u"Replace Name, \"a\" , \"b\" , 1, 10, 0", "String bbnbnb"},
      {u"Replace Upper, \"a\" , \"b\" , 1, 10, 1", "String BbNbNb"},
      {u"Replace Upper, \"a\" , \"b\" , 1, 10, 0", "String BANANA"},
      {u"Replace Name, \"a\" , \"b\" , 3, 10, 0", "String nbnb"},
      {u"Replace Name, \"a\" , \"b\" , 3, 1, 0", "String nbna"},
      {u"Replace Name, \"a\", \"b\", 1, 10, 0", "String banana"},
      {u"Replace Phone, \"-\" , \"\"", "String 5551234"},
      {u"\"MRN\" & Replace Phone, \"-\" , \"\"", "String MRN5551234"},
      {u"FORM", "<nothing>"},
  });
}

// A function still pushes its result after an argument error; the words it
// left unread then meet the parse loop.
TEST(Evaluate, FunctionArgumentErrorsAreReportedOnce) {
  struct ErrRow {
    std::u16string function, args;
    std::string pushed;
    std::u16string procedures;
  } rows[] = {
      {u"Format", u"(AdmitDate, \"yyyymmdd\")", "String ", u"GetFormatArguments;"},
      {u"Replace", u"Name, \"a\" , \"b\" , x", "String bbnbnb", u"GetReplaceArguments;"},
      {u"Replace", u"Name, \"a\" , \"b\" , 1, -1", "String bbnbnb", u"GetReplaceArguments;"},
      {u"FormatHL7DateTime", u"Name", "String 00000000", u"PerformGetHL7DateTimeFormatArguments;"},
      {u"FormatHL7DateTime", u"(AdmitDate, 0)", "String 00000000",
       u"PerformGetHL7DateTimeFormatArguments;"},
      {u"FormatHL7DateTime", u"AdmitDate, , , True", "String 20240105",
       u"PerformGetHL7DateTimeFormatArguments;"},
      {u"FormatHL7DateTime", u"AdmitDate, 0, , true", "String 20240105",
       u"PerformGetHL7DateTimeFormatArguments;"},
      {u"FORM", u"", "<nothing>", u"PerformFunction;"},
  };
  for (const auto& row : rows) {
    CoreHost h;
    Populate(*h.fields);
    detail::Frame& f = h.Open(row.args);
    h.core.PerformFunction(row.function, f);
    ObjectRef top = f.stack.Pop();
    EXPECT_EQ(Show(top ? Get(top, u"Data") : Variant::Missing()), row.pushed) << ToUtf8(row.args);
    EXPECT_EQ(h.Procedures(), row.procedures) << ToUtf8(row.args);
  }
  for (const auto& row : rows) {  // through the whole entry point
    Host h;
    Populate(*h.fields);
    h.Eval(row.function + u" " + row.args);
    EXPECT_EQ(h.Procedures(), row.procedures) << ToUtf8(row.args);
    EXPECT_EQ(h.fields->Count(), 11u);
  }
}

TEST(Evaluate, FormatHL7DateTime) {
  Check({
      {u"FormatHL7DateTime AdmitDate", "String 20240105"},
      {u"FormatHL7DateTime AdmitDate, 0, , True", "String 20240105134510"},
      {u"FormatHL7DateTime AdmitDate, 0, , True, True, -500", "String 20240105134510-0500"},
      {u"FormatHL7DateTime AdmitDate, 0, , True, True, 0", "String 20240105134510+0000"},
      {u"FormatHL7DateTime AdmitDate, 0, , True, True", "String 20240105134510+0000"},
      {u"FormatHL7DateTime AdmitDate, 08:30:00, , True", "String 20240105083000"},
      {u"FormatHL7DateTime Name", "String 00000000"},
      {u"FormatHL7DateTime AdmitDate, , , True", "Boolean False"},  // ", True" is left over
  });
}

TEST(Evaluate, HL7TextOfAnInvalidDate) {
  std::u16string sep, zone;
  bool with_time = true, with_zone = true;
  EXPECT_EQ(detail::GetHL7DateTime(u"nope", u"", sep, with_time, with_zone, zone),
            u"00000000000000-0000");
  EXPECT_EQ(sep, u"/");
  std::u16string dash = u"-";
  with_time = with_zone = false;
  EXPECT_EQ(detail::GetHL7DateTime(u"2024-01-05", u"", dash, with_time, with_zone, zone),
            u"20240105");
}

TEST(Evaluate, IfBlocks) {
  Check({
      {u"IF 1 THEN 2 ELSE 3 END IF", "Long 2"},
      {u"IF 0 THEN 2 ELSE 3 END IF", "Long 3"},
      {u"IF 0 THEN 2 END IF", "Boolean False"},
      {u"IF 1 THEN 2 ENDIF", "Long 2"},
      {u"IF 5 THEN 1 END IF", "Long 1"},
      {u"IF 0 THEN 1 ELSEIF 1 THEN 2 END IF", "Long 2"},
      {u"IF 0 THEN 1 ELSEIF 0 THEN 2 ELSE 3 END IF", "Long 3"},
      {u"IF 1 THEN 1 2 END IF", "Long 12"},
      {u"IF 1 THEN ELSE 3 END IF", "Long 3"},
      {u"IF Age > 17 THEN \"A\" ELSE \"C\" END IF", "String A"},
      {u"IF Child > 17 THEN \"A\" ELSE \"C\" END IF", "String C"},
      {u"if age > 17 then \"A\" else \"C\" endif", "String A"},
      {u"IF 1 THEN 2\r\nELSE 3\r\nEND IF", "Long 2"},
      {u"IF 0 THEN\r\n2\r\nELSE\r\n3\r\nEND IF", "Long 3"},
      {u"IF \"abc\" THEN 1 ELSE 2 END IF", "Long 2"},
      {u"IF AdmitDate THEN 1 ELSE 2 END IF", "Long 2"},
      {u"IF 0 THEN 1 ELSE END IF", "Boolean False"},
      {u"1 + IF 1 THEN 2 END IF", "Long 3"},
  });
}

TEST(Evaluate, LowerCaseEndIfIsASyntaxError) {
  Host h;
  h.Eval(u"IF 1 THEN 2 end if");
  EXPECT_NE(h.Procedures().find(u"GetStatements;"), std::u16string::npos);
  EXPECT_TRUE(h.Idle());
  EXPECT_EQ(h.fields->Count(), 0u);
}

}  // namespace
}  // namespace tarn::testing
