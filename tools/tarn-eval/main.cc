// tarn-eval: evaluates expressions against a set of data fields.
//
//   tarn-eval [options] [EXPRESSION...]
//
// Expressions come from -e/--expr (in order), then the positional
// arguments, then --file; one Interpreter evaluates them all in that order
// against one host collection. Exit status: 0, 1 when any expression
// returned the "Error" data field, 2 for a usage error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tarn/tarn.h"

namespace {

using nlohmann::json;
using tarn::FromUtf8;
using tarn::ToUtf8;

struct UsageError {
  std::string message;
};

// The value of a field as its type word converts it.
tarn::Variant ConvertValue(const std::string& field, const std::string& type,
                           const tarn::Variant& raw) {
  try {
    if (type == "String") return tarn::CStr(raw);
    return tarn::ConvertByTypeWord(FromUtf8(type), raw);
  } catch (const tarn::RuntimeError& e) {
    throw UsageError{"field '" + field + "': value does not convert to " + type + " (" +
                     ToUtf8(e.description()) + ")"};
  }
}

void AddField(tarn::DataFields& fields, const std::string& name, const std::string& type,
              const tarn::Variant& value) {
  if (!fields.AddField(FromUtf8(name), FromUtf8(type), value))
    throw UsageError{"field '" + name + "' is given twice"};
}

// NAME=TYPE[:VALUE]
void AddFieldSpec(tarn::DataFields& fields, const std::string& spec) {
  const auto eq = spec.find('=');
  if (eq == std::string::npos || eq == 0)
    throw UsageError{"--field '" + spec + "': expected NAME=TYPE[:VALUE]"};
  const std::string name = spec.substr(0, eq);
  const std::string rest = spec.substr(eq + 1);
  const auto colon = rest.find(':');
  const std::string type = rest.substr(0, colon);
  if (type.empty()) throw UsageError{"--field '" + spec + "': the type is missing"};
  tarn::Variant value;
  if (colon != std::string::npos)
    value = ConvertValue(name, type, tarn::Variant(FromUtf8(rest.substr(colon + 1))));
  AddField(fields, name, type, value);
}

tarn::Variant FromJson(const json& j) {
  if (j.is_null()) return tarn::Variant::Null();
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

void AddFieldsFile(tarn::DataFields& fields, const std::string& path) {
  std::ifstream in(path);
  if (!in) throw UsageError{"--fields '" + path + "': cannot be read"};
  json doc;
  try {
    doc = json::parse(in);
  } catch (const json::exception& e) {
    throw UsageError{"--fields '" + path + "': " + e.what()};
  }
  if (!doc.is_object()) throw UsageError{"--fields '" + path + "': expected an object"};
  for (const auto& [name, spec] : doc.items()) {
    if (!spec.is_object() || !spec.contains("type") || !spec["type"].is_string())
      throw UsageError{"--fields '" + path + "': field '" + name + "' needs a \"type\""};
    const std::string type = spec["type"].get<std::string>();
    tarn::Variant value;
    if (spec.contains("value")) value = ConvertValue(name, type, FromJson(spec["value"]));
    AddField(fields, name, type, value);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError{"--file '" + path + "': cannot be read"};
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string TextOf(const tarn::Variant& v) {
  if (v.is_null()) return "Null";
  try {
    return ToUtf8(tarn::CStr(v));
  } catch (const tarn::RuntimeError&) {
    return ToUtf8(v.TypeName());
  }
}

bool IsErrorField(const tarn::ObjectRef& r) {
  if (!r) return false;
  try {
    const tarn::Variant data = tarn::Get(r, u"Data");
    return tarn::CStr(tarn::Get(r, u"Name")) == u"Error" &&
           tarn::CStr(tarn::Get(r, u"DataType")) == u"Boolean" &&
           data.kind() == tarn::Kind::Boolean && !data.boolean();
  } catch (const tarn::RuntimeError&) {
    return false;
  }
}

json ReportJson(const tarn::ErrorReport& r) {
  return json{{"number", r.number},
              {"message", ToUtf8(r.message)},
              {"procedure", ToUtf8(r.procedure)},
              {"when", ToUtf8(tarn::CStr(r.when))},
              {"arg4", r.arg4},
              {"arg5", r.arg5},
              {"system", ToUtf8(r.system)},
              {"application", ToUtf8(r.application)},
              {"release", ToUtf8(r.release)},
              {"class", ToUtf8(r.class_name)}};
}

json ResultJson(const tarn::ObjectRef& r) {
  if (!r) return nullptr;
  json out;
  try {
    const tarn::Variant data = tarn::Get(r, u"Data");
    out["Name"] = TextOf(tarn::Get(r, u"Name"));
    out["DataType"] = TextOf(tarn::Get(r, u"DataType"));
    out["kind"] = ToUtf8(data.TypeName());
    out["text"] = TextOf(data);
  } catch (const tarn::RuntimeError& e) {
    out["error"] = ToUtf8(e.description());
  }
  return out;
}

int Run(int argc, char** argv) {
  CLI::App app{"Evaluates tarnintr expressions against a set of data fields.", "tarn-eval"};
  std::vector<std::string> exprs, positional, field_specs;
  std::string file, fields_file;
  bool as_json = false, version = false;
  app.add_option("-e,--expr", exprs, "An expression to evaluate (repeatable)")
      ->allow_extra_args(false);
  app.add_option("--file", file, "A file holding one expression text (may span lines)");
  app.add_option("-f,--field", field_specs, "Adds a data field: NAME=TYPE[:VALUE] (repeatable)")
      ->allow_extra_args(false);
  app.add_option("--fields", fields_file, "Adds data fields from a JSON file");
  app.add_flag("--json", as_json, "One JSON object per expression");
  app.add_flag("--version", version, "Prints the library's release");
  app.add_option("expressions", positional, "Expressions to evaluate");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "tarn-eval: " << e.what() << "\n";
    return 2;
  }

  tarn::Interpreter interpreter;
  if (version) {
    std::cout << ToUtf8(interpreter.Release()) << "\n";
    return 0;
  }

  auto fields = tarn::MakeRef<tarn::DataFields>();
  auto errors = tarn::MakeRef<tarn::RecordingErrorManager>();
  std::vector<std::string> texts;
  try {
    for (const auto& spec : field_specs) AddFieldSpec(*fields, spec);
    if (!fields_file.empty()) AddFieldsFile(*fields, fields_file);
    texts = exprs;
    texts.insert(texts.end(), positional.begin(), positional.end());
    if (!file.empty()) texts.push_back(ReadFile(file));
  } catch (const UsageError& e) {
    std::cerr << "tarn-eval: " << e.message << "\n";
    return 2;
  }

  interpreter.Init(fields, errors, u"tarn-eval", u"tarn-eval");
  int status = 0;
  for (const auto& text : texts) {
    errors->Clear();
    std::u16string expression = FromUtf8(text);
    tarn::ObjectRef result = interpreter.RealizeRegularExpressionInPlace(expression);
    if (IsErrorField(result)) status = 1;
    if (as_json) {
      json reports = json::array();
      for (const auto& r : errors->reports()) reports.push_back(ReportJson(r));
      json line{{"expression", ToUtf8(expression)},
                {"result", ResultJson(result)},
                {"reports", reports},
                {"fields", fields->Count()}};
      std::cout << line.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    } else {
      for (const auto& r : errors->reports())
        std::cerr << r.number << " " << ToUtf8(r.procedure) << ": " << ToUtf8(r.message) << "\n";
      std::cout << (result ? TextOf(tarn::Get(result, u"Data")) : std::string()) << "\n";
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "tarn-eval: " << e.what() << "\n";
    return 2;
  }
}
