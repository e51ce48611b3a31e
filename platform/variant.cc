#include "tarn/value.h"

namespace tarn {

namespace {
const Variant kMissing = Variant::Missing();
}  // namespace

std::u16string Variant::TypeName() const {
  switch (kind()) {
    case Kind::Empty: return u"Empty";
    case Kind::Null: return u"Null";
    case Kind::Integer: return u"Integer";
    case Kind::Long: return u"Long";
    case Kind::Single: return u"Single";
    case Kind::Double: return u"Double";
    case Kind::Date: return u"Date";
    case Kind::String: return u"String";
    case Kind::Boolean: return u"Boolean";
    case Kind::Missing: return u"Error";
    case Kind::Object:
      return object() ? std::u16string(object()->ClassName()) : std::u16string(u"Nothing");
  }
  return u"Empty";
}

Arg Arg::Omitted() noexcept { return Arg(&kMissing, nullptr); }

Object::Object() noexcept = default;
Object::~Object() = default;
std::u16string_view Object::ClassName() const noexcept { return u"Object"; }

}  // namespace tarn
