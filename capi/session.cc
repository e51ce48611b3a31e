// The session behind the C interface and the Python package. An evaluation
// clears the recorder, asks the interpreter, and copies out what the caller
// may keep: the result's Data and DataType and the reports of this call.
#include "capi/session.h"

#include <unicode/ustring.h>

#include <cmath>

#include "platform/date.h"

namespace tarn::binding {

namespace {

const DataField* Native(const ObjectRef& o) noexcept {
  return o && o->native_kind() == DataField::kNativeKind ? static_cast<const DataField*>(o.get())
                                                         : nullptr;
}

// An object's default member, read until a plain value comes out; a host
// object that fails to answer gives Empty.
Variant Plain(Variant v) {
  for (int depth = 0; v.is_object() && depth < 8; ++depth) {
    try {
      v = v.object() ? DefaultValue(v) : Variant();
    } catch (const RuntimeError&) {
      return {};
    }
  }
  return v.is_object() ? Variant() : v;
}

FieldValue Read(const ObjectRef& field) {
  if (const DataField* f = Native(field)) return {Plain(f->data()), f->data_type()};
  try {
    return {Plain(Get(field, u"Data")), CStr(Get(field, u"DataType"))};
  } catch (const RuntimeError&) {
    return {};
  }
}

std::u16string NameOf(const ObjectRef& field) {
  if (const DataField* f = Native(field)) return f->name();
  try {
    return CStr(Get(field, u"Name"));
  } catch (const RuntimeError&) {
    return {};
  }
}

// The error manager receives the interpreter's own code; the error's number
// is the one in its message, "Error: 13 - Type mismatch".
Report FromErrorReport(const ErrorReport& e) {
  Report r{e.number, e.procedure, e.message};
  constexpr std::u16string_view kLead = u"Error: ";
  std::u16string_view m = e.message;
  if (m.substr(0, kLead.size()) != kLead) return r;
  m.remove_prefix(kLead.size());
  const bool negative = !m.empty() && m.front() == u'-';
  if (negative) m.remove_prefix(1);
  std::int64_t n = 0;
  std::size_t digits = 0;
  for (; digits < m.size() && digits < 11 && m[digits] >= u'0' && m[digits] <= u'9'; ++digits)
    n = n * 10 + (m[digits] - u'0');
  if (digits == 0 || m.substr(digits, 3) != u" - ") return r;
  n = negative ? -n : n;
  if (n >= INT32_MIN && n <= INT32_MAX) r.number = static_cast<std::int32_t>(n);
  return r;
}

}  // namespace

Session::Session(Ref<DataFields> fields, std::u16string_view application)
    : fields_(std::move(fields)), errors_(MakeRef<RecordingErrorManager>()) {
  interpreter_.Init(fields_, errors_, u"tarnintr", application);
}

Outcome Session::Evaluate(std::u16string_view text) {
  errors_->Clear();
  Outcome out;
  ObjectRef field = interpreter_.RealizeRegularExpression(text);
  out.reports.reserve(errors_->reports().size());
  for (const ErrorReport& e : errors_->reports()) out.reports.push_back(FromErrorReport(e));
  if (!field) return out;
  out.has_field = true;
  FieldValue v = Read(field);
  out.value = std::move(v.value);
  out.type = std::move(v.type);
  // The interpreter's Error field, told apart from a host field of that name.
  out.is_error = out.type == u"Boolean" && out.value.kind() == Kind::Boolean &&
                 !out.value.boolean() && NameOf(field) == u"Error" &&
                 fields_->Find(u"Error") != field;
  return out;
}

bool Session::set_strict(bool strict) noexcept {
  if (strict) return false;
  strict_ = false;
  return true;
}

void SetField(DataFields& fields, std::u16string_view name, std::u16string_view type,
              Variant value) {
  ObjectRef existing = fields.Find(name);
  if (existing && existing->native_kind() == DataField::kNativeKind) {
    auto* f = static_cast<DataField*>(existing.get());
    f->set_data_type(std::u16string(type));
    f->set_data(std::move(value));
    return;
  }
  if (existing) fields.Erase(name);
  fields.AddField(name, type, std::move(value));
}

std::optional<FieldValue> GetField(const DataFields& fields, std::u16string_view name) {
  ObjectRef field = fields.Find(name);
  if (!field) return std::nullopt;
  return Read(field);
}

bool DecodeUtf8(std::string_view text, std::u16string& out) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return false;
  out.resize(text.size());
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &len, text.data(),
                static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return false;
  out.resize(static_cast<std::size_t>(len));
  return true;
}

std::optional<double> DateSerial(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > detail::DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59)
    return std::nullopt;
  return detail::MakeSerial(year, month, day, hour, minute, second);
}

bool IsDateSerial(double serial) noexcept {
  return std::isfinite(serial) && serial >= detail::kMinDateSerial &&
         serial <= detail::kMaxDateSerial;
}

CalendarTime SplitDate(double serial) {
  const detail::DateParts p = detail::SplitSerial(serial);
  return {p.year, p.month, p.day, p.hour, p.minute, p.second};
}

std::u16string ValueText(const Variant& v) {
  if (v.is_empty() || v.is_null()) return {};
  try {
    return CStr(v);
  } catch (const RuntimeError&) {
    return {};
  }
}

const char* VersionText() noexcept { return TARN_PROJECT_VERSION; }

}  // namespace tarn::binding
