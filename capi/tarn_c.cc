// The C interface: opaque handles over the binding session. Every entry
// point catches everything, so that no C++ exception reaches a C caller.
#include "tarn/tarn_c.h"

#include <cmath>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "capi/session.h"

struct tarn_fields {
  tarn::Ref<tarn::DataFields> fields = tarn::MakeRef<tarn::DataFields>();
};

struct tarn_interpreter {
  explicit tarn_interpreter(tarn::Ref<tarn::DataFields> f) : session(std::move(f), u"C") {}
  tarn::binding::Session session;
};

struct tarn_result {
  struct Report {
    int32_t number;
    std::string procedure, message;
  };
  bool has_field = false, is_error = false, has_number = false;
  tarn_kind kind = TARN_KIND_EMPTY;
  double number = 0;
  std::string type, text;
  std::vector<Report> reports;
};

namespace {

using tarn::binding::DecodeUtf8;

template <class F>
tarn_status Guard(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return TARN_ERR_OUT_OF_MEMORY;
  } catch (...) {
    return TARN_ERR_INTERNAL;
  }
}

// Checks the handle and the name, then sets the field.
template <class F>
tarn_status SetNamed(tarn_fields* fields, const char* name, F&& make) noexcept {
  if (!fields || !name) return TARN_ERR_NULL_ARGUMENT;
  return Guard([&]() -> tarn_status {
    std::u16string key;
    if (!DecodeUtf8(name, key)) return TARN_ERR_INVALID_UTF8;
    if (key.empty()) return TARN_ERR_INVALID_ARGUMENT;
    return make(key);
  });
}

tarn_status Set(tarn_fields* fields, const std::u16string& name, std::u16string_view type,
                tarn::Variant value) {
  tarn::binding::SetField(*fields->fields, name, type, std::move(value));
  return TARN_OK;
}

tarn_kind KindOf(const tarn::Variant& v) {
  switch (v.kind()) {
    case tarn::Kind::Null: return TARN_KIND_NULL;
    case tarn::Kind::Integer: return TARN_KIND_INTEGER;
    case tarn::Kind::Long: return TARN_KIND_LONG;
    case tarn::Kind::Single: return TARN_KIND_SINGLE;
    case tarn::Kind::Double: return TARN_KIND_DOUBLE;
    case tarn::Kind::Date: return TARN_KIND_DATE;
    case tarn::Kind::String: return TARN_KIND_STRING;
    case tarn::Kind::Boolean: return TARN_KIND_BOOLEAN;
    default: return TARN_KIND_EMPTY;
  }
}

void SetNumber(tarn_result& r, const tarn::Variant& v) {
  r.has_number = true;
  switch (v.kind()) {
    case tarn::Kind::Integer: r.number = v.integer(); break;
    case tarn::Kind::Long: r.number = v.long_value(); break;
    case tarn::Kind::Single: r.number = v.single(); break;
    case tarn::Kind::Double: r.number = v.double_value(); break;
    case tarn::Kind::Date: r.number = v.date().serial; break;
    case tarn::Kind::Boolean: r.number = v.boolean() ? -1 : 0; break;
    default: r.has_number = false;
  }
}

}  // namespace

extern "C" {

const char* tarn_version(void) { return tarn::binding::VersionText(); }

const char* tarn_status_text(tarn_status status) {
  switch (status) {
    case TARN_OK: return "success";
    case TARN_ERR_NULL_ARGUMENT: return "null argument";
    case TARN_ERR_INVALID_UTF8: return "invalid UTF-8";
    case TARN_ERR_INVALID_ARGUMENT: return "invalid argument";
    case TARN_ERR_CONVERSION: return "value does not convert to the type";
    case TARN_ERR_NOT_FOUND: return "no such field";
    case TARN_ERR_NOT_A_NUMBER: return "not a number";
    case TARN_ERR_UNSUPPORTED: return "not supported";
    case TARN_ERR_OUT_OF_MEMORY: return "out of memory";
    case TARN_ERR_INTERNAL: return "internal error";
  }
  return "unknown status";
}

tarn_status tarn_fields_create(tarn_fields** out) {
  if (!out) return TARN_ERR_NULL_ARGUMENT;
  *out = nullptr;
  return Guard([&] {
    *out = new tarn_fields;
    return TARN_OK;
  });
}

void tarn_fields_free(tarn_fields* fields) { delete fields; }

tarn_status tarn_fields_set(tarn_fields* fields, const char* name, const char* type_word,
                            const char* value) {
  if (!type_word || !value) return TARN_ERR_NULL_ARGUMENT;
  return SetNamed(fields, name, [&](const std::u16string& key) {
    std::u16string type, text;
    if (!DecodeUtf8(type_word, type) || !DecodeUtf8(value, text)) return TARN_ERR_INVALID_UTF8;
    if (type.empty()) return TARN_ERR_INVALID_ARGUMENT;
    tarn::Variant converted;
    try {
      converted = tarn::ConvertByTypeWord(type, tarn::Variant(std::move(text)));
    } catch (const tarn::RuntimeError&) {
      return TARN_ERR_CONVERSION;
    }
    return Set(fields, key, type, std::move(converted));
  });
}

tarn_status tarn_fields_set_long(tarn_fields* fields, const char* name, int32_t value) {
  return SetNamed(fields, name,
                  [&](const std::u16string& key) { return Set(fields, key, u"Long", value); });
}

tarn_status tarn_fields_set_double(tarn_fields* fields, const char* name, double value) {
  return SetNamed(fields, name, [&](const std::u16string& key) {
    if (!std::isfinite(value)) return TARN_ERR_INVALID_ARGUMENT;
    return Set(fields, key, u"Double", value);
  });
}

tarn_status tarn_fields_set_boolean(tarn_fields* fields, const char* name, int value) {
  return SetNamed(fields, name, [&](const std::u16string& key) {
    return Set(fields, key, u"Boolean", value != 0);
  });
}

tarn_status tarn_fields_set_date_serial(tarn_fields* fields, const char* name, double serial) {
  return SetNamed(fields, name, [&](const std::u16string& key) {
    if (!tarn::binding::IsDateSerial(serial)) return TARN_ERR_INVALID_ARGUMENT;
    return Set(fields, key, u"Date", tarn::Date{serial});
  });
}

tarn_status tarn_fields_set_date(tarn_fields* fields, const char* name, int year, int month,
                                 int day, int hour, int minute, int second) {
  return SetNamed(fields, name, [&](const std::u16string& key) {
    auto serial = tarn::binding::DateSerial(year, month, day, hour, minute, second);
    if (!serial) return TARN_ERR_INVALID_ARGUMENT;
    return Set(fields, key, u"Date", tarn::Date{*serial});
  });
}

tarn_status tarn_fields_set_null(tarn_fields* fields, const char* name) {
  return SetNamed(fields, name, [&](const std::u16string& key) {
    return Set(fields, key, u"Null", tarn::Variant::Null());
  });
}

tarn_status tarn_fields_remove(tarn_fields* fields, const char* name) {
  return SetNamed(fields, name, [&](const std::u16string& key) {
    return fields->fields->Erase(key) ? TARN_OK : TARN_ERR_NOT_FOUND;
  });
}

tarn_status tarn_fields_count(const tarn_fields* fields, size_t* out) {
  if (!fields || !out) return TARN_ERR_NULL_ARGUMENT;
  *out = fields->fields->Count();
  return TARN_OK;
}

tarn_status tarn_interpreter_create(tarn_fields* fields, tarn_interpreter** out) {
  if (!out) return TARN_ERR_NULL_ARGUMENT;
  *out = nullptr;
  if (!fields) return TARN_ERR_NULL_ARGUMENT;
  return Guard([&] {
    *out = new tarn_interpreter(fields->fields);
    return TARN_OK;
  });
}

void tarn_interpreter_free(tarn_interpreter* interpreter) { delete interpreter; }

tarn_status tarn_interpreter_set_strict(tarn_interpreter* interpreter, int strict) {
  if (!interpreter) return TARN_ERR_NULL_ARGUMENT;
  return interpreter->session.set_strict(strict != 0) ? TARN_OK : TARN_ERR_UNSUPPORTED;
}

tarn_status tarn_evaluate(tarn_interpreter* interpreter, const char* text, tarn_result** out) {
  if (!text) {
    if (out) *out = nullptr;
    return TARN_ERR_NULL_ARGUMENT;
  }
  return tarn_evaluate_n(interpreter, text, std::char_traits<char>::length(text), out);
}

tarn_status tarn_evaluate_n(tarn_interpreter* interpreter, const char* text, size_t length,
                            tarn_result** out) {
  if (!out) return TARN_ERR_NULL_ARGUMENT;
  *out = nullptr;
  if (!interpreter || (!text && length)) return TARN_ERR_NULL_ARGUMENT;
  return Guard([&] {
    std::u16string wide;
    if (!DecodeUtf8(std::string_view(text ? text : "", length), wide)) return TARN_ERR_INVALID_UTF8;
    tarn::binding::Outcome o = interpreter->session.Evaluate(wide);
    auto r = std::make_unique<tarn_result>();
    r->has_field = o.has_field;
    r->is_error = o.is_error;
    r->kind = KindOf(o.value);
    SetNumber(*r, o.value);
    r->type = tarn::ToUtf8(o.type);
    r->text = tarn::ToUtf8(tarn::binding::ValueText(o.value));
    r->reports.reserve(o.reports.size());
    for (const tarn::binding::Report& e : o.reports)
      r->reports.push_back({e.number, tarn::ToUtf8(e.procedure), tarn::ToUtf8(e.message)});
    *out = r.release();
    return TARN_OK;
  });
}

void tarn_result_free(tarn_result* result) { delete result; }

int tarn_result_has_field(const tarn_result* result) { return result && result->has_field; }

int tarn_result_is_error(const tarn_result* result) { return result && result->is_error; }

tarn_kind tarn_result_kind(const tarn_result* result) {
  return result ? result->kind : TARN_KIND_EMPTY;
}

const char* tarn_result_type(const tarn_result* result) {
  return result ? result->type.c_str() : "";
}

const char* tarn_result_text(const tarn_result* result) {
  return result ? result->text.c_str() : "";
}

tarn_status tarn_result_number(const tarn_result* result, double* out) {
  if (!result || !out) return TARN_ERR_NULL_ARGUMENT;
  if (!result->has_number) return TARN_ERR_NOT_A_NUMBER;
  *out = result->number;
  return TARN_OK;
}

size_t tarn_result_report_count(const tarn_result* result) {
  return result ? result->reports.size() : 0;
}

tarn_status tarn_result_report(const tarn_result* result, size_t index, int32_t* number,
                               const char** procedure, const char** message) {
  if (!result) return TARN_ERR_NULL_ARGUMENT;
  if (index >= result->reports.size()) return TARN_ERR_INVALID_ARGUMENT;
  const tarn_result::Report& r = result->reports[index];
  if (number) *number = r.number;
  if (procedure) *procedure = r.procedure.c_str();
  if (message) *message = r.message.c_str();
  return TARN_OK;
}

}  // extern "C"
