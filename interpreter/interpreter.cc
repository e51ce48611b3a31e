// The Interpreter object: creation, version properties, Init and the
// late-bound face that automation hosts use.
#include "tarn/interpreter.h"

#include <array>

#include "interpreter/interpreter_core.h"
#include "platform/live_objects.h"
#include "platform/text.h"
#include "support/debug_log.h"
#include "support/text_tools.h"
#include "tarn/convert.h"
#include "tarn/host.h"
#include "tarn/version.h"

namespace tarn::detail {

InterpreterCore::InterpreterCore() : host_(MakeHostAccess(nullptr)) {
  RegisterDefaultComponents();
  InitConstants();
  UpdateSpecialChars();
  const auto& k = Constants().code;
  // A failed registration ends the set-up silently.
  for (std::u16string_view function : kFunctionNames)
    if (!AddFunction(function)) return;
  if (!AddOperator(u"+ - * / \\ < > = == <= >= <> != &")) return;
  std::u16string delimiters = u"(, ";
  delimiters += k[32];
  delimiters += u", ";
  delimiters += k[44];
  delimiters += u", ";
  delimiters += k[34];
  if (!AddDelimiter(delimiters)) return;
}

InterpreterCore::~InterpreterCore() = default;

std::u16string InterpreterCore::Release() {
  return Format(std::int32_t{kVersionMajor}, u"##00") + u"." +
         Format(std::int32_t{kVersionMinor}, u"##00") + u"." +
         Format(std::int32_t{kVersionRevision}, u"0000");
}

bool InterpreterCore::Init(ObjectRef data_fields, ObjectRef error, std::u16string& system,
                           std::u16string& application) {
  if (depth_ > 0) {
    // A host callback: the running evaluation still works in the collection
    // it started with.
    ReportError(u"Init", err::kInvalidProcedureCall,
                u"Init is refused while an evaluation on this interpreter is running");
    return false;
  }
  try {
    if (IsDebugLogEnabled()) {
      std::u16string banner =
          u" ------------------\r\n Interpreter - Init\r\n ------------------\r\n"
          u"Interpreter Version: " +
          Release();
      InitDebugLog(banner);
    }
    set_data_fields(std::move(data_fields));
    error_manager_ = std::move(error);
    system_ = system;
    application_ = application;
    class_name_ = u"Interpreter";
    return true;
  } catch (...) {
    return false;
  }
}

void InterpreterCore::set_data_fields(ObjectRef fields) {
  if (depth_ > 0) {
    pending_fields_ = std::move(fields);
    fields_pending_ = true;
    return;
  }
  // The strategy is chosen here, once: evaluations never ask again.
  auto host = MakeHostAccess(std::move(fields));
  fields_pending_ = false;
  pending_fields_ = ObjectRef();
  host_ = std::move(host);
  native_ = dynamic_cast<NativeHost*>(host_.get());
}

void InterpreterCore::ApplyPendingFields() noexcept {
  if (!fields_pending_ || depth_ > 0) return;
  try {
    ObjectRef fields = std::move(pending_fields_);
    set_data_fields(std::move(fields));
  } catch (...) {
    fields_pending_ = false;  // no room for the new strategy: the old one stays
  }
}

}  // namespace tarn::detail

namespace tarn {

struct Interpreter::Impl : detail::InterpreterCore {
  detail::LiveObject live;  // a live Interpreter keeps the library loaded
};

Interpreter::Interpreter() : impl_(std::make_unique<Impl>()) {}
Interpreter::~Interpreter() = default;

std::u16string Interpreter::Release() const { return detail::InterpreterCore::Release(); }
std::u16string Interpreter::Major() const { return CStr(std::int32_t{kVersionMajor}); }
std::u16string Interpreter::Minor() const { return CStr(std::int32_t{kVersionMinor}); }
std::u16string Interpreter::Revision() const { return CStr(std::int32_t{kVersionRevision}); }

ObjectRef Interpreter::objError() const { return impl_->error_manager_; }
void Interpreter::set_objError(ObjectRef error) { impl_->error_manager_ = std::move(error); }
ObjectRef Interpreter::DataFields() const { return impl_->data_fields(); }
void Interpreter::set_DataFields(ObjectRef fields) { impl_->set_data_fields(std::move(fields)); }

void Interpreter::set_strict(bool on) noexcept { impl_->strict_ = on; }
bool Interpreter::strict() const noexcept { return impl_->strict_; }

void Interpreter::set_strExpression(std::int16_t index, std::u16string text) {
  impl_->set_strExpression(index, std::move(text));
}

bool Interpreter::Init(ObjectRef data_fields, ObjectRef error, std::u16string& system,
                       std::u16string& application) {
  return impl_->Init(std::move(data_fields), std::move(error), system, application);
}

bool Interpreter::Init(ObjectRef data_fields, ObjectRef error, std::u16string_view system,
                       std::u16string_view application) {
  std::u16string s(system), a(application);
  return Init(std::move(data_fields), std::move(error), s, a);
}

ObjectRef Interpreter::RealizeRegularExpressionInPlace(std::u16string& expression) {
  try {
    if (const std::u16string_view t = detail::TrimSpaces(expression); t.size() != expression.size())
      expression = std::u16string(t);
  } catch (...) {
    // No room for the trimmed copy: the text is evaluated as it is.
  }
  return impl_->RealizeRegularExpression(expression);
}

ObjectRef Interpreter::RealizeRegularExpression(std::u16string_view expression) {
  return impl_->RealizeRegularExpression(expression);
}

ObjectRef Interpreter::RealizeRegularExpressionUtf8(std::string_view expression) {
  try {
    return impl_->RealizeRegularExpression(FromUtf8(expression));
  } catch (...) {
    return {};  // no room for the text
  }
}

Evaluation Interpreter::Evaluate(std::u16string_view expression) {
  Evaluation out;
  // A host field may evaluate on this interpreter while it is read: each
  // call collects its own reports.
  std::vector<EvaluationReport>* const outer = impl_->collected_;
  impl_->collected_ = &out.reports_;
  try {
    out.field_ = impl_->RealizeRegularExpression(expression);
    out.is_error_ = impl_->last_was_error();
    if (out.field_) {
      // Read as the interpreter reads fields: a host's own by member name.
      std::u16string type_store;
      out.type_ = std::u16string(impl_->host_->DataType(out.field_, type_store));
      Variant store;
      out.value_ = impl_->host_->Data(out.field_, store);
    }
  } catch (const RuntimeError& e) {
    // The host's result field refused to be read.
    try {
      out.reports_.push_back({e.number(), e.source(), e.description(), e.description()});
    } catch (...) {
    }
  } catch (...) {
  }
  impl_->collected_ = outer;
  return out;
}

Evaluation Interpreter::Evaluate(std::string_view utf8_expression) {
  try {
    return Evaluate(std::u16string_view(FromUtf8(utf8_expression)));
  } catch (...) {
    return Evaluation();  // no room for the text
  }
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
  if (Is(member, u"Strict")) {
    if (!put) return strict();
    RequireArgs(args, 1);
    set_strict(CBool(args[0].value()));
    return {};
  }
  if (Is(member, u"strExpression") && put) {
    RequireArgs(args, 2);
    set_strExpression(CInt(args[0].value()), CStr(args[1].value()));
    return {};
  }
  if (Is(member, u"Init")) {
    RequireArgs(args, 4);
    // Init keeps copies: the caller's variables are left as they are. An
    // argument of the wrong kind is an error of Init's, which answers False.
    std::u16string system, app;
    ObjectRef fields, error;
    try {
      system = CStr(args[2].value());
      app = CStr(args[3].value());
      fields = ObjectArg(args[0].value());
      error = ObjectArg(args[1].value());
    } catch (const RuntimeError&) {
      return false;
    }
    return Init(std::move(fields), std::move(error), system, app);
  }
  if (Is(member, u"RealizeRegularExpression")) {
    if (args.size() > 1) RequireArgs(args, 1);
    // No text (left out, Null, no object) is a text that cannot be
    // evaluated: the Error field, never a raised error.
    const Variant* given = args.empty() ? nullptr : &args[0].value();
    std::u16string text;
    bool readable = given != nullptr && !given->is_missing() && !given->is_null() &&
                    !(given->is_object() && !given->object());
    if (readable) {
      try {
        text = CStr(*given);
      } catch (const RuntimeError&) {
        readable = false;  // an object without a readable default value
      }
    }
    if (!readable) return Variant(impl_->ErrorField());
    ObjectRef result = RealizeRegularExpressionInPlace(text);
    // The trimmed text goes back only into a text variable, and only when
    // trimming changed it: a variable of another kind is passed as a copy,
    // as the host's own language would pass it.
    if (Variant* r = args[0].byref(); r != nullptr && r->is_string() && r->string() != text)
      *r = std::move(text);
    return Variant(result);
  }
  RaiseNoMember(member);
}

}  // namespace tarn
