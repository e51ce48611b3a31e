// What the C interface and the Python package share: an interpreter bound to
// its own collection and a recording error manager, the outcome of one
// evaluation as plain values, and the conversions a foreign caller needs
// (strict UTF-8, calendar dates, type words).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/tarn.h"

namespace tarn::binding {

// A report made during an evaluation: the error's own number (13 for a type
// mismatch), where it was raised, and the message the error manager got.
struct Report {
  std::int32_t number = 0;
  std::u16string procedure;
  std::u16string message;
};

// One evaluation as values: nothing in it refers to the interpreter's
// objects, so it may outlive them and cross threads.
struct Outcome {
  bool has_field = false;  // false for a blank text
  bool is_error = false;   // the interpreter's own Error field
  Variant value;           // the field's Data; an object's default value
  std::u16string type;     // the field's DataType
  std::vector<Report> reports;
};

class Session {
 public:
  // `fields` is shared with the caller, who may change it between calls.
  Session(Ref<DataFields> fields, std::u16string_view application);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Never throws but for memory.
  Outcome Evaluate(std::u16string_view text);

  DataFields& fields() noexcept { return *fields_; }
  const Ref<DataFields>& fields_ref() const noexcept { return fields_; }

  // The interpreter's strict mode; true once set.
  bool set_strict(bool strict) noexcept;
  bool strict() const noexcept { return interpreter_.strict(); }

 private:
  Ref<DataFields> fields_;
  Ref<RecordingErrorManager> errors_;
  Interpreter interpreter_;
};

// Adds a field or, when the name is taken (in any letter case), replaces
// that field's type word and value in place.
void SetField(DataFields& fields, std::u16string_view name, std::u16string_view type,
              Variant value);
// A field's value (objects read through their default member) and type word.
struct FieldValue {
  Variant value;
  std::u16string type;
};
std::optional<FieldValue> GetField(const DataFields& fields, std::u16string_view name);

// Strict UTF-8 to 16-bit text; false for ill-formed input.
bool DecodeUtf8(std::string_view text, std::u16string& out);

// The serial of a calendar date and time, or nullopt outside 1/1/100 to
// 12/31/9999 or for a part out of its range.
std::optional<double> DateSerial(int year, int month, int day, int hour, int minute, int second);
bool IsDateSerial(double serial) noexcept;
struct CalendarTime {
  int year, month, day, hour, minute, second;
};
CalendarTime SplitDate(double serial);

// The platform's text of a value; "" for Empty and Null.
std::u16string ValueText(const Variant& v);

// "1.1.0.9"
const char* VersionText() noexcept;

}  // namespace tarn::binding
