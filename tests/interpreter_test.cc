// The interpreter object: set-up, Init, version properties, the entry
// point's clean-up and "Error" path, and the reports it sends.
#include <gtest/gtest.h>

#include <array>

#include "support/host_fixture.h"

namespace tarn::testing {
namespace {

// Only the in-place form, and the by-name member, trim the caller's text.
TEST(Interpreter, OnlyTheInPlaceFormsTrimTheCallersText) {
  Host h;
  std::u16string text = u" 1 + 2 ";
  h.interp.RealizeRegularExpression(text);
  EXPECT_EQ(text, u" 1 + 2 ");
  h.interp.RealizeRegularExpressionInPlace(text);
  EXPECT_EQ(text, u"1 + 2");
  Variant by_name(u" 3 ");
  std::array<Arg, 1> args{Arg::ByRef(by_name)};
  Call(ObjectRef(MakeRef<Interpreter>()), u"RealizeRegularExpression", args);
  EXPECT_EQ(by_name, Variant(u"3"));
}

// By name, as automation hosts call it: only a text variable gets the
// trimmed text back, and no text at all gives the Error field.
TEST(Interpreter, TheByNameEntryPointWritesBackOnlyIntoTexts) {
  Host h;
  const ObjectRef interp(MakeRef<Interpreter>());
  Variant f(ObjectRef(h.fields)), e(ObjectRef(h.errors)), s(u"S"), a(std::int32_t{5});
  std::array<Arg, 4> init{Arg::ByRef(f), Arg::ByRef(e), Arg::ByRef(s), Arg::ByRef(a)};
  Call(interp, u"Init", init);
  EXPECT_EQ(a, Variant(std::int32_t{5}));  // Init keeps copies
  const Variant kept[] = {Variant(0.1 + 0.2), Variant(Date{45296.5}), Variant(true),
                          Variant(ObjectRef(h.fields)), Variant(u"1 + 2")};
  for (const Variant& value : kept) {
    Variant v = value;
    std::array<Arg, 1> args{Arg::ByRef(v)};
    EXPECT_NO_THROW(Call(interp, u"RealizeRegularExpression", args));
    EXPECT_EQ(v, value) << Show(value);
  }
  for (Variant v : {Variant::Null(), Variant(ObjectRef()), Variant::Missing()}) {
    std::array<Arg, 1> args{Arg::ByRef(v)};
    const Variant r = Call(interp, u"RealizeRegularExpression", args);
    ASSERT_TRUE(r.is_object() && r.object()) << Show(v);
    EXPECT_EQ(Get(r.object(), u"Name"), Variant(u"Error"));
  }
  const Variant none = Call(interp, u"RealizeRegularExpression", std::span<Arg>());
  ASSERT_TRUE(none.is_object() && none.object());
  EXPECT_EQ(Get(none.object(), u"Name"), Variant(u"Error"));
}

// The typed result: value, type word, the Error field told apart from a
// host field that happens to be called "Error", and the call's reports.
TEST(Interpreter, EvaluateGivesValueTypeErrorAndReports) {
  struct Row {
    std::u16string text;
    std::string value;  // Show() of the value
    std::u16string type;
    bool is_error, ok;
    std::u16string procedures;
  } rows[] = {
      {u"Field1 + 1", "Long 42", u"Long", false, true, u""},
      {u"\"a\" & \"b\"", "String ab", u"String", false, true, u""},
      {u"Error", "Boolean False", u"Boolean", false, true, u""},  // the host's own field
      {u"1 +", "String +", u"Operator", false, true, u""},        // the operator itself
      {u"1 / 0", "Empty ", u"", false, false, u"EvaluateExpression;"},
      {u"1 2", "Boolean False", u"Boolean", true, false, u""},
      {u"#no date#", "Boolean False", u"Boolean", true, false, u"CreateDateDataField;"},
      {u"  ", "Empty ", u"", false, false, u""},
  };
  for (const auto& row : rows) {
    Host h;
    h.fields->AddField(u"Field1", u"Long", std::int32_t{41});
    h.fields->AddField(u"Error", u"Boolean", false);
    const Evaluation r = h.interp.Evaluate(row.text);
    const std::string label = ToUtf8(row.text);
    EXPECT_EQ(Show(r.value()), row.value) << label;
    EXPECT_EQ(r.type(), row.type) << label;
    EXPECT_EQ(r.is_error(), row.is_error) << label;
    EXPECT_EQ(r.ok(), row.ok) << label;
    std::u16string procedures;
    for (const auto& report : r.reports()) procedures += report.procedure + u";";
    EXPECT_EQ(procedures, row.procedures) << label;
    // The same reports reached the host's error manager.
    EXPECT_EQ(h.Procedures(), row.procedures) << label;
    EXPECT_EQ(h.fields->Count(), 2u) << label;
  }
  Host h;
  const Evaluation r = h.interp.Evaluate(std::string_view("\"\xc3\xa9\" & 1"));
  EXPECT_EQ(Show(r.value()),
            "String \xc3\xa9"
            "1");
  const Evaluation division = h.interp.Evaluate(u"1 / 0");
  ASSERT_EQ(division.reports().size(), 1u);
  EXPECT_EQ(division.reports()[0].number, -2147220981);
  EXPECT_EQ(division.reports()[0].description, u"Division by zero");
  EXPECT_EQ(division.reports()[0].message, u"Error: -2147220981 - Division by zero");
}

bool IsErrorField(const ObjectRef& r) {
  return r && Get(r, u"Name") == Variant(u"Error") && Get(r, u"DataType") == Variant(u"Boolean") &&
         Get(r, u"Data") == Variant(false);
}

TEST(Interpreter, TextsThatCannotBeParsedGiveTheErrorField) {
  for (std::u16string text :
       {u")", u"1 )", u"1 2", u"1 + ?", u"Field1 Field1", u"\"abc", u"1 + )"}) {
    Host h;
    h.fields->AddField(u"Field1", u"Long", std::int32_t{41});
    ObjectRef r = h.Eval(text);
    EXPECT_TRUE(IsErrorField(r)) << ToUtf8(text);
    EXPECT_EQ(h.fields->Keys(), std::vector<std::u16string>{u"Field1"}) << ToUtf8(text);
    EXPECT_TRUE(h.Idle()) << ToUtf8(text);
  }
}

// Host fields are pushed as they are; the clean-up removes every temporary.
TEST(Interpreter, CleanUpRemovesEveryTemporaryField) {
  Host h;
  auto field = h.fields->AddField(u"Field1", u"Long", std::int32_t{41});
  EXPECT_EQ(h.Eval(u"field1"), ObjectRef(field));
  EXPECT_EQ(h.fields->Count(), 1u);
  ObjectRef r = h.Eval(u"Field1 + 1");
  ASSERT_TRUE(r);
  EXPECT_EQ(Get(r, u"Name"), Variant(u"Autodf3"));
  EXPECT_EQ(Get(r, u"Data"), Variant(std::int32_t{42}));
  EXPECT_EQ(h.fields->Keys(), std::vector<std::u16string>{u"Field1"});
  // The next evaluation starts again at Autodf1.
  EXPECT_EQ(Get(h.Eval(u"2"), u"Name"), Variant(u"Autodf1"));
  for (int i = 0; i < 100'000; ++i) h.Eval(u"Field1 + 1");
  EXPECT_EQ(h.fields->Count(), 1u);
  EXPECT_TRUE(h.Idle());
}

TEST(Interpreter, ReportsCarryElevenArguments) {
  Host h;
  h.Eval(u"1 / 0");
  ASSERT_EQ(h.errors->reports().size(), 1u);
  const ErrorReport& r = h.errors->reports()[0];
  EXPECT_EQ(r.number, 150100);
  EXPECT_EQ(r.message, u"Error: -2147220981 - Division by zero");
  EXPECT_GT(r.when.serial, 45000);
  EXPECT_EQ(r.arg4, 4);
  EXPECT_EQ(r.arg5, 15);
  EXPECT_TRUE(r.arg6_omitted);
  EXPECT_EQ(r.system, u"Sys");
  EXPECT_EQ(r.application, u"App");
  EXPECT_EQ(r.release, u"01.01.0009");
  EXPECT_EQ(r.class_name, u"Interpreter");
  EXPECT_EQ(r.procedure, u"EvaluateExpression");
}

TEST(Interpreter, WithoutInitNothingCrashes) {
  Interpreter interp;
  EXPECT_TRUE(IsErrorField(interp.RealizeRegularExpression(u"1 + 1")));  // no collection
  EXPECT_TRUE(interp.Evaluate(u"1 / 0").is_error());
  EXPECT_TRUE(interp.Evaluate(u"2").is_error());  // nothing was left open
}

}  // namespace
}  // namespace tarn::testing
