// The shared tables (tests/data/*.tsv) through the public Interpreter, the
// default collection and a recording error manager, and the public
// conversions for the rows under "@call". The Windows test host runs the
// same expression rows through IDispatch.
#include "support/expression_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>

#include "platform/arith.h"
#include "tarn/tarn.h"

namespace tarn::testing {
namespace {

// An object whose default member gives a fixed value.
class Holder final : public Object {
 public:
  explicit Holder(Variant v) : v_(std::move(v)) {}
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg>) override {
    if (!member.empty()) RaiseNoMember(member);
    return v_;
  }

 private:
  Variant v_;
};

Variant ValueOf(const std::string& value) {
  std::string kind, text;
  table::SplitValue(value, kind, text);
  if (kind == "Object") return Variant(ObjectRef(MakeRef<Holder>(ValueOf(text))));
  if (kind == "String") return Variant(FromUtf8(text));
  if (kind == "Long") return Variant(static_cast<std::int32_t>(std::stol(text)));
  if (kind == "Integer") return Variant(static_cast<std::int16_t>(std::stoi(text)));
  if (kind == "Double") return Variant(table::ParseNumber(text));
  if (kind == "Single") return Variant(static_cast<float>(table::ParseNumber(text)));
  if (kind == "Date") return Variant(Date{table::ParseNumber(text)});
  if (kind == "Boolean") return Variant(text == "True");
  if (kind == "Empty") return Variant();
  if (kind == "Null") return Variant::Null();
  ADD_FAILURE() << "unknown kind in the table: " << value;
  return {};
}

std::string Describe(const Variant& v) {
  switch (v.kind()) {
    case Kind::Empty: return "Empty";
    case Kind::Null: return "Null";
    case Kind::Integer: return "Integer " + std::to_string(v.integer());
    case Kind::Long: return "Long " + std::to_string(v.long_value());
    case Kind::Single: return "Single " + table::NumberText(v.single());
    case Kind::Double: return "Double " + table::NumberText(v.double_value());
    case Kind::Date: return "Date " + table::NumberText(v.date().serial);
    case Kind::Boolean: return std::string("Boolean ") + (v.boolean() ? "True" : "False");
    case Kind::String: return "String " + ToUtf8(v.string());
    default: return ToUtf8(v.TypeName());
  }
}

using Binary = Variant (*)(const Variant&, const Variant&);

Variant Sign(const Variant& l, const Variant& r) {
  const std::optional<int> c = detail::Compare(l, r);
  return c ? Variant(static_cast<std::int32_t>((*c > 0) - (*c < 0))) : Variant::Null();
}

// What a "@call" row names: a conversion of the value, Format with the
// row's format, ConvertByTypeWord with its type word, or an operator with
// its right operand. "error N" when it raises.
std::string Call(const std::string& name, const Variant& v, const std::string& argument) {
  static const std::map<std::string, std::function<Variant(const Variant&)>> kCalls = {
      {"CInt", [](const Variant& x) { return Variant(CInt(x)); }},
      {"CLng", [](const Variant& x) { return Variant(CLng(x)); }},
      {"CSng", [](const Variant& x) { return Variant(CSng(x)); }},
      {"CDbl", [](const Variant& x) { return Variant(CDbl(x)); }},
      {"CBool", [](const Variant& x) { return Variant(CBool(x)); }},
      {"CDate", [](const Variant& x) { return Variant(CDate(x)); }},
      {"CStr", [](const Variant& x) { return Variant(CStr(x)); }},
      {"IsNumeric", [](const Variant& x) { return Variant(IsNumeric(x)); }},
      {"IsDate", [](const Variant& x) { return Variant(IsDate(x)); }},
      {"EqualsZero", [](const Variant& x) { return Variant(detail::EqualsZero(x)); }},
  };
  static const std::map<std::string, Binary> kOperators = {
      {"+", &detail::Add},    {"-", &detail::Subtract},   {"*", &detail::Multiply},
      {"/", &detail::Divide}, {"\\", &detail::IntDivide}, {"Compare", &Sign},
  };
  try {
    if (name == "Format") return Describe(Variant(Format(v, FromUtf8(argument))));
    if (name == "ConvertByTypeWord") return Describe(ConvertByTypeWord(FromUtf8(argument), v));
    if (const auto op = kOperators.find(name); op != kOperators.end())
      return Describe(op->second(v, ValueOf(argument)));
    const auto it = kCalls.find(name);
    if (it == kCalls.end()) return "no conversion " + name;
    return Describe(it->second(v));
  } catch (const RuntimeError& e) {
    return "error " + std::to_string(e.number());
  }
}

// A date written "Date <y>-<m>-<d>[ <h>:<n>:<s>]" ("this" for the current
// year) or "Date <h>:<n>:<s>", as its serial; any other result as it is.
std::optional<double> WrittenDate(const std::string& result) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char year[8] = {};
  if (std::sscanf(result.c_str(), "Date %7[0-9this]-%d-%d %d:%d:%d", year, &mo, &d, &h, &mi, &s) >=
      3) {
    y = std::string(year) == "this" ? std::stoi(ToUtf8(Format(Variant(Now()), u"yyyy")))
                                    : std::stoi(year);
    const auto date = MakeDate(y, mo, d, h, mi, s);
    return date ? std::optional<double>(date->serial) : std::nullopt;
  }
  if (std::sscanf(result.c_str(), "Date %d:%d:%d", &h, &mi, &s) == 3 &&
      result.find('-') == std::string::npos)
    return (h * 3600.0 + mi * 60.0 + s) / 86400.0;
  return std::nullopt;
}

void ExpectResult(const std::string& got, const std::string& want, const std::string& where) {
  if (const auto date = WrittenDate(want); date && got.starts_with("Date ")) {
    EXPECT_NEAR(table::ParseNumber(got.substr(5)), *date, 1e-9) << where << " gave " << got;
    return;
  }
  // Numbers compare by value, whatever the digits they are written with.
  std::string got_kind, got_text, want_kind, want_text;
  table::SplitValue(got, got_kind, got_text);
  table::SplitValue(want, want_kind, want_text);
  if (got_kind == want_kind && (want_kind == "Double" || want_kind == "Single")) {
    EXPECT_EQ(ValueOf(got), ValueOf(want)) << where << " gave " << got;
    return;
  }
  EXPECT_EQ(got, want) << where;
}

std::string Reports(const RecordingErrorManager& errors) {
  std::string out;
  for (const ErrorReport& r : errors.reports()) out += ToUtf8(r.procedure) + ";";
  return out;
}

// A value as its type name and text ("Date 1/5/2024 1:45:10 PM").
std::string Show(const Variant& v) {
  try {
    return ToUtf8(v.TypeName()) + " " + ToUtf8(CStr(v));
  } catch (const RuntimeError&) {
    return ToUtf8(v.TypeName());
  }
}

std::string Procedures(const Evaluation& e) {
  std::string out;
  for (const EvaluationReport& r : e.reports()) out += ToUtf8(r.procedure) + ";";
  return out;
}

// The default keeps its value and reports; strict mode reports the problem
// first and gives the Error field, or the same value when nothing is wrong.
void RunStrictRow(const table::Row& row, const std::string& where) {
  for (const bool strict : {false, true}) {
    auto fields = MakeRef<DataFields>();
    for (const table::Field& f : row.fields)
      fields->AddField(FromUtf8(f.name), FromUtf8(f.type_word), ValueOf(f.value));
    auto errors = MakeRef<RecordingErrorManager>();
    Interpreter interp;
    ASSERT_TRUE(interp.Init(fields, errors, u"System", u"Application"));
    interp.set_strict(strict);
    const std::size_t before = fields->Count();
    const Evaluation e = interp.Evaluate(row.text);
    EXPECT_EQ(fields->Count(), before) << where;
    EXPECT_EQ(errors->reports().size(), e.reports().size()) << where;
    if (!strict || row.strict_procedure.empty()) {
      EXPECT_EQ(e.is_error(), row.result == "Error") << where;
      if (row.result != "Error") {
        EXPECT_EQ(Show(e.value()), row.result) << where;
      }
      EXPECT_EQ(Procedures(e), strict ? std::string() : row.reports) << where;
      continue;
    }
    EXPECT_TRUE(e.is_error()) << where << " (strict)";
    ASSERT_FALSE(e.reports().empty()) << where << " (strict)";
    const EvaluationReport& first = e.reports().front();
    EXPECT_EQ(ToUtf8(first.procedure), row.strict_procedure) << where;
    EXPECT_EQ(first.number, 5) << where;
    const std::string description = ToUtf8(first.description);
    EXPECT_TRUE(description.starts_with("Invalid procedure call or argument: ")) << description;
    EXPECT_NE(description.find(row.strict_problem), std::string::npos)
        << where << ": " << description;
    EXPECT_EQ(first.message, u"Error: 5 - " + first.description) << where;
    // Back where it started: the next call names its fields from Autodf1.
    EXPECT_EQ(Get(interp.Evaluate(u"1 + 1").field(), u"Name"), Variant(u"Autodf4")) << where;
  }
}

void RunRow(const table::Row& row, const std::string& where) {
  if (row.strict) {
    RunStrictRow(row, where);
    return;
  }
  if (!row.call.empty()) {
    ExpectResult(Call(row.call, ValueOf(row.text), row.argument), row.result, where);
    return;
  }
  auto fields = MakeRef<DataFields>();
  for (const table::Field& f : row.fields)
    fields->AddField(FromUtf8(f.name), FromUtf8(f.type_word), ValueOf(f.value));
  auto errors = MakeRef<RecordingErrorManager>();
  Interpreter interp;
  ASSERT_TRUE(interp.Init(fields, errors, u"System", u"Application"));
  const std::size_t before = fields->Count();

  const ObjectRef result = interp.RealizeRegularExpressionUtf8(row.text);

  EXPECT_EQ(result ? Describe(Get(result, u"Data")) : "<nothing>", row.result) << where;
  EXPECT_EQ(fields->Count(), before) << where;
  if (row.check_reports) {
    EXPECT_EQ(Reports(*errors), row.reports) << where;
  }
}

// The tables of this runner; tests/data holds others' too (the script
// hosts', the HL7 tool's).
TEST(Tables, EveryRowGivesItsResultAndLeavesTheCollectionAsItWas) {
  for (const char* name : {"expressions.tsv", "formats.tsv", "dates.tsv", "value_rules.tsv",
                           "number_texts.tsv", "strict.tsv"}) {
    std::string error;
    const table::Table t = table::Read(TARN_SOURCE_DIR "/tests/data/" + std::string(name), error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_FALSE(t.rows.empty()) << name;
    for (const table::Row& row : t.rows)
      RunRow(row,
             std::string(name) + ":" + std::to_string(row.line) + ": " + table::Escape(row.text));
  }
}

}  // namespace
}  // namespace tarn::testing
