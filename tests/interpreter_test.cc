// The interpreter object: Init, the entry point by name and its clean-up,
// and the reports it sends. What single texts give, by default and in
// strict mode, is in tests/data/strict.tsv.
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
// trimmed text back, and no text at all gives the Error field. Strict mode
// is a property as well.
TEST(Interpreter, TheByNameEntryPointWritesBackOnlyIntoTexts) {
  Host h;
  const ObjectRef interp(MakeRef<Interpreter>());
  Variant f(ObjectRef(h.fields)), e(ObjectRef(h.errors)), s(u"S"), a(std::int32_t{5});
  std::array<Arg, 4> init{Arg::ByRef(f), Arg::ByRef(e), Arg::ByRef(s), Arg::ByRef(a)};
  Call(interp, u"Init", init);
  EXPECT_EQ(a, Variant(std::int32_t{5}));  // Init keeps copies
  const auto name_of_result = [&](Variant& v) {
    std::array<Arg, 1> args{Arg::ByRef(v)};
    const Variant r = Call(interp, u"RealizeRegularExpression", args);
    return r.is_object() && r.object() ? Get(r.object(), u"Name") : Variant::Missing();
  };
  const Variant kept[] = {Variant(0.1 + 0.2), Variant(Date{45296.5}), Variant(true),
                          Variant(ObjectRef(h.fields)), Variant(u"1 + 2")};
  for (const Variant& value : kept) {
    Variant v = value;
    EXPECT_NO_THROW(name_of_result(v));
    EXPECT_EQ(v, value) << Show(value);
  }
  for (Variant v : {Variant::Null(), Variant(ObjectRef()), Variant::Missing()})
    EXPECT_EQ(name_of_result(v), Variant(u"Error")) << Show(v);
  const Variant none = Call(interp, u"RealizeRegularExpression", std::span<Arg>());
  ASSERT_TRUE(none.is_object() && none.object());
  EXPECT_EQ(Get(none.object(), u"Name"), Variant(u"Error"));

  Variant dangling(u"1 +");
  EXPECT_EQ(Get(interp, u"Strict"), Variant(false));
  EXPECT_NE(name_of_result(dangling), Variant(u"Error"));
  Let(interp, u"strict", Variant(true));
  EXPECT_EQ(Get(interp, u"Strict"), Variant(true));
  EXPECT_EQ(name_of_result(dangling), Variant(u"Error"));
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

// The report reaches the host's error manager with its eleven arguments,
// and the evaluation's reports with its number and message.
TEST(Interpreter, ReportsCarryElevenArguments) {
  Host h;
  const Evaluation e = h.interp.Evaluate(u"1 / 0");
  ASSERT_EQ(e.reports().size(), 1u);
  EXPECT_EQ(e.reports()[0].number, -2147220981);
  EXPECT_EQ(e.reports()[0].description, u"Division by zero");
  EXPECT_EQ(e.reports()[0].message, u"Error: -2147220981 - Division by zero");
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
  const ObjectRef r = interp.RealizeRegularExpression(u"1 + 1");  // no collection
  ASSERT_TRUE(r);
  EXPECT_EQ(Get(r, u"Name"), Variant(u"Error"));
  EXPECT_TRUE(interp.Evaluate(u"1 / 0").is_error());
  EXPECT_TRUE(interp.Evaluate(u"2").is_error());  // nothing was left open
}

}  // namespace
}  // namespace tarn::testing
