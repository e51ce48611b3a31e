// Conversions between kinds (reference sections 2 and 3).
//
// Every conversion reads an object's default member first (only objects are
// copied for that; other values are used in place). Text becomes a number
// through the platform's number parser (ParseNumber) and a date through the
// date parser (ParseDateText). Whole-number conversions round halves to even
// before their range check; a number outside a kind's range is error 6,
// something that is no number is error 13, Null is error 94.
#include "tarn/convert.h"

#include <cfloat>
#include <cmath>

#include "platform/arith.h"
#include "platform/date.h"
#include "platform/locale.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "tarn/object.h"

namespace tarn {

using namespace std::string_view_literals;

namespace {

using detail::ParseNumber;

// The value itself, or the default member's value of an object (kept in
// `holder`).
const Variant& Loaded(const Variant& v, Variant& holder) {
  if (!v.is_object()) return v;
  holder = DefaultValue(v);
  return holder;
}

double TextToDouble(const std::u16string& s) {
  auto d = ParseNumber(s);
  if (!d) Raise(err::kTypeMismatch);
  if (std::isinf(*d)) Raise(err::kOverflow);
  return *d;
}

// Writes a whole number into the end of `buf`; returns the first character.
char16_t* WriteInteger(std::int32_t v, char16_t* end) {
  std::uint32_t u = v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  char16_t* p = end;
  do {
    *--p = static_cast<char16_t>(u'0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) *--p = u'-';
  return p;
}

std::u16string IntegerText(std::int32_t v) {
  char16_t buf[12];
  char16_t* end = buf + 12;
  char16_t* p = WriteInteger(v, end);
  return std::u16string(p, static_cast<std::size_t>(end - p));
}

}  // namespace

bool IsNumeric(const Variant& v0) {
  Variant holder;
  const Variant& v = Loaded(v0, holder);
  switch (v.kind()) {
    case Kind::Empty:
    case Kind::Integer:
    case Kind::Long:
    case Kind::Single:
    case Kind::Double:
    case Kind::Boolean: return true;
    case Kind::String: return ParseNumber(v.string()).has_value();
    default: return false;
  }
}

bool IsDate(const Variant& v0) {
  Variant holder;
  const Variant& v = Loaded(v0, holder);
  if (v.kind() == Kind::Date) return true;
  if (v.kind() == Kind::String) return detail::ParseDateText(v.string()).has_value();
  return false;
}

double CDbl(const Variant& v0) {
  Variant holder;
  const Variant& v = Loaded(v0, holder);
  switch (v.kind()) {
    case Kind::Empty: return 0;
    case Kind::Integer: return v.integer();
    case Kind::Long: return v.long_value();
    case Kind::Single: return v.single();
    case Kind::Double: return v.double_value();
    case Kind::Date: return v.date().serial;
    case Kind::Boolean: return v.boolean() ? -1 : 0;
    case Kind::String: return TextToDouble(v.string());
    case Kind::Null: Raise(err::kInvalidUseOfNull);
    default: Raise(err::kTypeMismatch);
  }
}

std::int32_t CLng(const Variant& v) {
  if (v.kind() == Kind::Long) return v.long_value();
  if (v.kind() == Kind::Integer) return v.integer();
  double d = detail::RoundHalfEven(CDbl(v));
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) Raise(err::kOverflow);
  return static_cast<std::int32_t>(d);
}

std::int16_t CInt(const Variant& v) {
  if (v.kind() == Kind::Integer) return v.integer();
  double d = detail::RoundHalfEven(CDbl(v));
  if (!(d >= -32768.0 && d <= 32767.0)) Raise(err::kOverflow);
  return static_cast<std::int16_t>(d);
}

float CSng(const Variant& v) {
  if (v.kind() == Kind::Single) return v.single();
  double d = CDbl(v);
  if (!(detail::FitsSingle(d))) Raise(err::kOverflow);
  return static_cast<float>(d);
}

bool CBool(const Variant& v0) {
  Variant holder;
  const Variant& v = Loaded(v0, holder);
  switch (v.kind()) {
    case Kind::Boolean: return v.boolean();
    case Kind::Empty: return false;
    case Kind::Integer: return v.integer() != 0;
    case Kind::Long: return v.long_value() != 0;
    case Kind::String: {
      const std::u16string& s = v.string();
      if (detail::EqualsIgnoreCase(s, u"True"sv) || s == u"#TRUE#"sv) return true;
      if (detail::EqualsIgnoreCase(s, u"False"sv) || s == u"#FALSE#"sv) return false;
      auto d = ParseNumber(s);
      if (!d) Raise(err::kTypeMismatch);
      return *d != 0;
    }
    default: return CDbl(v) != 0;
  }
}

Date CDate(const Variant& v0) {
  Variant holder;
  const Variant& v = Loaded(v0, holder);
  switch (v.kind()) {
    case Kind::Date: return v.date();
    case Kind::String: {
      auto d = detail::ParseDateText(v.string());
      if (!d) Raise(err::kTypeMismatch);
      return Date{*d};
    }
    default: {
      double d = CDbl(v);
      if (!detail::InDateRange(d)) Raise(err::kOverflow);
      return Date{d};
    }
  }
}

std::u16string CStr(const Variant& v0) {
  Variant holder;
  const Variant& v = Loaded(v0, holder);
  switch (v.kind()) {
    case Kind::Empty: return {};
    case Kind::String: return v.string();
    case Kind::Integer: return IntegerText(v.integer());
    case Kind::Long: return IntegerText(v.long_value());
    case Kind::Single: return detail::SingleToText(v.single());
    case Kind::Double: return detail::DoubleToText(v.double_value());
    case Kind::Boolean: return std::u16string(v.boolean() ? u"True"sv : u"False"sv);
    case Kind::Date: return detail::GeneralDateText(v.date().serial);
    case Kind::Null: Raise(err::kInvalidUseOfNull);
    default: Raise(err::kTypeMismatch);
  }
}

Variant ConvertByTypeWord(std::u16string_view w, const Variant& v) {
  if (w == u"String"sv) return CStr(v);
  if (w == u"Integer"sv) return CInt(v);
  if (w == u"Long"sv) return CLng(v);
  if (w == u"Single"sv) return CSng(v);
  if (w == u"Double"sv) return CDbl(v);
  if (w == u"Boolean"sv) return CBool(v);
  if (w == u"Date"sv) return CDate(v);
  return v;
}

Date Now() { return Date{detail::NowSerial()}; }

std::optional<Date> MakeDate(int year, int month, int day, int hour, int minute, int second) {
  const auto serial = detail::MakeSerial(year, month, day, hour, minute, second);
  if (!serial) return std::nullopt;
  return Date{*serial};
}

int FullYear(int two_digit_year) {
  return detail::ExpandTwoDigitYear(detail::CurrentLocale(), two_digit_year);
}

}  // namespace tarn
