// The shared expression table (tests/data/expressions.tsv) through the
// public Interpreter, the default collection and a recording error
// manager. The Windows test host runs the same rows through IDispatch.
#include "support/expression_table.h"

#include <gtest/gtest.h>

#include "tarn/tarn.h"

namespace tarn::testing {
namespace {

Variant ValueOf(const std::string& value) {
  std::string kind, text;
  table::SplitValue(value, kind, text);
  if (kind == "String") return Variant(FromUtf8(text));
  if (kind == "Long") return Variant(static_cast<std::int32_t>(std::stol(text)));
  if (kind == "Integer") return Variant(static_cast<std::int16_t>(std::stoi(text)));
  if (kind == "Double") return Variant(table::ParseNumber(text));
  if (kind == "Date") return Variant(Date{table::ParseNumber(text)});
  if (kind == "Boolean") return Variant(text == "True");
  ADD_FAILURE() << "unknown kind in the table: " << value;
  return {};
}

std::string Describe(const ObjectRef& result) {
  if (!result) return "<nothing>";
  const Variant v = Get(result, u"Data");
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

TEST(ExpressionTable, EveryRowGivesItsResultAndLeavesTheCollectionAsItWas) {
  std::string error;
  const table::Table t = table::Read(TARN_SOURCE_DIR "/tests/data/expressions.tsv", error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_GT(t.rows.size(), 50u);
  for (const table::Row& row : t.rows) {
    auto fields = MakeRef<DataFields>();
    for (const table::Field& f : t.fields)
      fields->AddField(FromUtf8(f.name), FromUtf8(f.type_word), ValueOf(f.value));
    auto errors = MakeRef<RecordingErrorManager>();
    Interpreter interp;
    ASSERT_TRUE(interp.Init(fields, errors, u"System", u"Application"));
    const std::size_t before = fields->Count();

    const ObjectRef result = interp.RealizeRegularExpressionUtf8(row.text);

    const std::string where = "line " + std::to_string(row.line) + ": " + table::Escape(row.text);
    EXPECT_EQ(Describe(result), row.result) << where;
    EXPECT_EQ(fields->Count(), before) << where;
    if (row.check_reports) {
      std::string reports;
      for (const ErrorReport& r : errors->reports()) reports += ToUtf8(r.procedure) + ";";
      EXPECT_EQ(reports, row.reports) << where;
    }
  }
}

}  // namespace
}  // namespace tarn::testing
