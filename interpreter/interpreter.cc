// The Interpreter object: creation, version properties, Init and the
// late-bound face that automation hosts use.
#include "tarn/interpreter.h"

#include <array>

#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "registration/registration.h"
#include "support/debug_log.h"
#include "support/text_tools.h"
#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/version.h"

namespace tarn::detail {

InterpreterCore::InterpreterCore() {
  RegisterDefaultComponents();
  InitConstants();
  UpdateSpecialChars();
  const auto& k = Constants().code;
  // A failed registration ends the set-up silently.
  if (!AddFunction(u"If, Format, FormatHL7DateTime, Replace")) return;
  if (!AddOperator(u"+ - * / \\ < > = == <= >= <> != &")) return;
  std::u16string delimiters = u"(, ";
  delimiters += k[32];
  delimiters += u", ";
  delimiters += k[44];
  delimiters += u", ";
  delimiters += k[34];
  if (!AddDelimiter(delimiters)) return;
  mintInstance = -1;
  for (int row = 0; row < kHoldRows; ++row) {
    mstrHoldArray[row].assign(kInitialHoldSlots, NameText());
    mintHoldArrayPtr[row] = InitialHoldPtr(row);
  }
}

InterpreterCore::~InterpreterCore() = default;

std::u16string InterpreterCore::Release() {
  return Format(std::int32_t{kVersionMajor}, u"##00") + u"." +
         Format(std::int32_t{kVersionMinor}, u"##00") + u"." +
         Format(std::int32_t{kVersionRevision}, u"0000");
}

bool InterpreterCore::Init(ObjectRef objDataFields, ObjectRef objError, std::u16string& strSystem,
                           std::u16string& strApplication) {
  try {
    if (IsDebugLogEnabled()) {
      std::u16string banner =
          u" ------------------\r\n Interpreter - Init\r\n ------------------\r\n"
          u"Interpreter Version: " +
          Release();
      InitDebugLog(banner);
    }
    mobjDataFields = std::move(objDataFields);
    mobjError = std::move(objError);
    mstrSystem = strSystem;
    mstrApplication = strApplication;
    mstrClassName = u"Interpreter";
    return true;
  } catch (...) {
    return false;
  }
}

void InterpreterCore::set_strExpression(std::int16_t intIndex, std::u16string text) {
  if (intIndex < 0 || static_cast<std::size_t>(intIndex) >= mstrExpression.size())
    Raise(err::kSubscriptOutOfRange);
  mstrExpression[static_cast<std::size_t>(intIndex)] = std::move(text);
}

}  // namespace tarn::detail

namespace tarn {

// Each live Interpreter keeps the library loaded (DllCanUnloadNow).
Interpreter::Interpreter() : core_(std::make_unique<detail::InterpreterCore>()) {
  detail::AddLiveObject();
}
Interpreter::~Interpreter() { detail::DropLiveObject(); }

std::u16string Interpreter::Release() const { return detail::InterpreterCore::Release(); }
std::u16string Interpreter::Major() const { return CStr(std::int32_t{kVersionMajor}); }
std::u16string Interpreter::Minor() const { return CStr(std::int32_t{kVersionMinor}); }
std::u16string Interpreter::Revision() const { return CStr(std::int32_t{kVersionRevision}); }

ObjectRef Interpreter::objError() const { return core_->mobjError; }
void Interpreter::set_objError(ObjectRef error) { core_->mobjError = std::move(error); }
ObjectRef Interpreter::DataFields() const { return core_->mobjDataFields; }
void Interpreter::set_DataFields(ObjectRef fields) { core_->mobjDataFields = std::move(fields); }

void Interpreter::set_strExpression(std::int16_t index, std::u16string text) {
  core_->set_strExpression(index, std::move(text));
}

bool Interpreter::Init(ObjectRef data_fields, ObjectRef error, std::u16string& system,
                       std::u16string& application) {
  return core_->Init(std::move(data_fields), std::move(error), system, application);
}

bool Interpreter::Init(ObjectRef data_fields, ObjectRef error, std::u16string_view system,
                       std::u16string_view application) {
  std::u16string s(system), a(application);
  return Init(std::move(data_fields), std::move(error), s, a);
}

ObjectRef Interpreter::RealizeRegularExpression(std::u16string& expression) {
  return core_->RealizeRegularExpression(expression);
}

ObjectRef Interpreter::RealizeRegularExpression(std::u16string_view expression) {
  std::u16string text(expression);
  return core_->RealizeRegularExpression(text);
}

ObjectRef Interpreter::RealizeRegularExpressionUtf8(std::string_view expression) {
  std::u16string text = FromUtf8(expression);
  return core_->RealizeRegularExpression(text);
}

namespace {
bool Is(std::u16string_view member, std::u16string_view name) {
  return detail::EqualsIgnoreCase(member, name);
}
ObjectRef ObjectArg(const Variant& v) {
  if (v.is_object()) return v.object();
  if (v.is_empty()) return {};
  Raise(err::kTypeMismatch);
}
}  // namespace

Variant Interpreter::Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) {
  const bool put = kind == CallKind::Let || kind == CallKind::Set;
  if (Is(member, u"Release")) return Release();
  if (Is(member, u"Major")) return Major();
  if (Is(member, u"Minor")) return Minor();
  if (Is(member, u"Revision")) return Revision();
  if (Is(member, u"objError")) {
    if (!put) return Variant(objError());
    RequireArgs(args, 1);
    set_objError(ObjectArg(args[0].value()));
    return {};
  }
  if (Is(member, u"DataFields")) {
    if (!put) return Variant(DataFields());
    RequireArgs(args, 1);
    set_DataFields(ObjectArg(args[0].value()));
    return {};
  }
  if (Is(member, u"strExpression") && put) {
    RequireArgs(args, 2);
    set_strExpression(CInt(args[0].value()), CStr(args[1].value()));
    return {};
  }
  if (Is(member, u"Init")) {
    RequireArgs(args, 4);
    std::u16string system = CStr(args[2].value()), app = CStr(args[3].value());
    bool ok = Init(ObjectArg(args[0].value()), ObjectArg(args[1].value()), system, app);
    if (auto* r = args[2].byref()) *r = system;
    if (auto* r = args[3].byref()) *r = app;
    return ok;
  }
  if (Is(member, u"RealizeRegularExpression")) {
    RequireArgs(args, 1);
    std::u16string text = CStr(args[0].value());
    ObjectRef result = RealizeRegularExpression(text);
    if (auto* r = args[0].byref()) *r = text;
    return Variant(result);
  }
  RaiseNoMember(member);
}

}  // namespace tarn
