// The session behind the C interface and the Python package. An evaluation
// asks the interpreter for its typed result and copies out what the caller
// may keep: the value (objects read through their default member), the type
// word, whether it is the Error field, and the reports of this call.
#include "capi/session.h"

#include <unicode/ustring.h>

#include <cmath>

#include "platform/date.h"

namespace tarn::binding {

namespace {

const DataField* Native(const ObjectRef& o) noexcept { return AsDataField(o.get()); }

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

}  // namespace

Session::Session(Ref<DataFields> fields, std::u16string_view application)
    : fields_(std::move(fields)), errors_(MakeRef<RecordingErrorManager>()) {
  interpreter_.Init(fields_, errors_, u"tarnintr", application);
}

Outcome Session::Evaluate(std::u16string_view text) {
  // The evaluation keeps its own reports; the recorder only has to stay small.
  errors_->Clear();
  const Evaluation e = interpreter_.Evaluate(text);
  Outcome out;
  out.has_field = static_cast<bool>(e.field());
  out.is_error = e.is_error();
  out.value = Plain(e.value());
  out.type = e.type();
  out.reports.reserve(e.reports().size());
  for (const EvaluationReport& r : e.reports())
    out.reports.push_back({r.number, r.procedure, r.message});
  return out;
}

bool Session::set_strict(bool strict) noexcept {
  interpreter_.set_strict(strict);
  return true;
}

void SetField(DataFields& fields, std::u16string_view name, std::u16string_view type,
              Variant value) {
  ObjectRef existing = fields.Find(name);
  if (DataField* f = AsDataField(existing.get())) {
    f->set_data_type(type);
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
