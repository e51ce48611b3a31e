// The platform's value rules: conversions, arithmetic and comparison.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/arith.h"
#include "platform/date.h"
#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::detail {
namespace {

using I = std::int16_t;
using L = std::int32_t;

// An object whose default member is a fixed value.
class Holder : public Object {
 public:
  explicit Holder(Variant v) : v_(std::move(v)) {}
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg>) override {
    if (!member.empty()) RaiseNoMember(member);
    return v_;
  }

 private:
  Variant v_;
};

Variant Obj(Variant v) { return Variant(ObjectRef(MakeRef<Holder>(std::move(v)))); }

// The error number that `f` raises, or 0.
int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

std::string Show(const Variant& v) {
  std::string kind = ToUtf8(v.TypeName());
  if (v.is_null() || v.is_empty()) return kind;
  return kind + " " + ToUtf8(CStr(v));
}

// Same kind and value.
void ExpectSame(const Variant& got, const Variant& want, const std::string& what) {
  EXPECT_EQ(got.kind(), want.kind()) << what << ": got " << Show(got) << ", want " << Show(want);
  EXPECT_TRUE(got == want) << what << ": got " << Show(got) << ", want " << Show(want);
}

// --- IsNumeric and CDbl ---

struct NumericRow {
  Variant value;
  bool numeric;
  double dbl;  // when numeric
  int error;   // CDbl's error when not
};

TEST(ValueRules, IsNumericAndCDbl) {
  const NumericRow rows[] = {
      {u"53", true, 53, 0},
      {u"45 Help", false, 0, 13},
      {u"(5)", true, -5, 0},
      {u"$1,234.50", true, 1234.5, 0},
      {u"&H1F", true, 31, 0},
      {u"&HFFFF", true, -1, 0},  // recorded choice: 16-bit pattern
      {u"", false, 0, 13},
      {u"1e309", true, 0, 6},        // reads as a number, too large for CDbl
      {u"1e-94938484", true, 0, 0},  // underflow is silent
      {Variant(), true, 0, 0},
      {Variant::Null(), false, 0, 94},
      {true, true, -1, 0},
      {L{-70000}, true, -70000, 0},
      {2.5f, true, 2.5, 0},
      {Date{45296.5}, false, 45296.5, 0},
      {Obj(u"42"), true, 42, 0},
      {Obj(u"x"), false, 0, 13},
      {Obj(Date{1}), false, 1, 0},
  };
  for (const auto& row : rows) {
    const std::string what = Show(row.value);
    EXPECT_EQ(IsNumeric(row.value), row.numeric) << what;
    const int expected_error = row.error;
    double got = 0;
    EXPECT_EQ(ErrorOf([&] { got = CDbl(row.value); }), expected_error) << what;
    if (expected_error == 0) {
      EXPECT_EQ(got, row.dbl) << what;
    }
  }
}

TEST(ValueRules, IsDate) {
  EXPECT_TRUE(IsDate(Date{45296}));
  EXPECT_TRUE(IsDate(Obj(Date{0})));
  EXPECT_FALSE(IsDate(45296.0));
  EXPECT_FALSE(IsDate(L{1}));
  EXPECT_FALSE(IsDate(Variant()));
  EXPECT_FALSE(IsDate(Variant::Null()));
  EXPECT_FALSE(IsDate(u"no date"));
  // Text goes to ParseDateText (another module); just call through.
  EXPECT_EQ(IsDate(u"1/5/2024"), ParseDateText(u"1/5/2024").has_value());
}

// --- CLng / CInt / CSng ---

struct WholeRow {
  Variant value;
  double want;  // the rounded result
  int error;
};

TEST(ValueRules, CLngRoundsHalvesToEvenThenChecksRange) {
  const WholeRow rows[] = {
      {2.5, 2, 0},
      {-2.5, -2, 0},
      {u"-0.6", -1, 0},
      {u"2147483648", 0, 6},
      {u"-2147483648", -2147483648.0, 0},
      {2147483647.5, 0, 6},
      {2147483647.4, 2147483647, 0},
      {-2147483648.5, -2147483648.0, 0},
      {u"abc", 0, 13},
      {Variant::Null(), 0, 94},
      {Variant(), 0, 0},
      {true, -1, 0},
      {Date{45296.75}, 45297, 0},
      {u"&HFFFF", -1, 0},
      {u"&H10000", 65536, 0},
      {Obj(2.5), 2, 0},
      {u"1e309", 0, 6},
  };
  for (const auto& row : rows) {
    L got = 0;
    EXPECT_EQ(ErrorOf([&] { got = CLng(row.value); }), row.error) << Show(row.value);
    if (row.error == 0) {
      EXPECT_EQ(got, row.want) << Show(row.value);
    }
  }
}

TEST(ValueRules, CIntRoundsHalvesToEvenThenChecksRange) {
  const WholeRow rows[] = {
      {0.5, 0, 0},           {2.5, 2, 0},     {32767.4, 32767, 0},      {32767.5, 0, 6},
      {-32768.5, -32768, 0}, {-32769, 0, 6},  {L{40000}, 0, 6},         {u"40000", 0, 6},
      {u" 12 ", 12, 0},      {u"Yes", 0, 13}, {Variant::Null(), 0, 94}, {I{-32768}, -32768, 0},
  };
  for (const auto& row : rows) {
    I got = 0;
    EXPECT_EQ(ErrorOf([&] { got = CInt(row.value); }), row.error) << Show(row.value);
    if (row.error == 0) {
      EXPECT_EQ(got, row.want) << Show(row.value);
    }
  }
}

TEST(ValueRules, CSng) {
  EXPECT_EQ(CSng(75.3421115), 75.3421115f);
  EXPECT_EQ(CStr(CSng(75.3421115)), u"75.34211");
  EXPECT_EQ(CSng(u"1.5"), 1.5f);
  EXPECT_EQ(CSng(static_cast<double>(FLT_MAX)), FLT_MAX);
  EXPECT_EQ(ErrorOf([] { CSng(1e39); }), 6);
  EXPECT_EQ(ErrorOf([] { CSng(-1e39); }), 6);
  EXPECT_EQ(ErrorOf([] { CSng(u"1e39"); }), 6);
  EXPECT_EQ(ErrorOf([] { CSng(u"x"); }), 13);
  EXPECT_EQ(ErrorOf([] { CSng(Variant::Null()); }), 94);
  EXPECT_EQ(CSng(1e-50), 0.0f);  // underflow is silent
}

// --- CBool ---

struct BoolRow {
  Variant value;
  bool want;
  int error;
};

TEST(ValueRules, CBool) {
  const BoolRow rows[] = {
      {u"tRuE", true, 0},     {u"fAlSe", false, 0},         {u"#TRUE#", true, 0},
      {u"#FALSE#", false, 0}, {u"#true#", false, 13},       {u"0.1", true, 0},
      {u"0", false, 0},       {u"Yes", false, 13},          {u"", false, 13},
      {Variant(), false, 0},  {Variant::Null(), false, 94}, {L{5}, true, 0},
      {0.0f, false, 0},       {Date{0}, false, 0},          {Obj(u"True"), true, 0},
  };
  for (const auto& row : rows) {
    bool got = false;
    EXPECT_EQ(ErrorOf([&] { got = CBool(row.value); }), row.error) << Show(row.value);
    if (row.error == 0) {
      EXPECT_EQ(got, row.want) << Show(row.value);
    }
  }
}

// --- CDate ---

TEST(ValueRules, CDateOfNumbersChecksTheRange) {
  EXPECT_EQ(CDate(45296.5).serial, 45296.5);
  EXPECT_EQ(CDate(true).serial, -1);
  EXPECT_EQ(CDate(Variant()).serial, 0);
  EXPECT_EQ(CDate(L{2958465}).serial, 2958465);
  EXPECT_EQ(CDate(-657434.0).serial, -657434);
  EXPECT_EQ(CDate(-657434.5).serial, -657434.5);  // 1/1/100 12:00 PM
  EXPECT_EQ(CDate(Date{12}).serial, 12);
  EXPECT_EQ(ErrorOf([] { CDate(2958466.0); }), 6);
  EXPECT_EQ(ErrorOf([] { CDate(-657435.0); }), 6);
  EXPECT_EQ(ErrorOf([] { CDate(1e300); }), 6);
  EXPECT_EQ(ErrorOf([] { CDate(Variant::Null()); }), 94);
  // Text goes to ParseDateText (another module): no date -> 13.
  EXPECT_EQ(ErrorOf([] { CDate(u"no date at all"); }), 13);
}

// --- CStr ---

struct TextRow {
  Variant value;
  const char16_t* text;
};

TEST(ValueRules, CStr) {
  const TextRow rows[] = {
      {I{-42}, u"-42"},
      {I{-32768}, u"-32768"},
      {L{-2147483647 - 1}, u"-2147483648"},
      {3.141592653589793, u"3.14159265358979"},
      {1E+15, u"1E+15"},
      {654322.23456f, u"654322.3"},
      {-0.0, u"0"},
      {true, u"True"},
      {Variant(), u""},
      {Obj(L{12}), u"12"},
  };
  for (const auto& row : rows) EXPECT_EQ(CStr(row.value), row.text) << Show(row.value);
  EXPECT_EQ(ErrorOf([] { CStr(Variant::Null()); }), 94);
  // Dates are written by GeneralDateText (another module).
  EXPECT_EQ(CStr(Date{45296.5}), GeneralDateText(45296.5));
}

TEST(ValueRules, ConvertByTypeWord) {
  ExpectSame(ConvertByTypeWord(u"String", L{5}), u"5", "String");
  ExpectSame(ConvertByTypeWord(u"Integer", 2.5), I{2}, "Integer");
  ExpectSame(ConvertByTypeWord(u"Long", u"70000"), L{70000}, "Long");
  ExpectSame(ConvertByTypeWord(u"Single", u"1.5"), 1.5f, "Single");
  ExpectSame(ConvertByTypeWord(u"Double", I{3}), 3.0, "Double");
  ExpectSame(ConvertByTypeWord(u"Boolean", u"true"), true, "Boolean");
  ExpectSame(ConvertByTypeWord(u"Date", 2.5), Date{2.5}, "Date");
  // Exact, case-sensitive words; any other word leaves the value alone.
  ExpectSame(ConvertByTypeWord(u"long", u"7"), u"7", "long");
  ExpectSame(ConvertByTypeWord(u"Currency", 2.5), 2.5, "Currency");
  ExpectSame(ConvertByTypeWord(u"", Variant::Null()), Variant::Null(), "empty word");
  EXPECT_EQ(ErrorOf([] { ConvertByTypeWord(u"Integer", u"x"); }), 13);
}

// --- Arithmetic ---

using BinaryOp = Variant (*)(const Variant&, const Variant&);

struct ArithRow {
  const char* op;
  Variant l, r;
  Variant want;  // kind and value
  int error;
};

BinaryOp OpOf(std::string_view op) {
  if (op == "+") return &Add;
  if (op == "-") return &Subtract;
  if (op == "*") return &Multiply;
  if (op == "/") return &Divide;
  return &IntDivide;
}

TEST(ValueRules, ArithmeticResultKinds) {
  const Variant E;
  const Variant N = Variant::Null();
  const ArithRow rows[] = {
      // + with widening
      {"+", I{32767}, I{1}, L{32768}, 0},
      {"+", L{2147483647}, L{1}, 2147483648.0, 0},
      {"+", 3.0e38f, 3.0e38f, static_cast<double>(3.0e38f) * 2, 0},
      {"+", 1.5f, I{1}, 2.5f, 0},
      {"+", 1.5f, L{1}, 2.5, 0},  // Long with Single -> Double
      {"+", 1.5f, 1.0, 2.5, 0},
      {"+", DBL_MAX, DBL_MAX, E, 6},
      {"+", true, true, I{-2}, 0},
      {"+", E, E, I{0}, 0},
      {"+", E, L{5}, L{5}, 0},
      {"+", E, u"ab", u"ab", 0},
      // + with texts
      {"+", u"1", u"2", u"12", 0},
      {"+", u"12", L{4}, 16.0, 0},
      {"+", u"ab", I{1}, E, 13},
      {"+", u"1e309", I{1}, E, 6},
      {"+", true, u"1", 0.0, 0},
      // + with dates
      {"+", Date{45296}, I{1}, Date{45297}, 0},
      {"+", Date{45296}, 0.5, Date{45296.5}, 0},
      {"+", Date{2958465}, I{1}, 2958466.0, 0},  // out of the date range -> Double
      {"+", Date{1}, Date{2}, Date{3}, 0},
      {"+", Date{1}, u"2", Date{3}, 0},
      // Null
      {"+", N, I{1}, N, 0},
      {"*", I{1}, N, N, 0},
      {"/", N, I{0}, N, 0},
      // -
      {"-", I{-32768}, I{1}, L{-32769}, 0},
      {"-", L{-2147483647 - 1}, L{1}, -2147483649.0, 0},
      {"-", u"5", u"2", 3.0, 0},
      {"-", u"ab", I{1}, E, 13},
      {"-", Date{45297}, Date{45296}, 1.0, 0},
      {"-", Date{45297}, I{1}, Date{45296}, 0},
      {"-", E, E, I{0}, 0},
      // *
      {"*", I{32767}, I{32767}, L{1073676289}, 0},
      {"*", L{65536}, L{65536}, 4294967296.0, 0},
      {"*", Date{2.25}, I{7}, 15.75, 0},
      {"*", u"12", I{4}, 48.0, 0},
      {"*", 2.0f, L{3}, 6.0, 0},
      {"*", 2.0f, I{3}, 6.0f, 0},
      {"*", 1e200, 1e200, E, 6},
      {"*", u"x", I{3}, E, 13},
      // /
      {"/", I{7}, I{2}, 3.5f, 0},
      {"/", true, I{2}, -0.5f, 0},
      {"/", E, I{2}, 0.0f, 0},
      {"/", L{7}, L{2}, 3.5, 0},
      {"/", 7.0f, L{2}, 3.5, 0},
      {"/", 3.0e38f, 0.5f, static_cast<double>(3.0e38f) * 2, 0},  // Single overflow -> Double
      {"/", I{1}, I{0}, E, 11},
      {"/", I{0}, I{0}, E, 6},
      {"/", E, 0.0, E, 6},
      {"/", 1e300, 1e-300, E, 6},
      // backslash
      {"\\", L{7}, L{2}, L{3}, 0},
      {"\\", I{-7}, I{2}, I{-3}, 0},
      {"\\", 7.5, I{2}, L{4}, 0},  // 7.5 -> 8
      {"\\", 6.5, I{2}, L{3}, 0},  // 6.5 -> 6
      {"\\", I{-32768}, I{-1}, L{32768}, 0},
      {"\\", L{-2147483647 - 1}, L{-1}, 2147483648.0, 0},
      {"\\", I{1}, I{0}, E, 11},
      {"\\", I{1}, 0.4, E, 11},  // the divisor rounds to 0
      {"\\", 3e9, I{1}, E, 6},
  };
  for (const auto& row : rows) {
    const std::string what = Show(row.l) + " " + row.op + " " + Show(row.r);
    Variant got;
    const int error = ErrorOf([&] { got = OpOf(row.op)(row.l, row.r); });
    EXPECT_EQ(error, row.error) << what;
    if (row.error == 0 && error == 0) {
      ExpectSame(got, row.want, what);
    }
  }
}

TEST(ValueRules, ObjectsAreReadThroughTheirDefaultMember) {
  ExpectSame(Add(Obj(I{2}), I{3}), I{5}, "obj + 3");
  ExpectSame(Add(Obj(u"a"), u"b"), u"ab", "obj + text");
  EXPECT_EQ(Compare(Obj(L{5}), L{5}), 0);
  EXPECT_TRUE(EqualsZero(Obj(u"0")));
}

// --- Compare ---

struct CompareRow {
  Variant l, r;
  std::optional<int> sign;  // -1, 0, 1 or Null
  int error;
};

TEST(ValueRules, Compare) {
  const Variant E;
  const Variant N = Variant::Null();
  const CompareRow rows[] = {
      {L{5}, u"5", -1, 0},  // a number is always less than a text
      {u"0", I{0}, 1, 0},
      {Date{45296}, u"1/5/2024", -1, 0},
      {true, u"True", -1, 0},
      {u"a", u"B", 1, 0},  // binary: "B" (66) < "a" (97)
      {u"a", u"ab", -1, 0},
      {u"", u"a", -1, 0},
      {u"z", u"\u00c0", -1, 0},
      {u"\uffff", u"\U00010000", 1, 0},  // code units, not code points
      {E, u"", 0, 0},
      {E, u"a", -1, 0},
      {E, I{0}, 0, 0},
      {E, L{-1}, 1, 0},
      {E, E, 0, 0},
      {I{1}, L{2}, -1, 0},
      {true, I{-1}, 0, 0},
      {Date{45296}, L{45296}, 0, 0},
      {Date{45296.5}, L{45296}, 1, 0},
      {0.1f, 0.1, 0, 0},  // the Double is rounded to Single first
      {static_cast<double>(0.1f), 0.1, 1, 0},
      {1.0f, 1e300, -1, 0},
      {N, I{1}, std::nullopt, 0},
      {E, N, std::nullopt, 0},
  };
  for (const auto& row : rows) {
    const std::string what = Show(row.l) + " vs " + Show(row.r);
    std::optional<int> got;
    EXPECT_EQ(ErrorOf([&] { got = Compare(row.l, row.r); }), row.error) << what;
    ASSERT_EQ(got.has_value(), row.sign.has_value()) << what;
    if (got) {
      EXPECT_EQ((*got > 0) - (*got < 0), *row.sign) << what;
    }
  }
}

// --- EqualsZero ---

TEST(ValueRules, EqualsZero) {
  // Recorded choice: a text that reads as a number equal to 0 is zero.
  const Variant zero[] = {I{0}, L{0},   0.0f,   0.0,   -0.0,   Date{0}, false, Variant(),
                          u"0", u" 0 ", u"0.0", u"-0", u"&H0", u"0e5",  u"(0)"};
  for (const auto& v : zero) EXPECT_TRUE(EqualsZero(v)) << Show(v);
  const Variant nonzero[] = {I{1}, L{-1},  0.5f,   1e-300,  Date{1},        true,
                             u"",  u"abc", u"0.1", u"1e-5", Variant::Null()};
  for (const auto& v : nonzero) EXPECT_FALSE(EqualsZero(v)) << Show(v);
}

}  // namespace
}  // namespace tarn::detail
