// The Interpreter: evaluates expressions and IF blocks against a host's
// collection of data fields.
//
// Example:
//   auto fields = tarn::MakeRef<tarn::DataFields>();
//   fields->AddField(u"Field1", u"Long", std::int32_t{41});
//   auto errors = tarn::MakeRef<tarn::RecordingErrorManager>();
//   tarn::Interpreter interp;
//   interp.Init(fields, errors, u"System", u"Application");
//   tarn::ObjectRef result = interp.RealizeRegularExpression(u"Field1 + 1");
//   // tarn::Get(result, u"Data") is the Long 42; `fields` holds only Field1.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tarn/object.h"

namespace tarn {

namespace detail {
class InterpreterCore;
}

inline constexpr std::u16string_view kInterpreterProgId = u"TarnIntr.Interpreter";

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

  // Hands over the host's collection and error manager; true on success.
  bool Init(ObjectRef data_fields, ObjectRef error, std::u16string& system,
            std::u16string& application);
  bool Init(ObjectRef data_fields, ObjectRef error, std::u16string_view system,
            std::u16string_view application);

  // Evaluates one text; `expression` receives its trimmed form. The result
  // is a data field, the "Error" data field when the text cannot be
  // evaluated, or an empty reference for a blank text. Never throws.
  ObjectRef RealizeRegularExpression(std::u16string& expression);
  ObjectRef RealizeRegularExpression(std::u16string_view expression);
  ObjectRef RealizeRegularExpressionUtf8(std::string_view expression);

  // Late-bound access by member name, as automation hosts use it.
  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override;
  std::u16string_view ClassName() const noexcept override { return u"Interpreter"; }

  detail::InterpreterCore& core() noexcept { return *core_; }

 private:
  std::unique_ptr<detail::InterpreterCore> core_;
};

}  // namespace tarn
