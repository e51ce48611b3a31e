// The format-expression formatter: tarn::Format.
//
// Dispatch only; the sections are rendered by format_number.cc,
// format_date.cc and format_text.cc.
//
//   1. No format: the value as CStr writes it (Empty and Null give "").
//   2. A named format (any letter case): its pattern, or a fixed rule. A
//      final "\" that escapes nothing is then dropped.
//   3. Otherwise the format is cut into sections and classified (numeric,
//      date or text), and the value is brought to that kind (5.5):
//      - Empty is 0 (numeric), serial 0 (date) or "" (text);
//      - Boolean is -1/0, or "True"/"False" for a text format;
//      - a text that reads as a number is that number (also for a date
//        format), one that reads as a date is that date, and any other text
//        comes back unchanged; "" counts as 0 for a numeric format and comes
//        back unchanged for a date format;
//      - Null gives "" unless a Null section supplies text.
#include "platform/format.h"

#include <array>
#include <cmath>
#include <optional>

#include "platform/date.h"
#include "platform/locale.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn {

using namespace std::string_view_literals;

namespace detail {

FormatSections SplitSections(std::u16string_view f) {
  FormatSections s;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= f.size(); ++i) {
    if (i < f.size() && f[i] == u'"') {
      auto q = f.find(u'"', i + 1);
      i = q == std::u16string_view::npos ? f.size() - 1 : q;
    } else if (i + 1 < f.size() && f[i] == u'\\') {
      ++i;
    } else if (i == f.size() || f[i] == u';') {
      if (s.count == 4) break;  // a fifth section is ignored
      s.section[static_cast<std::size_t>(s.count++)] = f.substr(start, i - start);
      start = i + 1;
    }
  }
  return s;
}

FormatKind ClassifyFormat(std::u16string_view f) {
  bool text = false, date = false;
  for (std::size_t i = 0; i < f.size(); ++i) {
    char16_t c = f[i];
    if (c == u'"') {
      auto q = f.find(u'"', i + 1);
      if (q == std::u16string_view::npos) break;
      i = q;
      continue;
    }
    if (c == u'\\') {
      ++i;
      continue;
    }
    switch (LowerChar(c)) {
      case u'0':
      case u'#': return FormatKind::Number;
      case u'@':
      case u'&':
      case u'<':
      case u'>':
      case u'!': text = true; break;
      case u'd':
      case u'm':
      case u'y':
      case u'h':
      case u'n':
      case u's':
      case u'w':
      case u'q':
      case u'c':
      case u't':
      case u'a': date = true; break;
      default: break;
    }
  }
  if (text) return FormatKind::Text;
  if (date) return FormatKind::Date;
  return FormatKind::Number;
}

}  // namespace detail

namespace {

using detail::FormatKind;
using detail::FormatSections;

// The format without a final "\" that escapes nothing: the platform formats
// with the rest.
std::u16string_view WithoutDanglingBackslash(std::u16string_view f) {
  for (std::size_t i = 0; i < f.size(); ++i) {
    if (f[i] == u'"') {
      i = f.find(u'"', i + 1);
      if (i == std::u16string_view::npos) return f;
    } else if (f[i] == u'\\') {
      if (i + 1 == f.size()) return f.substr(0, i);
      ++i;
    }
  }
  return f;
}

// Whether a serial's day lies in 1/1/100 .. 12/31/9999.
bool IsDateSerial(double serial) {
  return serial > detail::kMinDateSerial - 1 && serial < detail::kMaxDateSerial;
}

// The value brought to the kind a format needs.
struct Operand {
  enum Kind { Number, Serial, Text, Null } kind = Number;
  double number = 0;
  int significant = 15;
  std::u16string text;
};

Operand TextOperand(std::u16string text) {
  Operand o;
  o.kind = Operand::Text;
  o.text = std::move(text);
  return o;
}

Operand NumberOperand(double v, int significant = 15) {
  Operand o;
  o.number = v;
  o.significant = significant;
  return o;
}

// For numeric (want_date false) and date formats.
Operand ToOperand(const Variant& v, bool want_date) {
  switch (v.kind()) {
    case Kind::Empty: return NumberOperand(0);
    case Kind::Null: {
      Operand o;
      o.kind = Operand::Null;
      return o;
    }
    case Kind::Boolean: return NumberOperand(v.boolean() ? -1 : 0);
    case Kind::Integer: return NumberOperand(v.integer());
    case Kind::Long: return NumberOperand(v.long_value());
    case Kind::Single: return NumberOperand(v.single(), 7);
    case Kind::Double: return NumberOperand(v.double_value());
    case Kind::Date: return NumberOperand(v.date().serial);
    case Kind::String: {
      const std::u16string& s = v.string();
      if (s.empty()) return want_date ? TextOperand(s) : NumberOperand(0);
      if (auto n = detail::ParseNumber(s)) {
        if (want_date && !IsDateSerial(*n)) return TextOperand(s);
        return NumberOperand(*n);
      }
      if (auto d = detail::ParseDateText(s)) return NumberOperand(*d);
      return TextOperand(s);
    }
    default: Raise(err::kTypeMismatch);
  }
}

std::u16string FormatAsNumber(const Operand& o, const FormatSections& s) {
  switch (o.kind) {
    case Operand::Null: return detail::FormatNullNumber(s);
    case Operand::Text: return o.text;
    default: return detail::FormatNumber(o.number, o.significant, s);
  }
}

std::u16string FormatAsDate(const Operand& o, std::u16string_view section, int fdow, int fwoy) {
  if (o.kind == Operand::Null) return {};
  if (o.kind == Operand::Text) return o.text;
  if (!IsDateSerial(o.number)) Raise(err::kOverflow);
  std::u16string out;
  detail::AppendDatePattern(out, detail::SplitSerial(o.number), section, fdow, fwoy);
  return out;
}

std::u16string FormatAsText(const Variant& v, const FormatSections& s) {
  if (v.is_null()) return detail::FormatText({}, true, s);
  if (v.is_empty()) return detail::FormatText({}, false, s);
  return detail::FormatText(CStr(v), false, s);
}

// Named formats ------------------------------------------------------------

enum class Named {
  GeneralNumber,
  Currency,
  Fixed,
  Standard,
  Percent,
  Scientific,
  YesNo,
  TrueFalse,
  OnOff,
  GeneralDate,
  LongDate,
  MediumDate,
  ShortDate,
  LongTime,
  MediumTime,
  ShortTime
};

struct NamedEntry {
  std::u16string_view name;
  Named which;
};

constexpr NamedEntry kNamedFormats[] = {
    {u"General Number"sv, Named::GeneralNumber},
    {u"Currency"sv, Named::Currency},
    {u"Fixed"sv, Named::Fixed},
    {u"Standard"sv, Named::Standard},
    {u"Percent"sv, Named::Percent},
    {u"Scientific"sv, Named::Scientific},
    {u"Yes/No"sv, Named::YesNo},
    {u"True/False"sv, Named::TrueFalse},
    {u"On/Off"sv, Named::OnOff},
    {u"General Date"sv, Named::GeneralDate},
    {u"Long Date"sv, Named::LongDate},
    {u"Medium Date"sv, Named::MediumDate},
    {u"Short Date"sv, Named::ShortDate},
    {u"Long Time"sv, Named::LongTime},
    {u"Medium Time"sv, Named::MediumTime},
    {u"Short Time"sv, Named::ShortTime},
};

std::optional<Named> FindNamed(std::u16string_view f) {
  for (const auto& e : kNamedFormats)
    if (detail::EqualsIgnoreCase(f, e.name)) return e.which;
  return std::nullopt;
}

std::u16string NumberPattern(const Operand& o, std::u16string_view pattern) {
  return FormatAsNumber(o, detail::SplitSections(pattern));
}

std::u16string FormatNamed(const Variant& v, Named which) {
  const detail::Locale& loc = detail::CurrentLocale();
  bool is_date = which >= Named::GeneralDate;
  Operand o = ToOperand(v, is_date);
  if (o.kind == Operand::Null) return {};
  if (o.kind == Operand::Text) return o.text;
  auto choice = [&](std::u16string_view yes, std::u16string_view no) {
    return std::u16string(o.number != 0 ? yes : no);
  };
  switch (which) {
    case Named::GeneralNumber:
      return o.significant <= 7 ? detail::SingleToText(static_cast<float>(o.number))
                                : detail::DoubleToText(o.number);
    case Named::Currency: return NumberPattern(o, loc.currency_format);
    case Named::Fixed: return NumberPattern(o, u"0.00"sv);
    case Named::Standard: return NumberPattern(o, u"#,##0.00"sv);
    case Named::Percent: return NumberPattern(o, u"0.00%"sv);
    case Named::Scientific: return NumberPattern(o, u"0.00E+00"sv);
    case Named::YesNo: return choice(u"Yes"sv, u"No"sv);
    case Named::TrueFalse: return choice(u"True"sv, u"False"sv);
    case Named::OnOff: return choice(u"On"sv, u"Off"sv);
    case Named::GeneralDate: return FormatAsDate(o, u"c"sv, 1, 1);
    case Named::LongDate: return FormatAsDate(o, loc.long_date, 1, 1);
    case Named::MediumDate: return FormatAsDate(o, loc.medium_date, 1, 1);
    case Named::ShortDate: return FormatAsDate(o, loc.short_date, 1, 1);
    case Named::LongTime: return FormatAsDate(o, loc.long_time, 1, 1);
    case Named::MediumTime: return FormatAsDate(o, loc.medium_time, 1, 1);
    case Named::ShortTime: return FormatAsDate(o, loc.short_time, 1, 1);
  }
  return {};
}

}  // namespace

std::u16string Format(const Variant& value, std::u16string_view format, int first_day_of_week,
                      int first_week_of_year) {
  Variant v = DefaultValue(value);
  if (format.empty()) return v.is_null() || v.is_empty() ? std::u16string() : CStr(v);
  if (auto named = FindNamed(format)) return FormatNamed(v, *named);
  format = WithoutDanglingBackslash(format);
  if (format.empty()) return v.is_null() || v.is_empty() ? std::u16string() : CStr(v);

  FormatSections sections = detail::SplitSections(format);
  switch (detail::ClassifyFormat(format)) {
    case FormatKind::Text: return FormatAsText(v, sections);
    case FormatKind::Number: return FormatAsNumber(ToOperand(v, false), sections);
    case FormatKind::Date: break;
  }
  Operand o = ToOperand(v, true);
  return FormatAsDate(o, sections.section[0], first_day_of_week, first_week_of_year);
}

}  // namespace tarn
