#include "host/host_calls.h"

#include <array>

#include "tarn/convert.h"

namespace tarn::detail {

ObjectRef AsObject(const Variant& v) {
  if (!v.is_object()) Raise(err::kTypeMismatch);
  return v.object();
}

namespace {
Variant CallWithKey(const ObjectRef& obj, std::u16string_view member, std::u16string& key) {
  Variant k(std::move(key));
  std::array<Arg, 1> a{Arg::ByRef(k)};
  struct Restore {  // the key was passed by reference: give back what the callee left
    Variant& from;
    std::u16string& to;
    ~Restore() {
      if (from.is_string()) to = std::move(from.string());
    }
  } restore{k, key};
  return Call(obj, member, a);
}
}  // namespace

ObjectRef FieldsItem(const ObjectRef& fields, std::u16string& key) {
  return AsObject(CallWithKey(fields, u"Item", key));
}

ObjectRef FieldsMColItem(const ObjectRef& fields, std::u16string& key) {
  ObjectRef col = AsObject(Get(fields, u"mCol"));
  return AsObject(CallWithKey(col, u"Item", key));
}

bool FieldsExists(const ObjectRef& fields, std::u16string& key) {
  Variant r = CallWithKey(fields, u"Exists", key);
  if (r.is_null()) return false;
  return CBool(r);
}

std::int16_t FieldsAddObject(const ObjectRef& fields, const ObjectRef& field) {
  Variant f(field);
  std::array<Arg, 1> a{Arg::ByRef(f)};
  return CInt(Call(fields, u"AddObject", a));
}

void FieldsRemove(const ObjectRef& fields, std::u16string& key) { CallWithKey(fields, u"Remove", key); }

Variant FieldData(const ObjectRef& field) { return Get(field, u"Data"); }

Variant FieldValue(const ObjectRef& field) { return DefaultValue(Variant(field)); }

std::u16string FieldDataType(const ObjectRef& field) { return CStr(Get(field, u"DataType")); }

std::u16string FieldName(const ObjectRef& field) { return CStr(Get(field, u"Name")); }

void FieldLet(const ObjectRef& field, std::u16string_view member, const Variant& value) {
  Let(field, member, value);
}

}  // namespace tarn::detail
