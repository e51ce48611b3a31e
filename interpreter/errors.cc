// The reporting handler that every procedure of the interpreter shares: one
// call of the error manager's ReportError with its eleven arguments.
#include <array>

#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "tarn/convert.h"

namespace tarn::detail {

void InterpreterCore::RaiseOwn(std::int32_t number, std::u16string_view procedure) {
  std::u16string description;
  switch (number) {
    case code::kSubscriptOutOfRange:
      description = ErrorDescription(err::kSubscriptOutOfRange);
      break;
    case code::kDivisionByZero: description = ErrorDescription(err::kDivisionByZero); break;
    case code::kInvalidProcedureCall:
      description = ErrorDescription(err::kInvalidProcedureCall);
      break;
    case code::kSyntaxError: description = u"Syntax error"; break;
    case code::kObjectRequired: description = ErrorDescription(err::kObjectRequired); break;
    default: description = ErrorDescription(number); break;
  }
  Raise(number, u"Interpreter." + std::u16string(procedure), std::move(description));
}

void InterpreterCore::ReportError(std::u16string_view procedure, std::int32_t number,
                                  std::u16string_view description, bool peek_style) noexcept {
  // A host whose ReportError makes the interpreter report again (Init
  // refused, a nested evaluation that fails) ends a few levels down.
  if (report_depth_ >= 8) return;
  struct Depth {
    int& n;
    explicit Depth(int& d) : n(d) { ++n; }
    ~Depth() { --n; }
  } depth{report_depth_};
  try {
    Variant number_arg, message;
    if (peek_style) {
      number_arg = (number >= 1 && number <= 65535) ? number - 2147220992 : number;
      message = std::u16string(description);
    } else {
      number_arg = kErrInterpreter;
      message = u"Error: " + Widen(std::to_string(number)) + u" - " + std::u16string(description);
    }
    Variant when = Now();
    Variant four = std::int16_t{4}, fifteen = std::int16_t{15};
    Variant system = system_, application = application_, release = Release(),
            class_name = class_name_, proc = std::u16string(procedure);
    std::array<Arg, 11> args{Arg::ByVal(number_arg), Arg::ByVal(message),     Arg::ByVal(when),
                             Arg::ByVal(four),       Arg::ByVal(fifteen),     Arg::Omitted(),
                             Arg::ByRef(system),     Arg::ByRef(application), Arg::ByVal(release),
                             Arg::ByRef(class_name), Arg::ByVal(proc)};
    // A non-zero answer would leave the error pending; the procedure returns
    // its failure value either way.
    if (collected_)
      collected_->push_back(
          {number, std::u16string(procedure), std::u16string(description), message.string()});
    // The host may hand over another error manager from inside the call.
    const ObjectRef manager = error_manager_;
    Call(manager, u"ReportError", args);
  } catch (...) {
    // No error manager, or one that fails: the report is lost, the caller goes on.
  }
}

void InterpreterCore::ReportStrict(std::u16string_view procedure,
                                   std::u16string_view problem) noexcept {
  strict_fault_ = true;
  try {
    std::u16string description = ErrorDescription(err::kInvalidProcedureCall);
    description += u": ";
    description += problem;
    ReportError(procedure, err::kInvalidProcedureCall, description);
  } catch (...) {
    ReportError(procedure, err::kInvalidProcedureCall,
                ErrorDescription(err::kInvalidProcedureCall));
  }
}

}  // namespace tarn::detail
