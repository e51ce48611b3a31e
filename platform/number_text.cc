// Numbers as text: the platform's number parser and number writer.
//
// ParseNumber matches the whole text against the parser shape (reference
// 2.1) in one pass over the characters, copying the significant digits into a
// fixed buffer; the value then comes from an exact small-number path or from
// std::from_chars (correctly rounded, locale-free, no allocation).
//   number  -> ws [prefix ws] mantissa [exponent] [ws suffix] ws
//   prefix  -> ["$" ws] opening | opening [ws "$"] | "$"
//   opening -> "+" | "-" | "("
//   mantissa-> digit {digit | ","} ["." {digit}] | "." digit {digit}
//   exponent-> ("e" | "E") ["+" | "-"] digit {digit}
//   suffix  -> ["$" ws] closing | closing [ws "$"] | "$"
//   closing -> "+" | "-" (no prefix sign) | ")" (prefix "(", required)
//   or ws "&" ("H" | "h") hex {hex} ws | ws "&" ("O" | "o") oct {oct} ws
// The currency sign stands at most once in the whole text ("$-5", "5$-").
// &H/&O values keep their bit pattern: up to 16 bits read as a signed 16-bit
// number ("&HFFFF" is -1), up to 32 bits as a signed 32-bit number, more is
// an overflow (+infinity).
//
// DoubleToText / SingleToText round to 15 / 7 significant digits, halves
// away from zero, and write fixed form when it needs at most that many digit
// positions (integer digits for large values, leading zeros plus significant
// digits after the point for small ones); otherwise exponent form
// "d.dddE+XX".
#include "platform/number_text.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tarn::detail {

namespace {

// Parsing ---

constexpr bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
constexpr bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

constexpr int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Significant digits kept; later ones only matter as a "sticky" non-zero.
constexpr int kMaxDigits = 40;
constexpr int kExponentClamp = 100000;

// A scanned decimal: digits (no leading zeros) and the power of ten of the
// digit after the last kept one, i.e. value = 0.d1d2...dn * 10^point.
struct Decimal {
  char digits[kMaxDigits + 2];
  int count = 0;
  int point = 0;  // decimal exponent: value = 0.digits * 10^point
  bool sticky = false;

  void Add(char16_t c, bool integer_part) {
    if (count == 0 && c == u'0') {
      if (!integer_part) --point;  // leading zero after the point
      return;
    }
    if (count < kMaxDigits) {
      digits[count++] = static_cast<char>(c);
    } else if (c != u'0') {
      sticky = true;
    }
    if (integer_part) ++point;
  }
};

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

double DecimalValue(const Decimal& d) {
  if (d.count == 0) return 0;
  // Exact path: at most 15 digits and a power of ten that is exact.
  int scale = d.point - d.count;  // value = digits-as-integer * 10^scale
  if (d.count <= 15 && !d.sticky && scale >= -22 && scale <= 22) {
    std::uint64_t m = 0;
    for (int i = 0; i < d.count; ++i) m = m * 10 + static_cast<unsigned>(d.digits[i] - '0');
    double v = static_cast<double>(m);
    return scale < 0 ? v / kPow10[-scale] : v * kPow10[scale];
  }
  if (d.point > 400) return HUGE_VAL;
  if (d.point < -400) return 0;
  // "0.<digits>[1]e<point>"
  char text[kMaxDigits + 20];
  int t = 0;
  text[t++] = '0';
  text[t++] = '.';
  std::memcpy(text + t, d.digits, static_cast<std::size_t>(d.count));
  t += d.count;
  if (d.sticky) text[t++] = '1';
  text[t++] = 'e';
  auto r = std::to_chars(text + t, text + sizeof text, d.point);
  t = static_cast<int>(r.ptr - text);
  double v = 0;
  auto res = std::from_chars(text, text + t, v);
  if (res.ec == std::errc::result_out_of_range) return d.point > 0 ? HUGE_VAL : 0.0;
  return v;
}

// "&H..." / "&O..." after the "&"; `p` points at the letter.
std::optional<double> ParseRadix(std::u16string_view s, std::size_t p) {
  const bool hex = s[p] == u'H' || s[p] == u'h';
  if (!hex && s[p] != u'O' && s[p] != u'o') return std::nullopt;
  ++p;
  std::uint64_t v = 0;
  bool any = false, too_big = false;
  for (; p < s.size(); ++p) {
    int d = HexValue(s[p]);
    if (d < 0 || (!hex && d > 7)) break;
    any = true;
    if (too_big) continue;
    v = hex ? (v << 4) | static_cast<unsigned>(d) : (v << 3) | static_cast<unsigned>(d);
    too_big = v > 0xFFFFFFFFu;
  }
  while (p < s.size() && IsBlank(s[p])) ++p;
  if (!any || p != s.size()) return std::nullopt;
  if (too_big) return HUGE_VAL;
  if (v <= 0xFFFF)
    return static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(v)));
  return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
}

}  // namespace

std::optional<double> ParseNumber(std::u16string_view s) {
  const std::size_t n = s.size();
  // A number starts with a blank, a sign, "(", "$", "&", "." or a digit.
  if (n > 0 && ((s[0] | 0x20) >= u'a' && (s[0] | 0x20) <= u'z')) return std::nullopt;
  if (n > 0 && n <= 9) {  // plain digits, the common case, are exact as they are
    std::int32_t v = 0;
    std::size_t i = 0;
    for (; i < n && IsDigit(s[i]); ++i) v = v * 10 + (s[i] - u'0');
    if (i == n) return static_cast<double>(v);
  }
  std::size_t p = 0;
  while (p < n && IsBlank(s[p])) ++p;
  if (p == n) return std::nullopt;
  if (s[p] == u'&') {
    if (p + 1 >= n) return std::nullopt;
    return ParseRadix(s, p + 1);
  }

  bool currency = false;
  auto read_currency = [&] {
    if (currency || p >= n || s[p] != u'$') return;
    currency = true;
    ++p;
    while (p < n && IsBlank(s[p])) ++p;
  };

  // Prefix.
  bool negative = false, sign = false, paren = false;
  read_currency();
  switch (p < n ? s[p] : u'\0') {
    case u'-': negative = true; [[fallthrough]];
    case u'+':
      sign = true;
      ++p;
      break;
    case u'(':
      paren = negative = true;
      ++p;
      break;
    default: break;
  }
  while (p < n && IsBlank(s[p])) ++p;
  if (sign || paren) read_currency();

  // Mantissa.
  Decimal d;
  bool any_digit = false;
  if (p < n && IsDigit(s[p])) {
    any_digit = true;
    for (; p < n && (IsDigit(s[p]) || s[p] == u','); ++p)
      if (s[p] != u',') d.Add(s[p], true);
  }
  if (p < n && s[p] == u'.') {
    ++p;
    for (; p < n && IsDigit(s[p]); ++p) {
      any_digit = true;
      d.Add(s[p], false);
    }
  }
  if (!any_digit) return std::nullopt;

  // Exponent.
  if (p < n && (s[p] == u'e' || s[p] == u'E')) {
    ++p;
    bool exp_negative = false;
    if (p < n && (s[p] == u'+' || s[p] == u'-')) exp_negative = s[p++] == u'-';
    if (p >= n || !IsDigit(s[p])) return std::nullopt;
    int e = 0;
    for (; p < n && IsDigit(s[p]); ++p)
      if (e < kExponentClamp) e = e * 10 + (s[p] - u'0');
    d.point += exp_negative ? -e : e;
  }

  // Suffix.
  while (p < n && IsBlank(s[p])) ++p;
  read_currency();
  bool closing = false;
  if (paren) {
    if (p >= n || s[p] != u')') return std::nullopt;
    ++p;
    closing = true;
  } else if (!sign && p < n && (s[p] == u'+' || s[p] == u'-')) {
    negative = s[p++] == u'-';
    closing = true;
  }
  while (p < n && IsBlank(s[p])) ++p;
  if (closing) read_currency();
  if (p != n) return std::nullopt;

  double v = DecimalValue(d);
  if (v == 0) return 0.0;
  return negative ? -v : v;
}

// Writing ---

namespace {

// Copies the significant digits of a scientific-form text to `digits` (at
// most `max`); returns their count and sets `exp10`.
int ScanScientific(const char* text, const char* end, char* digits, int max, int& exp10) {
  const char* e =
      static_cast<const char*>(std::memchr(text, 'e', static_cast<std::size_t>(end - text)));
  int count = 0;
  for (const char* q = text; q < e && count < max; ++q)
    if (*q != '.') digits[count++] = *q;
  std::from_chars(e + 1 + (e[1] == '+'), end, exp10);
  return count;
}

// The significant digits of |v| (> 0) rounded half away from zero to
// `precision` digits; returns the digit count (trailing zeros dropped) and
// sets `exp10` to the decimal exponent of the first digit.
int RoundedDigits(double v, int precision, char* digits, int& exp10) {
  char buf[64];
  int count = precision + 1;
  if (precision >= 15 && v >= DBL_MIN) {
    // Shortest round-trip form first: when it has at most 15 digits it is
    // the 15-digit rounding (a normal double's half ulp is far below half a
    // step of 15 digits). Not so for subnormals, nor for Singles at 7 digits.
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    count = ScanScientific(buf, r.ptr, digits, 40, exp10);
  }
  if (count > precision) {
    // Two more digits (correctly rounded) decide the rounding unless they
    // read "50", where the exact value may lie on either side of the half.
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, precision + 1);
    count = ScanScientific(buf, r.ptr, digits, precision + 2, exp10);
    if (digits[precision] == '5' && digits[precision + 1] == '0') {
      r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 39);
      count = ScanScientific(buf, r.ptr, digits, precision + 1, exp10);
    }
  }
  if (count > precision) {
    const bool up = digits[precision] >= '5';
    count = precision;
    if (up) {
      int i = count - 1;
      while (i >= 0 && digits[i] == '9') digits[i--] = '0';
      if (i >= 0) {
        ++digits[i];
      } else {
        digits[0] = '1';
        ++exp10;
      }
    }
  }
  while (count > 1 && digits[count - 1] == '0') --count;
  return count;
}

std::u16string NumberToText(double v, int precision) {
  if (v == 0) return u"0";
  if (std::isnan(v)) return u"NaN";
  if (std::isinf(v)) return v < 0 ? u"-Infinity" : u"Infinity";
  char16_t out[48];
  int n = 0;
  if (v < 0) out[n++] = u'-';
  const double a = std::fabs(v);
  if (a < 1e15 && a == std::trunc(a) && precision >= 15) {
    // Whole numbers below 1E15 are written as they are.
    auto w = static_cast<std::uint64_t>(a);
    char16_t rev[16];
    int k = 0;
    do {
      rev[k++] = static_cast<char16_t>(u'0' + w % 10);
      w /= 10;
    } while (w != 0);
    while (k > 0) out[n++] = rev[--k];
    return std::u16string(out, static_cast<std::size_t>(n));
  }
  char digits[48];
  int exp10 = 0;
  const int count = RoundedDigits(a, precision, digits, exp10);
  const bool fixed = exp10 >= 0 ? exp10 < precision : (-exp10 - 1) + count <= precision;
  if (fixed && exp10 >= 0) {
    for (int i = 0; i <= exp10; ++i) out[n++] = i < count ? char16_t(digits[i]) : u'0';
    if (count > exp10 + 1) {
      out[n++] = u'.';
      for (int i = exp10 + 1; i < count; ++i) out[n++] = char16_t(digits[i]);
    }
  } else if (fixed) {
    out[n++] = u'0';
    out[n++] = u'.';
    for (int i = -1; i > exp10; --i) out[n++] = u'0';
    for (int i = 0; i < count; ++i) out[n++] = char16_t(digits[i]);
  } else {
    out[n++] = char16_t(digits[0]);
    if (count > 1) {
      out[n++] = u'.';
      for (int i = 1; i < count; ++i) out[n++] = char16_t(digits[i]);
    }
    out[n++] = u'E';
    out[n++] = exp10 < 0 ? u'-' : u'+';
    int e = exp10 < 0 ? -exp10 : exp10;
    if (e >= 100) out[n++] = char16_t(u'0' + e / 100);
    out[n++] = char16_t(u'0' + e / 10 % 10);
    out[n++] = char16_t(u'0' + e % 10);
  }
  return std::u16string(out, static_cast<std::size_t>(n));
}

}  // namespace

std::u16string DoubleToText(double v) { return NumberToText(v, 15); }

std::u16string SingleToText(float v) { return NumberToText(static_cast<double>(v), 7); }

}  // namespace tarn::detail
