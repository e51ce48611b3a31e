// Arithmetic and comparison on two loaded values (reference section 6, with
// the system's rules where they differ).
//
// Each operator first picks the result kind from the operand kinds (the
// reference's 6.1 table: Empty and Boolean count as Integer, Long with Single
// gives Double, a Date operand gives Date, text beside a number gives
// Double), then computes in a wider type and narrows: an Integer result that
// does not fit becomes Long, a Long or Single one becomes Double, a Date one
// outside the date range becomes Double, and a Double overflow is error 6.
// "/" gives Single for two Integer/Boolean/Empty/Single operands (Double if
// the Single would overflow) and Double otherwise. Null in gives Null out.
// Text operands of "-", "*", "/", "\" and of "+" beside a number are read as
// numbers (error 13 when they are none).
#include "platform/arith.h"

#include <cmath>
#include <cstdint>

#include "platform/date.h"
#include "platform/number_text.h"
#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {

// Operand kinds as the operators see them.
enum class Cat : std::uint8_t { Empty, Boolean, Integer, Long, Single, Double, Date, String, Null };

// A loaded operand: objects are replaced by their default member's value.
struct Operand {
  Variant holder;
  const Variant* v;
  Cat cat;

  explicit Operand(const Variant& x) : v(&x) {
    if (x.is_object()) {
      holder = DefaultValue(x);
      v = &holder;
    }
    cat = CatOf(*v);
  }

  static Cat CatOf(const Variant& x) {
    switch (x.kind()) {
      case Kind::Empty: return Cat::Empty;
      case Kind::Null: return Cat::Null;
      case Kind::Boolean: return Cat::Boolean;
      case Kind::Integer: return Cat::Integer;
      case Kind::Long: return Cat::Long;
      case Kind::Single: return Cat::Single;
      case Kind::Double: return Cat::Double;
      case Kind::Date: return Cat::Date;
      case Kind::String: return Cat::String;
      default: Raise(err::kTypeMismatch);
    }
  }

  bool IntegerLike() const { return cat <= Cat::Integer; }  // Empty, Boolean, Integer
  bool is_text() const { return cat == Cat::String; }

  // The value as a number; text through the number parser.
  double Number() const {
    switch (cat) {
      case Cat::Empty: return 0;
      case Cat::Boolean: return v->boolean() ? -1 : 0;
      case Cat::Integer: return v->integer();
      case Cat::Long: return v->long_value();
      case Cat::Single: return v->single();
      case Cat::Double: return v->double_value();
      case Cat::Date: return v->date().serial;
      case Cat::String: {
        auto d = ParseNumber(v->string());
        if (!d) Raise(err::kTypeMismatch);
        if (std::isinf(*d)) Raise(err::kOverflow);
        return *d;
      }
      case Cat::Null: break;
    }
    Raise(err::kInvalidUseOfNull);
  }

  // Whole value of an Integer-like or Long operand.
  std::int64_t Whole() const {
    switch (cat) {
      case Cat::Boolean: return v->boolean() ? -1 : 0;
      case Cat::Integer: return v->integer();
      case Cat::Long: return v->long_value();
      default: return 0;
    }
  }
};

enum class Op : std::uint8_t { Add, Subtract, Multiply };

// Result kind of two numbers (Empty, Boolean, Integer, Long, Single, Double).
Cat NumericResult(Cat a, Cat b) {
  auto rank = [](Cat c) { return c <= Cat::Integer ? Cat::Integer : c; };
  a = rank(a);
  b = rank(b);
  if ((a == Cat::Long && b == Cat::Single) || (a == Cat::Single && b == Cat::Long))
    return Cat::Double;
  return a > b ? a : b;
}

template <class T>
T Apply(Op op, T a, T b) {
  switch (op) {
    case Op::Add: return a + b;
    case Op::Subtract: return a - b;
    case Op::Multiply: return a * b;
  }
  return a;
}

Variant DoubleResult(double d) {
  if (!std::isfinite(d)) Raise(err::kOverflow);
  return d;
}

Variant SingleResult(double d) {
  if (FitsSingle(d)) return static_cast<float>(d);
  return DoubleResult(d);
}

Variant WholeResult(std::int64_t w, Cat cat) {
  if (cat == Cat::Integer && w >= INT16_MIN && w <= INT16_MAX) return static_cast<std::int16_t>(w);
  if (w >= INT32_MIN && w <= INT32_MAX) return static_cast<std::int32_t>(w);
  return static_cast<double>(w);
}

// Computes `op` with the result kind `cat` and narrows or widens the result.
Variant Compute(Op op, Cat cat, const Operand& l, const Operand& r) {
  switch (cat) {
    case Cat::Integer:
    case Cat::Long: return WholeResult(Apply(op, l.Whole(), r.Whole()), cat);
    case Cat::Single: return SingleResult(Apply(op, l.Number(), r.Number()));
    case Cat::Date: {
      double d = Apply(op, l.Number(), r.Number());
      if (InDateRange(d)) return Date{d};
      return DoubleResult(d);
    }
    default: return DoubleResult(Apply(op, l.Number(), r.Number()));
  }
}

// Compares two numbers; a Single beside a Double compares at Single
// precision.
int CompareNumbers(const Operand& l, const Operand& r) {
  double a = l.Number(), b = r.Number();
  auto to_single = [](double d) {
    if (FitsSingle(d)) return static_cast<double>(static_cast<float>(d));
    return d < 0 ? -HUGE_VAL : HUGE_VAL;
  };
  if (l.cat == Cat::Single && r.cat == Cat::Double) b = to_single(b);
  if (l.cat == Cat::Double && r.cat == Cat::Single) a = to_single(a);
  return a < b ? -1 : (a > b ? 1 : 0);
}

int CompareTexts(std::u16string_view a, std::u16string_view b) {
  int c = a.compare(b);  // char16_t compares as unsigned code units
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

// +: texts join; text beside a number is read as a number (Double); a Date
// operand gives a Date.
// Two Longs, the usual case: the sum as a Long, or a Double beyond it.
template <class F>
bool BothLong(const Variant& a, const Variant& b, F op, Variant& out) {
  if (a.kind() != Kind::Long || b.kind() != Kind::Long) return false;
  const std::int64_t w = op(std::int64_t{a.long_value()}, std::int64_t{b.long_value()});
  out = WholeResult(w, Cat::Long);
  return true;
}

Variant Add(const Variant& lv, const Variant& rv) {
  if (Variant out; BothLong(
          lv, rv, [](std::int64_t a, std::int64_t b) { return a + b; }, out))
    return out;
  Operand l(lv), r(rv);
  if (l.cat == Cat::Null || r.cat == Cat::Null) return Variant::Null();
  if (l.is_text() && r.is_text()) return l.v->string() + r.v->string();
  if (l.is_text() && r.cat == Cat::Empty) return *l.v;
  if (r.is_text() && l.cat == Cat::Empty) return *r.v;
  Cat cat = l.cat == Cat::Date || r.cat == Cat::Date ? Cat::Date
            : l.is_text() || r.is_text()             ? Cat::Double
                                                     : NumericResult(l.cat, r.cat);
  return Compute(Op::Add, cat, l, r);
}

// -: as +, but texts never join (Double); Date - Date is a Double day count.
Variant Subtract(const Variant& lv, const Variant& rv) {
  if (Variant out; BothLong(
          lv, rv, [](std::int64_t a, std::int64_t b) { return a - b; }, out))
    return out;
  Operand l(lv), r(rv);
  if (l.cat == Cat::Null || r.cat == Cat::Null) return Variant::Null();
  Cat cat;
  if (l.cat == Cat::Date && r.cat == Cat::Date) {
    cat = Cat::Double;
  } else if (l.cat == Cat::Date || r.cat == Cat::Date) {
    cat = Cat::Date;
  } else if (l.is_text() || r.is_text()) {
    cat = Cat::Double;
  } else {
    cat = NumericResult(l.cat, r.cat);
  }
  return Compute(Op::Subtract, cat, l, r);
}

// *: a Date or text operand gives Double.
Variant Multiply(const Variant& lv, const Variant& rv) {
  if (Variant out; BothLong(
          lv, rv, [](std::int64_t a, std::int64_t b) { return a * b; }, out))
    return out;
  Operand l(lv), r(rv);
  if (l.cat == Cat::Null || r.cat == Cat::Null) return Variant::Null();
  Cat cat = l.cat >= Cat::Date || r.cat >= Cat::Date ? Cat::Double : NumericResult(l.cat, r.cat);
  return Compute(Op::Multiply, cat, l, r);
}

// /: Single for Integer-like or Single operands, else Double. x/0 is error
// 11, 0/0 error 6.
Variant Divide(const Variant& lv, const Variant& rv) {
  Operand l(lv), r(rv);
  if (l.cat == Cat::Null || r.cat == Cat::Null) return Variant::Null();
  const double a = l.Number(), b = r.Number();
  if (b == 0) Raise(a == 0 ? err::kOverflow : err::kDivisionByZero);
  const bool single =
      (l.IntegerLike() || l.cat == Cat::Single) && (r.IntegerLike() || r.cat == Cat::Single);
  return single ? SingleResult(a / b) : DoubleResult(a / b);
}

// \: both rounded to whole numbers (halves to even), quotient truncated;
// Integer for two Integer-like operands, else Long.
Variant IntDivide(const Variant& lv, const Variant& rv) {
  Operand l(lv), r(rv);
  if (l.cat == Cat::Null || r.cat == Cat::Null) return Variant::Null();
  auto whole = [](const Operand& o) {
    double d = RoundHalfEven(o.Number());
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) Raise(err::kOverflow);
    return static_cast<std::int64_t>(d);
  };
  const std::int64_t a = whole(l), b = whole(r);
  if (b == 0) Raise(err::kDivisionByZero);
  const Cat cat = l.IntegerLike() && r.IntegerLike() ? Cat::Integer : Cat::Long;
  return WholeResult(a / b, cat);
}

std::optional<int> Compare(const Variant& lv, const Variant& rv) {
  Operand l(lv), r(rv);
  if (l.cat == Cat::Null || r.cat == Cat::Null) return std::nullopt;
  if (l.is_text() && r.is_text()) return CompareTexts(l.v->string(), r.v->string());
  if (l.is_text()) return r.cat == Cat::Empty ? CompareTexts(l.v->string(), u""sv) : 1;
  if (r.is_text()) return l.cat == Cat::Empty ? CompareTexts(u""sv, r.v->string()) : -1;
  return CompareNumbers(l, r);
}

bool EqualsZero(const Variant& v) {
  Operand o(v);
  switch (o.cat) {
    case Cat::Null: return false;
    case Cat::String: {
      auto d = ParseNumber(o.v->string());
      return d && *d == 0;
    }
    default: return o.Number() == 0;
  }
}

}  // namespace tarn::detail
