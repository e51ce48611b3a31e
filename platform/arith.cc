// Placeholder: replaced by the platform's operator rules.
#include "platform/arith.h"

#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::detail {

namespace {
bool BothStrings(const Variant& l, const Variant& r) { return l.is_string() && r.is_string(); }
}  // namespace

Variant Add(const Variant& l, const Variant& r) {
  if (BothStrings(l, r)) return l.string() + r.string();
  return CDbl(l) + CDbl(r);
}
Variant Subtract(const Variant& l, const Variant& r) { return CDbl(l) - CDbl(r); }
Variant Multiply(const Variant& l, const Variant& r) { return CDbl(l) * CDbl(r); }
Variant Divide(const Variant& l, const Variant& r) {
  if (CDbl(r) == 0) Raise(err::kDivisionByZero);
  return CDbl(l) / CDbl(r);
}
Variant IntDivide(const Variant& l, const Variant& r) {
  if (CLng(r) == 0) Raise(err::kDivisionByZero);
  return CLng(l) / CLng(r);
}

std::optional<int> Compare(const Variant& l, const Variant& r) {
  if (l.is_null() || r.is_null()) return std::nullopt;
  if (BothStrings(l, r)) return l.string().compare(r.string());
  double a = CDbl(l), b = CDbl(r);
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool EqualsZero(const Variant& v) { return IsNumeric(v) && CDbl(v) == 0; }

}  // namespace tarn::detail
