// Calls on host components. The library's own DataFields and DataField are
// called directly (the same members, without the late-bound dispatch); any
// other object is reached by member name.
#include "host/host_calls.h"

#include <array>

#include "platform/class_table.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

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

ObjectRef NativeItem(DataFields& fields, std::u16string_view key) {
  ObjectRef r = fields.Find(key);
  if (!r) Raise(err::kInvalidProcedureCall);
  return r;
}
}  // namespace

ObjectRef NewDataField() {
  thread_local FactoryCache cache;
  return CreateObjectCached(kDataFieldProgId, cache);
}

ObjectRef NewDataField(FactoryCache& cache) { return CreateObjectCached(kDataFieldProgId, cache); }

ObjectRef AsObject(const Variant& v) {
  if (!v.is_object()) Raise(err::kTypeMismatch);
  return v.object();
}

ObjectRef FieldsItem(const ObjectRef& fields, std::u16string& key) {
  if (DataFields* f = NativeFields(fields)) return NativeItem(*f, key);
  return AsObject(CallWithKey(fields, u"Item"sv, key));
}

ObjectRef FieldsMColItem(const ObjectRef& fields, std::u16string& key) {
  if (DataFields* f = NativeFields(fields)) return NativeItem(*f, key);
  ObjectRef col = AsObject(Get(fields, u"mCol"sv));
  return AsObject(CallWithKey(col, u"Item"sv, key));
}

bool FieldsExists(const ObjectRef& fields, std::u16string& key) {
  if (DataFields* f = NativeFields(fields)) return f->Exists(key);
  Variant r = CallWithKey(fields, u"Exists"sv, key);
  if (r.is_null()) return false;
  return CBool(r);
}

std::int16_t FieldsAddObject(const ObjectRef& fields, const ObjectRef& field) {
  DataFields* f = NativeFields(fields);
  if (DataField* df = NativeField(field); f && df) return f->Add(field, df->name()) ? 0 : 457;
  Variant v(field);
  std::array<Arg, 1> a{Arg::ByRef(v)};
  return CInt(Call(fields, u"AddObject"sv, a));
}

void FieldsRemove(const ObjectRef& fields, std::u16string& key) {
  if (DataFields* f = NativeFields(fields)) {
    if (!f->Erase(key)) Raise(err::kInvalidProcedureCall);
    return;
  }
  CallWithKey(fields, u"Remove"sv, key);
}

Variant FieldData(const ObjectRef& field) {
  if (DataField* df = NativeField(field)) return df->data();
  return Get(field, u"Data"sv);
}

Variant FieldValue(const ObjectRef& field) {
  if (DataField* df = NativeField(field))
    return df->data().is_object() ? DefaultValue(df->data()) : df->data();
  return DefaultValue(Variant(field));
}

std::u16string FieldDataType(const ObjectRef& field) {
  if (DataField* df = NativeField(field)) return df->data_type();
  return CStr(Get(field, u"DataType"sv));
}

bool FieldDataTypeIsLate(const ObjectRef& field, std::u16string_view word) {
  return CStr(Get(field, u"DataType"sv)) == word;
}

std::u16string FieldName(const ObjectRef& field) {
  if (DataField* df = NativeField(field)) return df->name();
  return CStr(Get(field, u"Name"sv));
}

void FieldLet(const ObjectRef& field, std::u16string_view member, const Variant& value) {
  if (DataField* df = NativeField(field)) {
    if (member == u"Data"sv) {
      df->set_data(value.is_object() ? DefaultValue(value) : value);
      return;
    }
    std::u16string text = value.is_string() ? value.string() : CStr(value);
    if (member == u"Name"sv)
      df->set_name(std::move(text));
    else if (member == u"DataType"sv)
      df->set_data_type(std::move(text));
    else if (member == u"DataClass"sv)
      df->set_data_class(std::move(text));
    else
      RaiseNoMember(member);
    return;
  }
  Let(field, member, value);
}

void FieldSetTextLate(const ObjectRef& field, TextMember member, std::u16string_view text) {
  static constexpr std::u16string_view kNames[] = {u"Name"sv, u"DataType"sv, u"DataClass"sv};
  Let(field, kNames[static_cast<int>(member)], Variant(text));
}

void FieldLetDataLate(const ObjectRef& field, Variant value) {
  if (DataField* df = NativeField(field)) {  // an object: its value is stored
    df->data_slot() = DefaultValue(value);
    return;
  }
  Let(field, u"Data"sv, value);
}

}  // namespace tarn::detail
