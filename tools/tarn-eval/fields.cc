// Host fields for tarn-eval: type words, value conversion, and the JSON
// fields file, read with a bound on its nesting.
#include "fields.h"

#include <nlohmann/json.hpp>

#include "hl7/pipeline.h"
#include "hl7/record_dates.h"
#include "hl7/records.h"

namespace tarn::eval {

namespace {

using nlohmann::json;

constexpr std::u16string_view kTypeWords[] = {u"Integer", u"Long", u"Single", u"Double",
                                              u"Boolean", u"Date", u"String"};

void NoteTypeWord(const std::string& field, const std::string& type,
                  std::vector<std::string>& warnings) {
  for (const auto w : kTypeWords)
    if (w == FromUtf8(type)) return;
  std::string list;
  for (const auto w : kTypeWords) list += (list.empty() ? "" : ", ") + ToUtf8(w);
  warnings.push_back("field '" + field + "': '" + type + "' is none of the system's type words (" +
                     list + "); it is kept as the host's own");
}

// The value of a field as its type word converts it.
Variant ConvertValue(const std::string& field, const std::string& type, const Variant& raw) {
  try {
    if (type == "String") return CStr(raw);
    return ConvertByTypeWord(FromUtf8(type), raw);
  } catch (const RuntimeError& e) {
    throw UsageError{"field '" + field + "': value does not convert to " + type + " (" +
                     ToUtf8(e.description()) + ")"};
  }
}

void AddField(DataFields& fields, const std::string& name, const std::string& type,
              const Variant& value) {
  if (!fields.AddField(FromUtf8(name), FromUtf8(type), value))
    throw UsageError{"field '" + name + "' is given twice"};
}

Variant FromJson(const json& j) {
  if (j.is_null()) return Variant::Null();
  if (j.is_boolean()) return j.get<bool>();
  if (j.is_number_integer()) {
    const auto v = j.get<long long>();
    if (v >= INT32_MIN && v <= INT32_MAX) return static_cast<std::int32_t>(v);
    return static_cast<double>(v);
  }
  if (j.is_number()) return j.get<double>();
  if (j.is_string()) return FromUtf8(j.get<std::string>());
  return FromUtf8(j.dump());
}

}  // namespace

hl7::DateOrder OrderOf(const std::string& word) {
  return word == "dmy"   ? hl7::DateOrder::Dmy
         : word == "ymd" ? hl7::DateOrder::Ymd
                         : hl7::DateOrder::Mdy;
}

void AddFieldSpec(DataFields& fields, const std::string& spec, std::vector<std::string>& warnings,
                  const std::string& date_order) {
  const auto eq = spec.find('=');
  if (eq == std::string::npos || eq == 0)
    throw UsageError{"--field '" + spec + "': expected NAME=TYPE[:VALUE]"};
  const std::string name = spec.substr(0, eq);
  const std::string rest = spec.substr(eq + 1);
  const auto colon = rest.find(':');
  const std::string type = rest.substr(0, colon);
  if (type.empty()) throw UsageError{"--field '" + spec + "': the type is missing"};
  NoteTypeWord(name, type, warnings);
  Variant value;
  if (colon != std::string::npos && type == "Date") {
    bool zoned = false;
    int offset = 0;
    const std::string text = rest.substr(colon + 1);
    if (const auto serial = hl7::ReadRecordDate(text, OrderOf(date_order), zoned, offset)) {
      AddField(fields, name, type, Date{*serial});
      if (zoned) AddField(fields, name + "Offset", "Long", static_cast<std::int32_t>(offset));
      return;
    }
  }
  if (colon != std::string::npos)
    value = ConvertValue(name, type, Variant(FromUtf8(rest.substr(colon + 1))));
  AddField(fields, name, type, value);
}

void AddRecordJson(DataFields& fields, const std::string& text, const std::string& label,
                   const std::vector<std::string>& dates, const std::string& date_order,
                   std::vector<std::string>& warnings) {
  hl7::RecordOptions options;
  options.dates = dates;
  options.date_order = OrderOf(date_order);
  options.format = hl7::RecordFormat::JsonLines;
  // One object, however many lines it takes.
  std::string one_line = text;
  for (char& c : one_line)
    if (c == '\n' || c == '\r') c = ' ';
  std::vector<hl7::Record> records;
  try {
    records = hl7::ParseRecords(one_line, options);
  } catch (const std::exception& e) {
    throw UsageError{label + ": " + e.what()};
  }
  if (records.size() != 1) throw UsageError{label + ": expected one JSON object"};
  hl7::Record& r = records.front();
  if (!r.error.empty()) throw UsageError{label + ": " + r.error};
  hl7::AddHostFields(r, {}, "1");
  for (const hl7::Field& f : r.fields)
    if (!fields.AddField(f.name, f.type, f.value))
      throw UsageError{label + ": field '" + ToUtf8(f.name) + "' is given twice"};
  for (const hl7::List& l : r.lists)
    warnings.push_back(label + ": list '" + ToUtf8(l.name) +
                       "' is left out (lists are walked by templates, not expressions)");
}

void AddFieldsJson(DataFields& fields, std::string_view text, const std::string& label,
                   std::vector<std::string>& warnings) {
  // The file's object, a field's object, its value: a few levels are plenty.
  if (hl7::JsonNestingDepth(text) > hl7::kMaxJsonDepth)
    throw UsageError{label + ": nests deeper than " + std::to_string(hl7::kMaxJsonDepth) +
                     " levels"};
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    throw UsageError{label + ": " + e.what()};
  }
  if (!doc.is_object()) throw UsageError{label + ": expected an object"};
  for (const auto& [name, spec] : doc.items()) {
    if (!spec.is_object() || !spec.contains("type") || !spec["type"].is_string())
      throw UsageError{label + ": field '" + name + "' needs a \"type\""};
    const std::string type = spec["type"].get<std::string>();
    NoteTypeWord(name, type, warnings);
    Variant value;
    if (spec.contains("value")) value = ConvertValue(name, type, FromJson(spec["value"]));
    AddField(fields, name, type, value);
  }
}

}  // namespace tarn::eval
