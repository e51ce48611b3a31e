// Placeholder: replaced by the platform's conversion rules.
#include <cmath>

#include "platform/date.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn {

using detail::ParseNumber;

bool IsNumeric(const Variant& v0) {
  Variant v = DefaultValue(v0);
  switch (v.kind()) {
    case Kind::String: return ParseNumber(v.string()).has_value();
    case Kind::Date: case Kind::Null: case Kind::Object: case Kind::Missing: return false;
    default: return true;
  }
}

bool IsDate(const Variant& v0) {
  Variant v = DefaultValue(v0);
  if (v.kind() == Kind::Date) return true;
  if (v.kind() == Kind::String) return detail::ParseDateText(v.string()).has_value();
  return false;
}

double CDbl(const Variant& v0) {
  Variant v = DefaultValue(v0);
  switch (v.kind()) {
    case Kind::Empty: return 0;
    case Kind::Integer: return v.integer();
    case Kind::Long: return v.long_value();
    case Kind::Single: return v.single();
    case Kind::Double: return v.double_value();
    case Kind::Date: return v.date().serial;
    case Kind::Boolean: return v.boolean() ? -1 : 0;
    case Kind::String: {
      auto d = ParseNumber(v.string());
      if (!d) Raise(err::kTypeMismatch);
      return *d;
    }
    case Kind::Null: Raise(err::kInvalidUseOfNull);
    default: Raise(err::kTypeMismatch);
  }
}

std::int32_t CLng(const Variant& v) {
  double d = std::nearbyint(CDbl(v));
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) Raise(err::kOverflow);
  return static_cast<std::int32_t>(d);
}

std::int16_t CInt(const Variant& v) {
  double d = std::nearbyint(CDbl(v));
  if (!(d >= -32768.0 && d <= 32767.0)) Raise(err::kOverflow);
  return static_cast<std::int16_t>(d);
}

float CSng(const Variant& v) { return static_cast<float>(CDbl(v)); }

bool CBool(const Variant& v0) {
  Variant v = DefaultValue(v0);
  if (v.kind() == Kind::Boolean) return v.boolean();
  if (v.kind() == Kind::String) {
    if (detail::EqualsIgnoreCase(v.string(), u"True")) return true;
    if (detail::EqualsIgnoreCase(v.string(), u"False")) return false;
  }
  return CDbl(v) != 0;
}

Date CDate(const Variant& v0) {
  Variant v = DefaultValue(v0);
  if (v.kind() == Kind::Date) return v.date();
  if (v.kind() == Kind::String) {
    auto d = detail::ParseDateText(v.string());
    if (!d) Raise(err::kTypeMismatch);
    return Date{*d};
  }
  return Date{CDbl(v)};
}

std::u16string CStr(const Variant& v0) {
  Variant v = DefaultValue(v0);
  switch (v.kind()) {
    case Kind::Empty: return {};
    case Kind::String: return v.string();
    case Kind::Integer: return detail::Widen(std::to_string(v.integer()));
    case Kind::Long: return detail::Widen(std::to_string(v.long_value()));
    case Kind::Single: return detail::SingleToText(v.single());
    case Kind::Double: return detail::DoubleToText(v.double_value());
    case Kind::Boolean: return v.boolean() ? u"True" : u"False";
    case Kind::Date: return detail::GeneralDateText(v.date().serial);
    case Kind::Null: Raise(err::kInvalidUseOfNull);
    default: Raise(err::kTypeMismatch);
  }
}

Variant ConvertByTypeWord(std::u16string_view w, const Variant& v) {
  if (w == u"String") return CStr(v);
  if (w == u"Integer") return CInt(v);
  if (w == u"Long") return CLng(v);
  if (w == u"Single") return CSng(v);
  if (w == u"Double") return CDbl(v);
  if (w == u"Boolean") return CBool(v);
  if (w == u"Date") return CDate(v);
  return v;
}

Date Now() { return Date{detail::NowSerial()}; }

}  // namespace tarn
