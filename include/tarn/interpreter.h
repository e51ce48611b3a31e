// The Interpreter: evaluates expressions and IF blocks against a host's
// collection of data fields.
//
// Example:
//   auto fields = tarn::MakeRef<tarn::DataFields>();
//   fields->AddField(u"Field1", u"Long", std::int32_t{41});
//   auto errors = tarn::MakeRef<tarn::RecordingErrorManager>();
//   tarn::Interpreter interp;
//   interp.Init(fields, errors, u"System", u"Application");
//   tarn::Evaluation r = interp.Evaluate(u"Field1 + 1");
//   // r.value() is the Long 42, r.type() "Long"; `fields` holds only Field1.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/object.h"

namespace tarn {

inline constexpr std::u16string_view kInterpreterProgId = u"TarnIntr.Interpreter";

// One report the interpreter made during a call (it also went to the
// host's error manager).
struct EvaluationReport {
  std::int32_t number = 0;     // the error's own number
  std::u16string procedure;    // where it was raised
  std::u16string description;  // the error's description
  std::u16string message;      // as the error manager received it
};

// What one evaluation gave.
class TARN_API Evaluation {
 public:
  // The result field: a data field, the Error field, or empty for a blank text.
  const ObjectRef& field() const noexcept { return field_; }
  // Its Data and DataType (Empty and "" without a field).
  const Variant& value() const noexcept { return value_; }
  const std::u16string& type() const noexcept { return type_; }
  // Whether the text could not be evaluated: the result is the
  // interpreter's own Error field (not a host field that happens to be
  // called "Error").
  bool is_error() const noexcept { return is_error_; }
  // The reports made during the call, in order.
  const std::vector<EvaluationReport>& reports() const noexcept { return reports_; }
  // A value without an error or a report.
  bool ok() const noexcept { return field_ && !is_error_ && reports_.empty(); }

 private:
  friend class Interpreter;
  ObjectRef field_;
  Variant value_;
  std::u16string type_;
  bool is_error_ = false;
  std::vector<EvaluationReport> reports_;
};

class TARN_API Interpreter final : public Object {
 public:
  Interpreter();
  ~Interpreter() override;

  // "01.01.0009": major, minor ("##00") and revision ("0000").
  std::u16string Release() const;
  std::u16string Major() const;
  std::u16string Minor() const;
  std::u16string Revision() const;

  ObjectRef objError() const;
  void set_objError(ObjectRef error);
  ObjectRef DataFields() const;
  void set_DataFields(ObjectRef fields);
  // Stores a text for an instance slot; raises 9 outside the slots.
  void set_strExpression(std::int16_t index, std::u16string text);

  // Strict mode (off by default): a function reading the end of the text
  // as an argument, an IF block inside a branch, a host field read under a
  // function's name, and a time zone of FormatHL7DateTime that is no hhmm
  // offset within -1400..+1400 are reported (number 5, under the procedure
  // that finds them), and the evaluation gives the Error field. By name:
  // the property "Strict".
  void set_strict(bool on) noexcept;
  bool strict() const noexcept;

  // Hands over the host's collection and error manager; true on success.
  bool Init(ObjectRef data_fields, ObjectRef error, std::u16string& system,
            std::u16string& application);
  bool Init(ObjectRef data_fields, ObjectRef error, std::u16string_view system,
            std::u16string_view application);

  // Evaluates one text: the result's value, type word and field, whether
  // it is the Error field, and the reports made meanwhile. Never throws.
  Evaluation Evaluate(std::u16string_view expression);
  Evaluation Evaluate(std::string_view utf8_expression);

  // Evaluates one text. The result is a data field, the "Error" data field
  // when the text cannot be evaluated, or an empty reference for a blank
  // text. Never throws.
  ObjectRef RealizeRegularExpression(std::u16string_view expression);
  ObjectRef RealizeRegularExpressionUtf8(std::string_view expression);
  // The same, and `expression` is trimmed in place, as the by-name member
  // "RealizeRegularExpression" does with its argument.
  ObjectRef RealizeRegularExpressionInPlace(std::u16string& expression);

  // Late-bound access by member name, as automation hosts use it.
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override;
  std::u16string_view ClassName() const noexcept override { return u"Interpreter"; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// How the interpreter takes a word of an expression on its own: a keyword
// (of the IF block, or True and False), one of its functions, or a name.
enum class WordKind : std::uint8_t { Name, Keyword, Function };
TARN_API WordKind ClassifyWord(std::u16string_view word);

}  // namespace tarn
