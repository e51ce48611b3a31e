// The extension module tarnintr._tarnintr: Python values to data fields and
// back, an interpreter whose collection is a mapping between evaluations,
// and the HL7 builder. Evaluations and message builds run without the GIL;
// a lock per interpreter keeps two threads from sharing one at a time.
#include <Python.h>
#include <datetime.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hl7/pipeline.h"
#include "tarn/convert.h"
#include "tarn/tarn.h"

namespace py = pybind11;

namespace {

using tarn::Kind;
using tarn::Variant;

// --- dates --------------------------------------------------------------

// Days from 1 January 1970 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct CalendarTime {
  int year, month, day, hour, minute, second;
};

CalendarTime CivilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d), 0, 0, 0};
}

// Date serials count days from 30 December 1899; before it the day counts
// down and the time still counts up.
constexpr long long kSerialEpoch = -25569;  // 30 December 1899, from 1970

std::optional<double> DateSerial(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999) return std::nullopt;
  const long long days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kSerialEpoch;
  const double time = (hour * 3600 + minute * 60 + second) / 86400.0;
  return static_cast<double>(days) + (days < 0 ? -time : time);
}

CalendarTime SplitDate(double serial) {
  double whole = std::trunc(serial);
  long long seconds = std::llround(std::fabs(serial - whole) * 86400.0);
  if (seconds >= 86400) {
    seconds -= 86400;
    whole += serial < 0 ? -1 : 1;
  }
  CalendarTime c = CivilFromDays(static_cast<long long>(whole) + kSerialEpoch);
  c.hour = static_cast<int>(seconds / 3600);
  c.minute = static_cast<int>(seconds / 60 % 60);
  c.second = static_cast<int>(seconds % 60);
  return c;
}

// --- the interpreter's session ------------------------------------------

struct Report {
  std::int32_t number = 0;
  std::u16string procedure;
  std::u16string message;
};

struct Outcome {
  bool is_error = false;
  Variant value;
  std::u16string type;
  std::vector<Report> reports;
};

// An object's default member, read until a plain value comes out; a host
// object that fails to answer gives Empty.
Variant Plain(Variant v) {
  for (int depth = 0; v.is_object() && depth < 8; ++depth) {
    try {
      v = v.object() ? tarn::DefaultValue(v) : Variant();
    } catch (const tarn::RuntimeError&) {
      return {};
    }
  }
  return v.is_object() ? Variant() : v;
}

class Session {
 public:
  Session(tarn::Ref<tarn::DataFields> fields, std::u16string_view application)
      : fields_(std::move(fields)), errors_(tarn::MakeRef<tarn::RecordingErrorManager>()) {
    interpreter_.Init(fields_, errors_, u"tarnintr", application);
  }
  Outcome Evaluate(std::u16string_view text) {
    errors_->Clear();
    const tarn::Evaluation e = interpreter_.Evaluate(text);
    Outcome out;
    out.is_error = e.is_error();
    out.value = Plain(e.value());
    out.type = e.type();
    out.reports.reserve(e.reports().size());
    for (const tarn::EvaluationReport& r : e.reports())
      out.reports.push_back({r.number, r.procedure, r.message});
    return out;
  }
  void set_strict(bool on) noexcept { interpreter_.set_strict(on); }
  bool strict() const noexcept { return interpreter_.strict(); }

 private:
  tarn::Ref<tarn::DataFields> fields_;
  tarn::Ref<tarn::RecordingErrorManager> errors_;
  tarn::Interpreter interpreter_;
};

// Adds a field or, when the name is taken (in any letter case), replaces
// that field's type word and value in place.
void SetField(tarn::DataFields& fields, std::u16string_view name, std::u16string_view type,
              Variant value) {
  tarn::ObjectRef existing = fields.Find(name);
  if (tarn::DataField* f = tarn::AsDataField(existing.get())) {
    f->set_data_type(type);
    f->set_data(std::move(value));
    return;
  }
  if (existing) fields.Erase(name);
  fields.AddField(name, type, std::move(value));
}

struct FieldValue {
  Variant value;
  std::u16string type;
};

std::optional<FieldValue> GetField(const tarn::DataFields& fields, std::u16string_view name) {
  tarn::ObjectRef field = fields.Find(name);
  if (!field) return std::nullopt;
  if (const tarn::DataField* f = tarn::AsDataField(field.get())) {
    return FieldValue{Plain(f->data()), f->data_type()};
  }
  try {
    return FieldValue{Plain(tarn::Get(field, u"Data")), tarn::CStr(tarn::Get(field, u"DataType"))};
  } catch (const tarn::RuntimeError&) {
    return FieldValue{};
  }
}

// --- text ---------------------------------------------------------------

// A str as 16-bit units; characters beyond the first plane become pairs and
// a lone surrogate stays as it is.
std::u16string ToText(py::handle s) {
  if (!PyUnicode_Check(s.ptr())) throw py::type_error("expected a str");
  PyObject* o = s.ptr();
  const Py_ssize_t n = PyUnicode_GET_LENGTH(o);
  const void* data = PyUnicode_DATA(o);
  std::u16string out;
  switch (PyUnicode_KIND(o)) {
    case PyUnicode_1BYTE_KIND: {
      auto* p = static_cast<const Py_UCS1*>(data);
      out.assign(p, p + n);
      break;
    }
    case PyUnicode_2BYTE_KIND: {
      auto* p = static_cast<const Py_UCS2*>(data);
      out.assign(p, p + n);
      break;
    }
    default: {
      auto* p = static_cast<const Py_UCS4*>(data);
      out.reserve(static_cast<std::size_t>(n) + 8);
      for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = p[i];
        if (c >= 0x10000) {
          c -= 0x10000;
          out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
          out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
          out.push_back(static_cast<char16_t>(c));
        }
      }
    }
  }
  return out;
}

// 16-bit units as a str: pairs join, a lone surrogate stays one character.
py::str FromText(std::u16string_view t) {
  bool surrogates = false;
  for (char16_t c : t)
    if (c >= 0xD800 && c <= 0xDFFF) {
      surrogates = true;
      break;
    }
  PyObject* o;
  if (!surrogates) {
    o = PyUnicode_FromKindAndData(PyUnicode_2BYTE_KIND, t.data(),
                                  static_cast<Py_ssize_t>(t.size()));
  } else {
    std::u32string wide;
    wide.reserve(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
      char32_t c = t[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 &&
          t[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (t[i + 1] - 0xDC00);
        ++i;
      }
      wide.push_back(c);
    }
    o = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, wide.data(),
                                  static_cast<Py_ssize_t>(wide.size()));
  }
  if (!o) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(o);
}

std::string Utf8(std::u16string_view t) { return tarn::ToUtf8(t); }

// --- values -------------------------------------------------------------

struct Field {
  py::object value;
  std::optional<std::string> type;
};

struct Typed {
  Variant value;
  std::u16string type;
};

Typed DateValue(py::handle v) {
  PyObject* o = v.ptr();
  int hour = 0, minute = 0, second = 0;
  if (PyDateTime_Check(o)) {
    hour = PyDateTime_DATE_GET_HOUR(o);
    minute = PyDateTime_DATE_GET_MINUTE(o);
    second = PyDateTime_DATE_GET_SECOND(o);
  }
  auto serial = DateSerial(PyDateTime_GET_YEAR(o), PyDateTime_GET_MONTH(o), PyDateTime_GET_DAY(o),
                           hour, minute, second);
  if (!serial) throw py::value_error("a date field lies between the years 100 and 9999");
  return {tarn::Date{*serial}, u"Date"};
}

// A Python value as a field's value and type word, as tarn-hl7 reads JSON.
Typed Natural(py::handle v) {
  PyObject* o = v.ptr();
  if (o == Py_None) return {Variant::Null(), u"Null"};
  if (PyBool_Check(o)) return {Variant(o == Py_True), u"Boolean"};
  if (PyLong_Check(o)) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (!overflow && n >= INT32_MIN && n <= INT32_MAX)
      return {Variant(static_cast<std::int32_t>(n)), u"Long"};
    if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
    const double d = PyLong_AsDouble(o);
    if (d == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      throw py::value_error("the int is too large for a Double field");
    }
    return {Variant(d), u"Double"};
  }
  if (PyFloat_Check(o)) {
    const double d = PyFloat_AS_DOUBLE(o);
    if (!std::isfinite(d)) throw py::value_error("a Double field holds a finite number");
    return {Variant(d), u"Double"};
  }
  if (PyUnicode_Check(o)) return {Variant(ToText(v)), u"String"};
  if (PyDate_Check(o)) return DateValue(v);
  throw py::type_error(std::string("a value of type '") + Py_TYPE(o)->tp_name +
                       "' cannot be a field");
}

Typed ToField(py::handle v) {
  if (!py::isinstance<Field>(v)) return Natural(v);
  const Field& f = v.cast<const Field&>();
  Typed t = Natural(f.value);
  if (!f.type) return t;
  const std::u16string word = ToText(py::str(*f.type));
  if (word.empty()) throw py::value_error("a type word is a non-empty text");
  try {
    t.value = tarn::ConvertByTypeWord(word, t.value);
  } catch (const tarn::RuntimeError& e) {
    throw py::value_error(py::repr(f.value).cast<std::string>() + " does not convert to " +
                          *f.type + ": " + Utf8(e.description()));
  }
  t.type = std::move(word);
  return t;
}

py::object FromValue(const Variant& v) {
  switch (v.kind()) {
    case Kind::Integer: return py::int_(v.integer());
    case Kind::Long: return py::int_(v.long_value());
    case Kind::Single: return py::float_(v.single());
    case Kind::Double: return py::float_(v.double_value());
    case Kind::Boolean: return py::bool_(v.boolean());
    case Kind::String: return FromText(v.string());
    case Kind::Date: {
      const auto c = SplitDate(v.date().serial);
      PyObject* o =
          PyDateTime_FromDateAndTime(c.year, c.month, c.day, c.hour, c.minute, c.second, 0);
      if (!o) throw py::error_already_set();
      return py::reinterpret_steal<py::object>(o);
    }
    default: return py::none();
  }
}

std::u16string Key(py::handle name) {
  if (!PyUnicode_Check(name.ptr())) throw py::type_error("a field name is a str");
  std::u16string key = ToText(name);
  if (key.empty()) throw py::value_error("a field name is not empty");
  return key;
}

// --- results ------------------------------------------------------------

// Results and reports are struct sequences: named, read-only, compared by
// value, and far cheaper to make than instances of a bound class.
PyStructSequence_Field kResultFields[] = {{"value", "the result field's value"},
                                          {"type", "the result field's type word"},
                                          {"is_error", "whether the text could not be evaluated"},
                                          {"reports", "the reports made during the call"},
                                          {nullptr, nullptr}};
PyStructSequence_Desc kResultDesc = {"tarnintr.Result", "What one evaluation gave.", kResultFields,
                                     4};
PyStructSequence_Field kReportFields[] = {{"number", "the error's number"},
                                          {"procedure", "where it was raised"},
                                          {"message", "the message the error manager received"},
                                          {nullptr, nullptr}};
PyStructSequence_Desc kReportDesc = {"tarnintr.Report", "A report made during an evaluation.",
                                     kReportFields, 3};

py::object NewType(PyStructSequence_Desc& desc) {
  PyTypeObject* t = PyStructSequence_NewType(&desc);
  if (!t) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(t));
}

// Fills a new struct sequence of `type`, taking the items.
py::object Sequence(py::handle type, std::initializer_list<py::object> items) {
  PyObject* o = PyStructSequence_New(reinterpret_cast<PyTypeObject*>(type.ptr()));
  if (!o) throw py::error_already_set();
  Py_ssize_t i = 0;
  for (const py::object& item : items) PyStructSequence_SetItem(o, i++, item.inc_ref().ptr());
  return py::reinterpret_steal<py::object>(o);
}

struct Types {
  py::object result, report;
  static Types Of(py::module_ m) { return {m.attr("Result"), m.attr("Report")}; }
  static Types Load() { return Of(py::module_::import("tarnintr._tarnintr")); }
};

py::object MakeReport(const Types& t, std::int32_t number, std::u16string_view procedure,
                      std::u16string_view message) {
  return Sequence(t.report, {py::int_(number), FromText(procedure), FromText(message)});
}

py::list Reports(const Types& t, const std::vector<Report>& reports) {
  py::list out(reports.size());
  for (std::size_t i = 0; i < reports.size(); ++i)
    out[i] = MakeReport(t, reports[i].number, reports[i].procedure, reports[i].message);
  return out;
}

// --- interpreter --------------------------------------------------------

struct State {
  State() : fields(tarn::MakeRef<tarn::DataFields>()), session(fields, u"Python") {}
  tarn::Ref<tarn::DataFields> fields;
  Session session;
  std::mutex mutex;
};

class FieldMap {
 public:
  explicit FieldMap(std::shared_ptr<State> s) : s_(std::move(s)) {}

  py::object Get(py::handle name) const {
    const std::u16string key = Key(name);
    std::optional<FieldValue> f;
    {
      std::lock_guard lock(s_->mutex);
      f = GetField(*s_->fields, key);
    }
    if (!f) throw py::key_error(py::str(name));
    return FromValue(f->value);
  }
  py::object GetOr(py::handle name, py::object fallback) const {
    try {
      return Get(name);
    } catch (const py::key_error&) {
      return fallback;
    }
  }
  std::string TypeOf(py::handle name) const {
    const std::u16string key = Key(name);
    std::lock_guard lock(s_->mutex);
    auto f = GetField(*s_->fields, key);
    if (!f) throw py::key_error(py::str(name));
    return Utf8(f->type);
  }
  void Set(py::handle name, py::handle value) {
    std::u16string key = Key(name);
    Typed t = ToField(value);
    std::lock_guard lock(s_->mutex);
    SetField(*s_->fields, key, t.type, std::move(t.value));
  }
  void Delete(py::handle name) {
    const std::u16string key = Key(name);
    bool erased;
    {
      std::lock_guard lock(s_->mutex);
      erased = s_->fields->Erase(key);
    }
    if (!erased) throw py::key_error(py::str(name));
  }
  bool Contains(py::handle name) const {
    if (!PyUnicode_Check(name.ptr())) return false;
    const std::u16string key = ToText(name);
    std::lock_guard lock(s_->mutex);
    return s_->fields->Exists(key);
  }
  std::size_t Size() const {
    std::lock_guard lock(s_->mutex);
    return s_->fields->Count();
  }
  py::list Keys() const {
    std::vector<std::u16string> keys;
    {
      std::lock_guard lock(s_->mutex);
      keys = s_->fields->Keys();
    }
    py::list out;
    for (const auto& k : keys) out.append(FromText(k));
    return out;
  }
  py::list Values() const {
    py::list out;
    for (auto k : Keys()) out.append(Get(k));
    return out;
  }
  py::list Items() const {
    py::list out;
    for (auto k : Keys()) out.append(py::make_tuple(k, Get(k)));
    return out;
  }
  void Update(py::handle mapping) {
    if (!py::hasattr(mapping, "items"))
      throw py::type_error("fields are a mapping of names to values");
    py::object items = mapping.attr("items")();
    for (auto item : items) {
      auto pair = item.cast<py::tuple>();
      Set(pair[0], pair[1]);
    }
  }
  void Clear() {
    std::lock_guard lock(s_->mutex);
    for (const auto& k : s_->fields->Keys()) s_->fields->Erase(k);
  }

 private:
  std::shared_ptr<State> s_;
};

class PyInterpreter {
 public:
  PyInterpreter(py::object fields, bool strict)
      : s_(std::make_shared<State>()), types_(Types::Load()) {
    s_->session.set_strict(strict);
    if (!fields.is_none()) FieldMap(s_).Update(fields);
  }

  py::object Evaluate(py::handle text) {
    const std::u16string t = ToText(text);
    Outcome o;
    {
      py::gil_scoped_release release;
      std::lock_guard lock(s_->mutex);
      o = s_->session.Evaluate(t);
    }
    return Sequence(types_.result, {FromValue(o.value), FromText(o.type), py::bool_(o.is_error),
                                    Reports(types_, o.reports)});
  }

  // Seconds for `count` evaluations inside the library, none of them
  // converted to Python: what a call costs without the binding.
  double TimeInLibrary(py::handle text, std::size_t count) {
    const std::u16string t = ToText(text);
    py::gil_scoped_release release;
    std::lock_guard lock(s_->mutex);
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < count; ++i) s_->session.Evaluate(t);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  FieldMap Fields() const { return FieldMap(s_); }
  bool strict() const { return s_->session.strict(); }

 private:
  std::shared_ptr<State> s_;
  Types types_;
};

// --- HL7 ----------------------------------------------------------------

std::string Utf8Of(py::handle s) {
  if (!PyUnicode_Check(s.ptr())) throw py::type_error("expected a str");
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(s.ptr(), &n);
  if (!p) throw py::error_already_set();
  return std::string(p, static_cast<std::size_t>(n));
}

std::vector<std::string> Names(py::handle names) {
  std::vector<std::string> out;
  if (!names.is_none())
    for (auto n : names) out.push_back(Utf8Of(n));
  return out;
}

py::tuple Result(const tarn::hl7::Built& b) {
  const std::string& text = b.ok ? b.message : b.reject;
  PyObject* o = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (!o) throw py::error_already_set();
  return py::make_tuple(py::bool_(b.ok), py::reinterpret_steal<py::str>(o));
}

// tarn-hl7's pipeline: records (a text, or one JSON object's text per
// record) to messages and rejects, each a (True, message) or (False, the
// reject record's JSON text).
class PyPipeline {
 public:
  PyPipeline(py::handle template_text, const std::string& file, py::handle dates,
             const std::string& date_order, const std::string& control_prefix, bool lenient,
             const std::string& format) {
    tarn::hl7::PipelineOptions o;
    o.dates = Names(dates);
    o.date_order = date_order;
    o.format = format;
    o.control_prefix = control_prefix;
    o.strict = !lenient;
    const std::string text = Utf8Of(template_text);
    try {
      pipeline_.emplace(tarn::hl7::Pipeline::FromText(text, file, std::move(o)));
    } catch (const std::exception& e) {
      throw py::value_error(e.what());
    }
  }

  py::list BuildText(py::handle records, const std::string& path) {
    const std::string text = Utf8Of(records);
    std::vector<tarn::hl7::Built> built;
    {
      py::gil_scoped_release release;
      try {
        built = tarn::hl7::BuildText(*pipeline_, text, path);
      } catch (const std::runtime_error& e) {
        py::gil_scoped_acquire acquire;
        throw py::value_error(e.what());
      }
    }
    py::list out;
    for (const auto& b : built) out.append(Result(b));
    return out;
  }

  // One record: its JSON text, number and line, the names of its members
  // that hold dates, and why it cannot be used (empty when it can).
  py::tuple BuildJson(py::handle text, std::size_t number, std::size_t line, py::handle dates,
                      const std::string& error) {
    std::string json = Utf8Of(text);
    const std::vector<std::string> names = Names(dates);
    tarn::hl7::Built built;
    {
      py::gil_scoped_release release;
      if (!builder_) builder_ = std::make_unique<tarn::hl7::RecordBuilder>(*pipeline_);
      builder_->BuildJson(std::move(json), number, line, names, built, error);
    }
    return Result(built);
  }

 private:
  std::optional<tarn::hl7::Pipeline> pipeline_;
  std::unique_ptr<tarn::hl7::RecordBuilder> builder_;
};

}  // namespace

PYBIND11_MODULE(_tarnintr, m) {
  PyDateTime_IMPORT;
  if (!PyDateTimeAPI) throw py::error_already_set();
  m.attr("__version__") = TARN_PROJECT_VERSION;

  py::class_<Field>(m, "Field")
      .def(py::init([](py::object value, std::optional<std::string> type) {
             Field f{std::move(value), std::move(type)};
             ToField(py::cast(f));  // refuses what cannot be a field now, not later
             return f;
           }),
           py::arg("value"), py::kw_only(), py::arg("type") = py::none())
      .def_readonly("value", &Field::value)
      .def_readonly("type", &Field::type)
      .def("__repr__", [](const Field& f) {
        std::string s = "Field(" + py::repr(f.value).cast<std::string>();
        if (f.type) s += ", type=" + py::repr(py::str(*f.type)).cast<std::string>();
        return s + ")";
      });

  m.attr("Result") = NewType(kResultDesc);
  m.attr("Report") = NewType(kReportDesc);

  py::class_<FieldMap>(m, "Fields")
      .def("__getitem__", &FieldMap::Get)
      .def("__setitem__", &FieldMap::Set)
      .def("__delitem__", &FieldMap::Delete)
      .def("__contains__", &FieldMap::Contains)
      .def("__len__", &FieldMap::Size)
      .def("__iter__", [](const FieldMap& f) { return py::iter(f.Keys()); })
      .def("keys", &FieldMap::Keys)
      .def("values", &FieldMap::Values)
      .def("items", &FieldMap::Items)
      .def("get", &FieldMap::GetOr, py::arg("name"), py::arg("default") = py::none())
      .def("type_of", &FieldMap::TypeOf, py::arg("name"))
      .def("update", &FieldMap::Update)
      .def("clear", &FieldMap::Clear)
      .def("__repr__", [](const FieldMap& f) {
        py::dict d;
        for (auto k : f.Keys()) d[k] = f.Get(k);
        return "Fields(" + py::repr(d).cast<std::string>() + ")";
      });

  py::class_<PyInterpreter>(m, "Interpreter")
      .def(py::init<py::object, bool>(), py::arg("fields") = py::none(), py::kw_only(),
           py::arg("strict") = false)
      .def("evaluate", &PyInterpreter::Evaluate, py::arg("text"))
      .def("_time_in_library", &PyInterpreter::TimeInLibrary, py::arg("text"), py::arg("count"))
      .def_property_readonly("fields", &PyInterpreter::Fields)
      .def_property_readonly("strict", &PyInterpreter::strict);

  py::class_<PyPipeline>(m, "_Pipeline")
      .def(py::init<py::handle, const std::string&, py::handle, const std::string&,
                    const std::string&, bool, const std::string&>(),
           py::arg("template_text"), py::arg("file"), py::arg("dates"), py::arg("date_order"),
           py::arg("control_prefix"), py::arg("lenient"), py::arg("format"))
      .def("build_text", &PyPipeline::BuildText, py::arg("records"), py::arg("path"))
      .def("build_json", &PyPipeline::BuildJson, py::arg("text"), py::arg("number"),
           py::arg("line"), py::arg("dates"), py::arg("error"));
}
