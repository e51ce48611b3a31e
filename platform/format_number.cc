// Numeric format sections: "0" "#" "." "," "%" "E+" "E-" "e+" "e-", "\x",
// "text" and other literals.
//
// A section is first read into items (Parse), then the value is turned into
// decimal digits rounded half away from zero at the last placeholder
// (15 significant digits for a Double, 7 for a Single, as the platform writes
// them), and the items are written left to right (Render). Integer digits fill
// the integer placeholders from the right; digits beyond the placeholders go
// with the leftmost one; from the leftmost "0" on every placeholder shows a
// digit. The exponent has as many digits as it needs, at least one per "0"
// after the "E". Literals stay where they are written, so "#3.33" gives
// "173.33" for 17 and "###, ###, ###" gives "123, 456, 789".
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/format.h"
#include "platform/locale.h"
#include "platform/number_text.h"

namespace tarn::detail {

namespace {

enum class Item : unsigned char { IntDigit, FracDigit, ExpDigit, Point, Exp, Percent, Literal };

struct NumItem {
  Item kind;
  char16_t ch;  // '0' or '#' for digits, 'E' or 'e' for Exp
  bool plus;    // Exp: always write the sign
  std::u16string text;
};

struct NumSection {
  std::vector<NumItem> items;
  int int_places = 0;
  int frac_places = 0;
  int exp_places = 0;
  int exp_zeros = 0;        // exponent digits always written; a "#" adds one only when needed
  int first_int_zero = -1;  // index among integer placeholders of the first "0"
  int last_frac_zero = -1;  // index among fraction placeholders of the last "0"
  int percents = 0;
  int scale = 0;  // divide by 1000 this many times
  bool group = false;
  bool has_point = false;
  bool has_exp = false;
};

bool IsPlaceholder(char16_t c) { return c == u'0' || c == u'#'; }

void AddLiteral(NumSection& s, std::u16string_view text) {
  if (!s.items.empty() && s.items.back().kind == Item::Literal)
    s.items.back().text += text;
  else
    s.items.push_back({Item::Literal, 0, false, std::u16string(text)});
}

// Whether any integer placeholder follows position `i` before ".", an
// exponent or the end of the section.
bool MoreIntPlaces(std::u16string_view f, std::size_t i) {
  for (; i < f.size(); ++i) {
    char16_t c = f[i];
    if (c == u'"') {
      auto q = f.find(u'"', i + 1);
      if (q == std::u16string_view::npos) return false;
      i = q;
    } else if (c == u'\\') {
      ++i;
    } else if (c == u'.' || ((c == u'E' || c == u'e') && i + 1 < f.size() &&
                             (f[i + 1] == u'+' || f[i + 1] == u'-'))) {
      return false;
    } else if (IsPlaceholder(c)) {
      return true;
    }
  }
  return false;
}

void ReadCommas(NumSection& s, std::u16string_view f, std::size_t& i) {
  std::size_t run = 0;
  while (i + run < f.size() && f[i + run] == u',') ++run;
  std::size_t next = i + run;
  bool after_digit = s.int_places > 0;
  if (after_digit && next < f.size() && IsPlaceholder(f[next])) {
    s.group = true;
  } else if (after_digit && !MoreIntPlaces(f, next)) {
    s.scale += static_cast<int>(run);
  } else {
    AddLiteral(s, std::u16string(run, u','));
  }
  i = next;
}

NumSection Parse(std::u16string_view f) {
  const Locale& loc = CurrentLocale();
  NumSection s;
  enum { kInt, kFrac, kExp } region = kInt;
  std::size_t i = 0;
  while (i < f.size()) {
    char16_t c = f[i];
    if (c == u'"') {
      auto q = f.find(u'"', i + 1);
      if (q == std::u16string_view::npos) q = f.size();
      AddLiteral(s, f.substr(i + 1, q - i - 1));
      i = q + 1;
    } else if (c == u'\\') {
      if (i + 1 < f.size()) AddLiteral(s, f.substr(i + 1, 1));
      i += 2;
    } else if (IsPlaceholder(c)) {
      if (region == kInt) {
        if (c == u'0' && s.first_int_zero < 0) s.first_int_zero = s.int_places;
        ++s.int_places;
        s.items.push_back({Item::IntDigit, c, false, {}});
      } else if (region == kFrac) {
        if (c == u'0') s.last_frac_zero = s.frac_places;
        ++s.frac_places;
        s.items.push_back({Item::FracDigit, c, false, {}});
      } else {
        ++s.exp_places;
        if (c == u'0') ++s.exp_zeros;
        s.items.push_back({Item::ExpDigit, c, false, {}});
      }
      ++i;
    } else if (c == u'.' && region == kInt) {
      s.has_point = true;
      region = kFrac;
      s.items.push_back({Item::Point, c, false, {}});
      ++i;
    } else if (c == u',' && region == kInt) {
      ReadCommas(s, f, i);
    } else if ((c == u'E' || c == u'e') && region != kExp && i + 1 < f.size() &&
               (f[i + 1] == u'+' || f[i + 1] == u'-')) {
      s.has_exp = true;
      region = kExp;
      s.items.push_back({Item::Exp, c, f[i + 1] == u'+', {}});
      i += 2;
    } else if (c == u'%') {
      ++s.percents;
      s.items.push_back({Item::Percent, c, false, {}});
      ++i;
    } else {
      char16_t out = c == u':' ? loc.time_separator : c == u'/' ? loc.date_separator : c;
      AddLiteral(s, std::u16string_view(&out, 1));
      ++i;
    }
  }
  return s;
}

// A decimal number 0.digits x 10^point (digits without trailing zeros).
struct Decimal {
  std::string digits;
  int point = 0;
};

Decimal ToDecimal(double x, int significant) {
  Decimal d;
  if (x == 0 || !std::isfinite(x)) return d;
  if (std::fabs(x) < 1e15 && x == std::trunc(x)) {
    // A whole number of no more digits than asked for is exact as it is.
    char digits[24];
    const char* end =
        std::to_chars(digits, digits + sizeof digits, static_cast<std::uint64_t>(std::fabs(x))).ptr;
    const int count = static_cast<int>(end - digits);
    if (count <= significant) {
      d.digits.assign(digits, static_cast<std::size_t>(count));
      d.point = count;
      while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
      return d;
    }
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", significant - 1, x);
  std::string s(buf);
  auto e = s.find('e');
  for (std::size_t i = 0; i < e; ++i)
    if (s[i] >= '0' && s[i] <= '9') d.digits += s[i];
  d.point = std::atoi(s.c_str() + e + 1) + 1;
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) d.point = 0;
  return d;
}

// Rounds half away from zero to `decimals` digits after the point.
void RoundTo(Decimal& d, int decimals) {
  int keep = d.point + decimals;
  if (keep >= static_cast<int>(d.digits.size())) return;
  if (keep < 0) {
    d = {};
    return;
  }
  bool up = d.digits[static_cast<std::size_t>(keep)] >= '5';
  d.digits.resize(static_cast<std::size_t>(keep));
  if (up) {
    int k = keep - 1;
    while (k >= 0 && d.digits[static_cast<std::size_t>(k)] == '9')
      d.digits[static_cast<std::size_t>(k--)] = '0';
    if (k >= 0) {
      ++d.digits[static_cast<std::size_t>(k)];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.point;
    }
  }
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) d.point = 0;
}

std::string IntegerDigits(const Decimal& d) {
  if (d.point <= 0) return {};
  std::string s =
      d.digits.substr(0, std::min<std::size_t>(d.digits.size(), static_cast<std::size_t>(d.point)));
  s.resize(static_cast<std::size_t>(d.point), '0');
  return s;
}

std::string FractionDigits(const Decimal& d, int places) {
  std::string s;
  for (int k = 0; k < places; ++k) {
    int idx = d.point + k;
    s += (idx >= 0 && idx < static_cast<int>(d.digits.size()))
             ? d.digits[static_cast<std::size_t>(idx)]
             : '0';
  }
  return s;
}

struct Digits {
  std::string integer;   // padded to the forced width
  std::string fraction;  // exactly frac_places digits
  int exponent = 0;
};

Digits MakeDigits(const NumSection& s, double x, int significant) {
  Decimal d = ToDecimal(x, significant);
  Digits out;
  if (s.has_exp && !d.digits.empty()) {
    int exp = d.point - s.int_places;
    for (int attempt = 0; attempt < 2; ++attempt) {
      Decimal m = d;
      m.point -= exp;
      RoundTo(m, s.frac_places);
      if (m.point > s.int_places && attempt == 0) {  // rounding carried a digit
        ++exp;
        continue;
      }
      d = m;
      break;
    }
    out.exponent = exp;
  } else {
    RoundTo(d, s.frac_places);
  }
  out.integer = IntegerDigits(d);
  out.fraction = FractionDigits(d, s.frac_places);
  int forced = s.first_int_zero < 0 ? 0 : s.int_places - s.first_int_zero;
  if (static_cast<int>(out.integer.size()) < forced)
    out.integer.insert(0, static_cast<std::size_t>(forced) - out.integer.size(), '0');
  return out;
}

void AppendIntegerDigit(std::u16string& out, const std::string& digits, int k, bool group) {
  out += static_cast<char16_t>(digits[static_cast<std::size_t>(k)]);
  int from_right = static_cast<int>(digits.size()) - 1 - k;
  if (group && from_right > 0 && from_right % 3 == 0) out += CurrentLocale().thousands_separator;
}

std::u16string Render(const NumSection& s, const Digits& dg, bool negative_exp) {
  const Locale& loc = CurrentLocale();
  std::u16string out;
  const int n = static_cast<int>(dg.integer.size());
  const int places = s.int_places;
  int int_index = 0, frac_index = 0;
  bool exp_written = false;
  int last_frac = dg.fraction.find_last_not_of('0') == std::string::npos
                      ? -1
                      : static_cast<int>(dg.fraction.find_last_not_of('0'));
  int frac_shown = std::max(last_frac, s.last_frac_zero);
  for (const NumItem& it : s.items) {
    switch (it.kind) {
      case Item::IntDigit: {
        int k = int_index - places + n;
        if (int_index == 0) {
          for (int j = 0; j <= k; ++j) AppendIntegerDigit(out, dg.integer, j, s.group);
        } else if (k >= 0) {
          AppendIntegerDigit(out, dg.integer, k, s.group);
        }
        ++int_index;
        break;
      }
      case Item::Point:
        if (places == 0)
          for (int j = 0; j < n; ++j) AppendIntegerDigit(out, dg.integer, j, s.group);
        out += loc.decimal_point;
        break;
      case Item::FracDigit:
        if (it.ch == u'0' || frac_index <= frac_shown)
          out += static_cast<char16_t>(dg.fraction[static_cast<std::size_t>(frac_index)]);
        ++frac_index;
        break;
      case Item::Exp:
        out += it.ch;
        if (negative_exp)
          out += u'-';
        else if (it.plus)
          out += u'+';
        if (s.exp_places == 0) {
          for (char c : std::to_string(std::abs(dg.exponent))) out += static_cast<char16_t>(c);
        }
        break;
      case Item::ExpDigit:
        if (!exp_written) {
          std::string e = std::to_string(std::abs(dg.exponent));
          if (static_cast<int>(e.size()) < s.exp_zeros)
            e.insert(0, static_cast<std::size_t>(s.exp_zeros) - e.size(), '0');
          for (char c : e) out += static_cast<char16_t>(c);
          exp_written = true;
        }
        break;
      case Item::Percent: out += u'%'; break;
      case Item::Literal: out += it.text; break;
    }
  }
  return out;
}

std::u16string RenderSection(std::u16string_view section, double magnitude, int significant) {
  NumSection s = Parse(section);
  double x = magnitude;
  for (int k = 0; k < s.percents; ++k) x *= 100;
  for (int k = 0; k < s.scale; ++k) x /= 1000;
  Digits dg = MakeDigits(s, x, significant);
  return Render(s, dg, dg.exponent < 0);
}

}  // namespace

std::u16string FormatNumber(double value, int significant, const FormatSections& sections) {
  int idx = 0;
  bool minus = false;
  if (value < 0) {
    if (sections.count >= 2 && !sections.section[1].empty())
      idx = 1;
    else
      minus = true;
  } else if (value == 0) {
    if (sections.count >= 3 && !sections.section[2].empty()) idx = 2;
  }
  std::u16string_view section = sections.section[static_cast<std::size_t>(idx)];
  std::u16string out;
  if (section.empty()) {
    out = significant <= 7 ? SingleToText(static_cast<float>(std::fabs(value)))
                           : DoubleToText(std::fabs(value));
  } else {
    out = RenderSection(section, std::fabs(value), significant);
  }
  if (minus) out.insert(out.begin(), u'-');
  return out;
}

std::u16string FormatNullNumber(const FormatSections& sections) {
  if (sections.count < 4 || sections.section[3].empty()) return {};
  return RenderSection(sections.section[3], 0, 15);
}

}  // namespace tarn::detail
