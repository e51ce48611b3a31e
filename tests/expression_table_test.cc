// The shared tables (tests/data/*.tsv) through the public Interpreter, the
// default collection and a recording error manager; the public conversions
// for the rows under "@call", and the word scanner for those under "@call
// Words". The Windows test host runs the same expression rows through
// IDispatch.
#include "support/expression_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>

#include "platform/arith.h"
#include "support/host_fixture.h"

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

// A date written "Date <y>-<m>-<d>[ <h>:<n>:<s>]" ("this" for the current
// year) or "Date <h>:<n>:<s>", as its serial; nothing for any other text.
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

Variant ValueOf(const std::string& value) {
  std::string kind, text;
  table::SplitValue(value, kind, text);
  if (kind == "Object") return Variant(ObjectRef(MakeRef<Holder>(ValueOf(text))));
  if (kind == "String") return Variant(FromUtf8(text));
  if (kind == "Long") return Variant(static_cast<std::int32_t>(std::stol(text)));
  if (kind == "Integer") return Variant(static_cast<std::int16_t>(std::stoi(text)));
  if (kind == "Double") return Variant(table::ParseNumber(text));
  if (kind == "Single") return Variant(static_cast<float>(table::ParseNumber(text)));
  if (kind == "Date") return Variant(Date{WrittenDate(value).value_or(table::ParseNumber(text))});
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

// The words the scanner cuts `text` into, each followed by ";", the
// end-of-text character written "<EOT>".
std::string Words(const std::u16string& text) {
  CoreHost h;
  detail::Frame& f = h.Open(text);
  std::string out;
  for (int n = 0; n < 40; ++n) {
    std::u16string word;
    h.core.GetNextWord(f, word);
    std::string written = ToUtf8(word);
    if (const auto end = written.find(static_cast<char>(detail::kEndOfText));
        end != std::string::npos)
      written.replace(end, 1, "<EOT>");
    out += written + ";";
    if (word == u"<EOL>") break;
  }
  return out;
}

// Whether a collection holding the key `added` finds `asked`. A key that
// matches is taken (adding it fails), and removing it removes the first
// entry; another is a second entry.
std::string Keys(const std::u16string& added, const std::u16string& asked) {
  auto fields = MakeRef<DataFields>();
  fields->AddField(added, u"Long", std::int32_t{1});
  const bool found = fields->Exists(asked), by_find = static_cast<bool>(fields->Find(asked));
  const bool taken = fields->AddField(asked, u"Long", std::int32_t{2}) == nullptr;
  const bool agree = by_find == found && taken == found && fields->Count() == (found ? 1u : 2u) &&
                     fields->Erase(asked) && fields->Exists(added) != found;
  return agree ? Describe(Variant(found)) : "Find, AddField, Count or Erase disagree";
}

void AddFields(DataFields& to, const std::vector<table::Field>& fields) {
  for (const table::Field& f : fields)
    to.AddField(FromUtf8(f.name), FromUtf8(f.type_word), ValueOf(f.value));
}

// What the function `name` pushes, reading its arguments from the row's
// words among the row's fields, and the procedures that reported.
std::string Pushed(const std::u16string& name, const table::Row& row) {
  CoreHost h;
  AddFields(*h.fields, row.fields);
  detail::Frame& f = h.Open(FromUtf8(row.argument));
  h.core.PerformFunction(name, f);
  const ObjectRef top = f.stack.Pop();
  return (top ? Describe(Get(top, u"Data")) : "<nothing>") + " / " + ToUtf8(h.Procedures());
}

// What a "@call" row names: a conversion of the value, Format with the
// row's format (and first day of the week and week of the year, when the
// call gives them), ConvertByTypeWord with its type word, an operator with
// its right operand, the scanner on the value's text, the collection's
// keys, or a function. "error N" when it raises.
std::string Call(const table::Row& row) {
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
  const std::vector<std::string>& call = row.call;
  const std::string &name = call[0], &argument = row.argument;
  try {
    const Variant v = ValueOf(row.text);
    if (name == "PerformFunction") return Pushed(CStr(v), row);
    if (name == "Words") return Words(CStr(v));
    if (name == "Keys") return Keys(CStr(v), FromUtf8(argument));
    if (name == "Format") {
      const int first_day = call.size() > 1 ? std::stoi(call[1]) : 1;
      const int first_week = call.size() > 2 ? std::stoi(call[2]) : 1;
      return Describe(Variant(Format(v, FromUtf8(argument), first_day, first_week)));
    }
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

std::string Procedures(const Evaluation& e) {
  std::string out;
  for (const EvaluationReport& r : e.reports()) out += ToUtf8(r.procedure) + ";";
  return out;
}

// The Error field, or the result's type word and text.
std::string Show(const Evaluation& e) {
  if (e.is_error()) return "Error";
  if (!e.field()) return "<nothing>";
  try {
    return ToUtf8(e.type()) + " " + ToUtf8(CStr(e.value()));
  } catch (const RuntimeError&) {
    return ToUtf8(e.type());
  }
}

// Expression rows give their result's Data; strict rows are evaluated by
// default and in strict mode, which reports the problem first and gives
// the Error field, or the same when nothing is wrong. Either way the
// collection is as it was and the interpreter back where it started.
void RunRow(const table::Row& row, const std::string& at) {
  if (!row.call.empty()) {
    ExpectResult(Call(row), row.result, at);
    return;
  }
  for (const bool strict : {false, true}) {
    if (strict && !row.strict) break;
    const std::string where = at + (strict ? " (strict)" : "");
    Host h;
    AddFields(*h.fields, row.fields);
    h.interp.set_strict(strict);
    const std::size_t before = h.fields->Count();
    if (!row.strict) {
      const ObjectRef result = h.interp.RealizeRegularExpressionUtf8(row.text);
      EXPECT_EQ(result ? Describe(Get(result, u"Data")) : "<nothing>", row.result) << where;
      if (row.check_reports) {
        EXPECT_EQ(ToUtf8(h.Procedures()), row.reports) << where;
      }
    } else if (!strict || row.strict_procedure.empty()) {
      const Evaluation e = h.interp.Evaluate(row.text);
      EXPECT_EQ(Show(e), row.result) << where;
      EXPECT_EQ(Procedures(e), row.reports) << where;
      EXPECT_EQ(ToUtf8(h.Procedures()), row.reports) << where;
    } else {
      const Evaluation e = h.interp.Evaluate(row.text);
      EXPECT_TRUE(e.is_error()) << where;
      ASSERT_FALSE(e.reports().empty()) << where;
      const EvaluationReport& first = e.reports().front();
      EXPECT_EQ(ToUtf8(first.procedure), row.strict_procedure) << where;
      EXPECT_EQ(first.number, 5) << where;
      const std::string description = ToUtf8(first.description);
      EXPECT_TRUE(description.starts_with("Invalid procedure call or argument: ")) << description;
      EXPECT_NE(description.find(row.strict_problem), std::string::npos)
          << where << ": " << description;
      EXPECT_EQ(first.message, u"Error: 5 - " + first.description) << where;
      EXPECT_EQ(h.errors->reports().size(), e.reports().size()) << where;
    }
    EXPECT_EQ(h.fields->Count(), before) << where;
    EXPECT_TRUE(h.Idle()) << where;
  }
}

// The tables of this runner; tests/data holds others' too (the script
// hosts', the HL7 tool's).
TEST(Tables, EveryRowGivesItsResultAndLeavesTheCollectionAsItWas) {
  for (const char* name :
       {"expressions.tsv", "formats.tsv", "dates.tsv", "value_rules.tsv", "number_texts.tsv",
        "strict.tsv", "words.tsv", "keys.tsv", "functions.tsv"}) {
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
