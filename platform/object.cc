#include "tarn/object.h"

#include <array>

#include "platform/text.h"
#include "tarn/convert.h"

namespace tarn {

RuntimeError::RuntimeError(std::int32_t number, std::u16string source, std::u16string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {
  what_ = std::to_string(number_) + " - " + ToUtf8(description_);
}

std::u16string ErrorDescription(std::int32_t number) {
  switch (number) {
    case 3: return u"Return without GoSub";
    case 5: return u"Invalid procedure call or argument";
    case 6: return u"Overflow";
    case 7: return u"Out of memory";
    case 9: return u"Subscript out of range";
    case 10: return u"This array is fixed or temporarily locked";
    case 11: return u"Division by zero";
    case 13: return u"Type mismatch";
    case 28: return u"Out of stack space";
    case 91: return u"Object variable or With block variable not set";
    case 94: return u"Invalid use of Null";
    case 424: return u"Object required";
    case 429: return u"ActiveX component can't create object";
    case 438: return u"Object doesn't support this property or method";
    case 449: return u"Argument not optional";
    case 450: return u"Wrong number of arguments or invalid property assignment";
    case 457: return u"This key is already associated with an element of this collection";
    default: return u"Application-defined or object-defined error";
  }
}

void Raise(std::int32_t number, std::u16string source, std::u16string description) {
  if (description.empty()) description = ErrorDescription(number);
  throw RuntimeError(number, std::move(source), std::move(description));
}

namespace {
Object* Require(const ObjectRef& obj) {
  if (!obj) Raise(err::kObjectNotSet);
  return obj.get();
}
}  // namespace

Variant Call(const ObjectRef& obj, std::u16string_view member, std::span<Arg> args) {
  return Require(obj)->Invoke(member, CallKind::Method, args);
}

Variant Get(const ObjectRef& obj, std::u16string_view member, std::span<Arg> args) {
  return Require(obj)->Invoke(member, CallKind::Get, args);
}

void Let(const ObjectRef& obj, std::u16string_view member, const Variant& value) {
  std::array<Arg, 1> a{Arg::ByVal(value)};
  Require(obj)->Invoke(member, CallKind::Let, a);
}

void SetRef(const ObjectRef& obj, std::u16string_view member, const ObjectRef& value) {
  Variant v(value);
  std::array<Arg, 1> a{Arg::ByVal(v)};
  Require(obj)->Invoke(member, CallKind::Set, a);
}

Variant DefaultValue(const Variant& v) {
  if (!v.is_object()) return v;
  // A chain of default members ends at a value that is no object.
  Variant cur = v;
  for (int depth = 0; cur.is_object() && depth < 8; ++depth) cur = Get(cur.object(), u"");
  if (cur.is_object()) Raise(err::kTypeMismatch);
  return cur;
}

const Variant& ArgValue(std::span<Arg> args, std::size_t i) noexcept {
  static const Variant missing = Variant::Missing();
  return i < args.size() ? args[i].value() : missing;
}

void RaiseNoMember(std::u16string_view) { Raise(err::kMemberNotSupported); }

void RequireArgs(std::span<Arg> args, std::size_t n) {
  if (args.size() != n) Raise(err::kWrongArguments);
}

}  // namespace tarn
