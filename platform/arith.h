// Arithmetic and comparison on variant values with the platform's result
// kinds: Integer results that overflow widen to Long, Long and Single ones to
// Double; Booleans count as Integers; Empty counts as 0 (or "" beside text).
#pragma once

#include <cmath>
#include <optional>

#include "tarn/value.h"

namespace tarn::detail {

// Whether a number rounds to a finite Single.
inline bool FitsSingle(double d) noexcept { return std::fabs(d) < 0x1.ffffffp127; }

// Halves to the even neighbour, whatever the floating-point rounding mode.
inline double RoundHalfEven(double d) noexcept {
  double r = std::round(d);  // halves away from zero
  if (std::fabs(d - std::trunc(d)) == 0.5) r = 2.0 * std::round(d / 2.0);
  return r;
}

Variant Add(const Variant& l, const Variant& r);       // two texts are joined
Variant Subtract(const Variant& l, const Variant& r);  // Date - Date gives days
Variant Multiply(const Variant& l, const Variant& r);
Variant Divide(const Variant& l, const Variant& r);     // Single or Double
Variant IntDivide(const Variant& l, const Variant& r);  // rounds first; Integer or Long

// <0, 0 or >0; nullopt when either side is Null. Texts compare by character
// codes; a number (Boolean, Date) compared with a text is the smaller.
std::optional<int> Compare(const Variant& l, const Variant& r);

// Whether the value equals the number 0 (texts that read as 0 included).
bool EqualsZero(const Variant& v);

}  // namespace tarn::detail
