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

#include "capi/session.h"
#include "hl7/message.h"
#include "hl7/names.h"
#include "hl7/records.h"
#include "hl7/template.h"
#include "platform/date.h"

namespace py = pybind11;

namespace {

using tarn::Kind;
using tarn::Variant;
using tarn::binding::Session;

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
  auto serial = tarn::binding::DateSerial(PyDateTime_GET_YEAR(o), PyDateTime_GET_MONTH(o),
                                          PyDateTime_GET_DAY(o), hour, minute, second);
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
  std::u16string word;
  if (!tarn::binding::DecodeUtf8(*f.type, word) || word.empty())
    throw py::value_error("a type word is a non-empty text");
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
      const auto c = tarn::binding::SplitDate(v.date().serial);
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

py::list Reports(const Types& t, const std::vector<tarn::binding::Report>& reports) {
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
    std::optional<tarn::binding::FieldValue> f;
    {
      std::lock_guard lock(s_->mutex);
      f = tarn::binding::GetField(*s_->fields, key);
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
    auto f = tarn::binding::GetField(*s_->fields, key);
    if (!f) throw py::key_error(py::str(name));
    return Utf8(f->type);
  }
  void Set(py::handle name, py::handle value) {
    std::u16string key = Key(name);
    Typed t = ToField(value);
    std::lock_guard lock(s_->mutex);
    tarn::binding::SetField(*s_->fields, key, t.type, std::move(t.value));
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
    tarn::binding::Outcome o;
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

// A record's member as tarn-hl7 reads a JSON member: None is an empty text,
// mappings flatten to Outer_Inner, sequences at the top become lists.
void AddMember(const std::u16string& name, py::handle value,
               const std::vector<std::u16string>& dates, std::vector<tarn::hl7::Field>& fields,
               std::vector<tarn::hl7::List>* lists) {
  PyObject* o = value.ptr();
  if (PyDict_Check(o)) {
    for (auto [k, v] : py::reinterpret_borrow<py::dict>(value))
      AddMember(name + u"_" + Key(k), v, dates, fields, lists);
    return;
  }
  if (PyList_Check(o) || PyTuple_Check(o)) {
    if (!lists) return;
    tarn::hl7::List list{name, {}};
    for (auto element : value) {
      std::vector<tarn::hl7::Field> members;
      if (PyDict_Check(element.ptr())) {
        for (auto [k, v] : py::reinterpret_borrow<py::dict>(element))
          AddMember(Key(k), v, dates, members, nullptr);
      } else {
        AddMember(u"Value", element, dates, members, nullptr);
      }
      list.elements.push_back(std::move(members));
    }
    lists->push_back(std::move(list));
    return;
  }
  if (o == Py_None) {
    fields.push_back({name, u"String", Variant(std::u16string())});
    return;
  }
  Typed t = ToField(value);
  if (t.value.is_string() && !t.value.string().empty()) {
    for (const auto& d : dates)
      if (tarn::hl7::SameName(d, name)) {
        auto serial = tarn::detail::ParseDateText(t.value.string());
        if (!serial) throw py::value_error("member '" + Utf8(name) + "' is no date");
        t = {tarn::Date{*serial}, u"Date"};
        break;
      }
  }
  fields.push_back({name, std::move(t.type), std::move(t.value)});
}

std::string Utf8Of(py::handle s) {
  if (!PyUnicode_Check(s.ptr())) throw py::type_error("expected a str");
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(s.ptr(), &n);
  if (!p) throw py::error_already_set();
  return std::string(p, static_cast<std::size_t>(n));
}

py::tuple BuildMessages(py::handle template_text, py::handle records, py::handle dates) {
  const Types types = Types::Load();
  std::vector<std::string> date_names;
  std::vector<std::u16string> date_keys;
  if (!dates.is_none())
    for (auto d : dates) {
      date_names.push_back(Utf8Of(d));
      date_keys.push_back(ToText(d));
    }
  tarn::hl7::Template tmpl;
  try {
    tmpl = tarn::hl7::ParseTemplate(Utf8Of(template_text), "template");
  } catch (const tarn::hl7::TemplateError& e) {
    throw py::value_error(e.what());
  }
  std::vector<tarn::hl7::Record> parsed;
  if (PyUnicode_Check(records.ptr())) {
    tarn::hl7::RecordOptions options;
    options.dates = date_names;
    const std::string text = Utf8Of(records);
    py::gil_scoped_release release;
    parsed = tarn::hl7::ParseRecords(text, options);
  } else {
    std::size_t number = 0;
    for (auto item : records) {
      if (!PyDict_Check(item.ptr())) throw py::type_error("a record is a dict");
      tarn::hl7::Record r;
      r.number = ++number;
      r.source = py::repr(item).cast<std::string>();
      for (auto [k, v] : py::reinterpret_borrow<py::dict>(item))
        AddMember(Key(k), v, date_keys, r.fields, &r.lists);
      parsed.push_back(std::move(r));
    }
  }
  std::vector<tarn::hl7::Outcome> outcomes(parsed.size());
  {
    py::gil_scoped_release release;
    tarn::hl7::MessageBuilder builder(tmpl);
    for (std::size_t i = 0; i < parsed.size(); ++i)
      if (parsed[i].error.empty()) outcomes[i] = builder.Build(parsed[i]);
  }
  py::list messages, rejects;
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    const auto& r = parsed[i];
    const auto& o = outcomes[i];
    if (r.error.empty() && o.ok()) {
      messages.append(py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
          o.message.data(), static_cast<Py_ssize_t>(o.message.size()), "replace")));
      continue;
    }
    py::list expressions;
    for (const auto& f : o.failures) {
      py::list reports;
      for (const auto& e : f.reports)
        reports.append(MakeReport(types, e.number, e.procedure, e.message));
      py::dict d;
      d["at"] = std::to_string(f.at.line) + ":" + std::to_string(f.at.column);
      d["expression"] = f.expression;
      d["reason"] = f.reason;
      d["reports"] = reports;
      expressions.append(d);
    }
    py::dict reject;
    reject["record"] = r.number;
    reject["line"] = r.line;
    reject["reason"] = !r.error.empty()   ? py::object(py::str(r.error))
                       : o.reason.empty() ? py::object(py::none())
                                          : py::object(py::str(o.reason));
    reject["expressions"] = expressions;
    reject["input"] = r.source;
    rejects.append(reject);
  }
  return py::make_tuple(messages, rejects);
}

}  // namespace

PYBIND11_MODULE(_tarnintr, m) {
  PyDateTime_IMPORT;
  if (!PyDateTimeAPI) throw py::error_already_set();
  m.attr("__version__") = tarn::binding::VersionText();

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

  m.def("_build_hl7", &BuildMessages, py::arg("template_text"), py::arg("records"),
        py::arg("dates") = py::none());
}
