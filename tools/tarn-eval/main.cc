// tarn-eval: evaluates expressions against a set of data fields.
//
//   tarn-eval [options] [EXPRESSION...]
//
// Expressions come from -e/--expr (in order), then the positional
// arguments ("-": one per line from standard input), then --file; one
// Interpreter evaluates them all in that order against one host
// collection. Exit status: 0, 1 when any expression returned the
// interpreter's "Error" data field (with --strict also wherever tarn-hl7
// would reject the text), 2 for a usage error.
#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fields.h"
#include "hl7/io.h"
#include "hl7/names.h"
#include "tarn/tarn.h"

namespace {

using nlohmann::json;
using tarn::FromUtf8;
using tarn::ToUtf8;

using tarn::eval::UsageError;

constexpr const char* kFooter = R"(
Expressions are evaluated in this order: -e, the positional arguments (a
lone - reads one expression per line from standard input, skipping lines
that start with #), then --file.

With --strict the interpreter refuses texts that evaluate quietly to
something unmeant (a function reading the end of the text as an argument,
an IF block inside a branch, a branch whose words run together or that
cannot be evaluated, an argument that keeps a comma, a number joined to a
text in exponent form, a field hiding a function, a malformed time zone);
each is reported and gives the Error data field. The exit status is then 1
wherever tarn-hl7 would reject the text: also for a name that is no field,
any report (a division by zero), a text ending in an operator and a number
that would be written in exponent form.

--record reads one JSON object as tarn-hl7 reads a record (with --dates and
--date-order), with the fields tarn-hl7 adds (Now, ControlId, RecordNumber).

Exit status:
  0  every expression was evaluated
  1  an expression returned the interpreter's Error data field (--strict:
     or tarn-hl7 would reject it)
  2  a usage error, or a fields, record or expression file that cannot be read

Example:
  tarn-eval -f LastName=String:Smith -f Age=Long:42 'Format LastName, ">"' 'Age + 1'
  tarn-eval --strict --record patient.json --dates BirthDate 'FormatHL7DateTime BirthDate')";

// The whole file, or a usage error naming the option and the reason.
std::string ReadFile(const std::string& option, const std::string& path) {
  try {
    return tarn::hl7::ReadInput(path);
  } catch (const tarn::hl7::FileError& e) {
    throw UsageError{option + " '" + path + "': " + e.problem()};
  }
}

// A name that is no field, in strict mode: reported to the error manager as
// the interpreter reports an argument it cannot use (5), under the tool's name.
void ReportUnknownName(const tarn::Ref<tarn::RecordingErrorManager>& errors,
                       const std::string& problem, const std::u16string& release) {
  tarn::Variant number = std::int32_t{5};
  tarn::Variant message = u"Error: 5 - " + tarn::ErrorDescription(5) + u": " + FromUtf8(problem);
  tarn::Variant when = tarn::Now(), four = std::int16_t{4}, fifteen = std::int16_t{15};
  tarn::Variant system = u"tarn-eval", application = u"tarn-eval", rel = release,
                class_name = u"tarn-eval", procedure = u"UnknownNames";
  std::array<tarn::Arg, 11> args{
      tarn::Arg::ByVal(number),     tarn::Arg::ByVal(message),     tarn::Arg::ByVal(when),
      tarn::Arg::ByVal(four),       tarn::Arg::ByVal(fifteen),     tarn::Arg::Omitted(),
      tarn::Arg::ByRef(system),     tarn::Arg::ByRef(application), tarn::Arg::ByVal(rel),
      tarn::Arg::ByRef(class_name), tarn::Arg::ByVal(procedure)};
  tarn::Call(errors, u"ReportError", args);
}

std::string TextOf(const tarn::Variant& v) {
  if (v.is_null()) return "Null";
  try {
    return ToUtf8(tarn::CStr(v));
  } catch (const tarn::RuntimeError&) {
    return ToUtf8(v.TypeName());
  }
}

// The interpreter's own Error field; a host field that happens to be named
// Error is a value like any other.
bool IsErrorField(const tarn::ObjectRef& r, const tarn::DataFields& fields) {
  if (!r || fields.Find(u"Error") == r) return false;
  try {
    const tarn::Variant data = tarn::Get(r, u"Data");
    return tarn::CStr(tarn::Get(r, u"Name")) == u"Error" &&
           tarn::CStr(tarn::Get(r, u"DataType")) == u"Boolean" &&
           data.kind() == tarn::Kind::Boolean && !data.boolean();
  } catch (const tarn::RuntimeError&) {
    return false;
  }
}

// Why tarn-hl7 would reject a result that is not the Error field; empty
// when it would not.
std::string Rejected(const tarn::ObjectRef& r, const tarn::DataFields& fields,
                     const tarn::RecordingErrorManager& errors) {
  if (r && IsErrorField(r, fields)) return {};
  try {
    if (r && tarn::CStr(tarn::Get(r, u"DataType")) == u"Operator")
      return "the expression ends in an operator";
    const tarn::Variant data = r ? tarn::Get(r, u"Data") : tarn::Variant();
    if (data.kind() == tarn::Kind::Double || data.kind() == tarn::Kind::Single) {
      const std::u16string text = tarn::CStr(data);
      if (text.find(u'E') != std::u16string::npos)
        return "the number " + ToUtf8(text) + " would be written in exponent form";
    }
  } catch (const tarn::RuntimeError& e) {
    return "the result cannot be read as text (" + ToUtf8(e.description()) + ")";
  }
  if (!errors.reports().empty())
    return "the expression raised " + std::to_string(errors.reports().size()) +
           (errors.reports().size() == 1 ? " report" : " reports");
  return {};
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
  app.footer(kFooter);
  std::vector<std::string> exprs, positional, field_specs;
  std::string file, fields_file, record_file, date_order = "mdy";
  std::vector<std::string> dates;
  bool as_json = false, version = false, strict = false;
  app.add_option("-e,--expr", exprs, "An expression to evaluate (repeatable)")
      ->allow_extra_args(false);
  app.add_option("--file", file, "A file holding one expression text (may span lines)");
  app.add_option("-f,--field", field_specs, "Adds a data field: NAME=TYPE[:VALUE] (repeatable)")
      ->allow_extra_args(false);
  app.add_option("--fields", fields_file, "Adds data fields from a JSON file");
  app.add_option("--record", record_file,
                 "Adds the fields of one record: a JSON object read as tarn-hl7 reads a record");
  app.add_option("--dates", dates, "--record's members whose texts are dates (NAME,NAME...)")
      ->delimiter(',')
      ->allow_extra_args(false);
  app.add_option("--date-order", date_order,
                 "Order of numeric dates whose year is not first (--record, -f NAME=Date:...): "
                 "mdy, dmy or ymd")
      ->check(CLI::IsMember({"mdy", "dmy", "ymd"}));
  app.add_flag("--json", as_json, "One JSON object per expression");
  app.add_flag("--version", version, "Prints the library's release");
  app.add_flag("--strict", strict,
               "Reports texts that evaluate quietly to something unmeant, and names that are no "
               "field; they fail");
  app.add_option("expressions", positional,
                 "Expressions to evaluate; - reads them from standard input, one per line");
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
  std::vector<std::string> texts, warnings;
  try {
    for (const auto& spec : field_specs)
      tarn::eval::AddFieldSpec(*fields, spec, warnings, date_order);
    if (!record_file.empty())
      tarn::eval::AddRecordJson(*fields, ReadFile("--record", record_file),
                                "--record '" + record_file + "'", dates, date_order, warnings);
    if (!fields_file.empty())
      tarn::eval::AddFieldsJson(*fields, ReadFile("--fields", fields_file),
                                "--fields '" + fields_file + "'", warnings);
    texts = exprs;
    for (const auto& p : positional) {
      if (p != "-") {
        texts.push_back(p);
        continue;
      }
      for (std::string line; std::getline(std::cin, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '#') continue;  // a comment
        texts.push_back(line);
      }
    }
    if (!file.empty()) texts.push_back(ReadFile("--file", file));
  } catch (const UsageError& e) {
    std::cerr << "tarn-eval: " << e.message << "\n";
    return 2;
  }
  for (const auto& w : warnings) std::cerr << "tarn-eval: warning: " << w << "\n";

  interpreter.Init(fields, errors, u"tarn-eval", u"tarn-eval");
  interpreter.set_strict(strict);
  int status = 0;
  for (const auto& text : texts) {
    errors->Clear();
    std::u16string expression = FromUtf8(text);
    tarn::ObjectRef result = interpreter.RealizeRegularExpressionInPlace(expression);
    if (IsErrorField(result, *fields)) status = 1;
    // What tarn-hl7 rejects besides the Error field.
    std::string problem;
    if (strict) problem = Rejected(result, *fields, *errors);
    if (!problem.empty()) status = 1;
    // A name that is no field is named, with the field it most likely meant.
    const auto unknown = tarn::hl7::UnknownNames(
        expression, [&](std::u16string_view n) { return bool(fields->Find(n)); });
    for (const auto& name : unknown) {
      const std::string message = tarn::hl7::NoFieldMessage(name, fields->Keys());
      std::cerr << "tarn-eval: " << message << "\n";
      if (strict) {
        ReportUnknownName(errors, message, interpreter.Release());
        status = 1;
      }
    }
    if (as_json) {
      json reports = json::array();
      for (const auto& r : errors->reports()) reports.push_back(ReportJson(r));
      json line{{"expression", ToUtf8(expression)},
                {"result", ResultJson(result)},
                {"reports", reports},
                {"fields", fields->Count()}};
      if (!problem.empty()) line["problem"] = problem;
      std::cout << line.dump(-1, ' ', false, json::error_handler_t::replace) << "\n";
    } else {
      for (const auto& r : errors->reports())
        std::cerr << r.number << " " << ToUtf8(r.procedure) << ": " << ToUtf8(r.message) << "\n";
      if (!problem.empty()) std::cerr << "tarn-eval: " << problem << "\n";
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
