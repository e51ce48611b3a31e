// Typed calls on the host's components, all reached by member name so that a
// host may hand in objects of its own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/class_table.h"
#include "platform/text.h"
#include "tarn/host.h"
#include "tarn/object.h"

namespace tarn::detail {

// The library's own components behind a reference, or null: those are
// called directly, anything else by member name.
inline DataField* NativeField(const ObjectRef& o) noexcept {
  return o && o->native_kind() == DataField::kNativeKind ? static_cast<DataField*>(o.get())
                                                         : nullptr;
}
inline DataFields* NativeFields(const ObjectRef& o) noexcept {
  return o && o->native_kind() == DataFields::kNativeKind ? static_cast<DataFields*>(o.get())
                                                          : nullptr;
}

// A member result that must be an object reference (else type mismatch).
ObjectRef AsObject(const Variant& v);

// A new data field from "ZellDFld.DataField", through a per-thread cache of
// its factory.
ObjectRef NewDataField();
ObjectRef NewDataField(FactoryCache& cache);  // with the caller's cache
// A new field whose texts the caller assigns at once: while the default
// factory is registered, a reused field keeps its earlier texts until then.
ObjectRef NewDefaultDataField();  // the default factory
inline ObjectRef NewTemporaryField(FactoryCache& cache) {
  RefreshFactory(kDataFieldProgId, cache);
  if (cache.plain == &NewDefaultDataField) return ObjectRef(DataField::CreateForOverwrite());
  return CreateObjectCached(kDataFieldProgId, cache);
}

// DataFields collection.
ObjectRef FieldsItem(const ObjectRef& fields, std::u16string& key);
ObjectRef FieldsMColItem(const ObjectRef& fields, std::u16string& key);
bool FieldsExists(const ObjectRef& fields, std::u16string& key);  // a Null answer is false
std::int16_t FieldsAddObject(const ObjectRef& fields, const ObjectRef& field);
void FieldsRemove(const ObjectRef& fields, std::u16string& key);

// DataField.
Variant FieldData(const ObjectRef& field);
Variant FieldValue(const ObjectRef& field);  // the default member
std::u16string FieldDataType(const ObjectRef& field);
bool FieldDataTypeIsLate(const ObjectRef& field, std::u16string_view word);  // not our own field
inline bool FieldDataTypeIs(const ObjectRef& field, std::u16string_view word) {
  if (const DataField* df = NativeField(field)) return SameText(df->data_type(), word);
  return FieldDataTypeIsLate(field, word);
}
std::u16string FieldName(const ObjectRef& field);
void FieldLet(const ObjectRef& field, std::u16string_view member, const Variant& value);
// Assigns a text property.
enum class TextMember { Name, DataType, DataClass };
// Any other object than the library's own field, reached by member name.
void FieldSetTextLate(const ObjectRef& field, TextMember member, std::u16string_view text);
inline void FieldSetText(const ObjectRef& field, TextMember member, std::u16string_view text) {
  if (DataField* df = NativeField(field)) {
    switch (member) {
      case TextMember::Name: df->overwrite_name(text); break;
      case TextMember::DataType: df->overwrite_data_type(text); break;
      case TextMember::DataClass: df->overwrite_data_class(text); break;
    }
    return;
  }
  FieldSetTextLate(field, member, text);
}
// Assigns Data (an object's default value for the library's own field).
void FieldLetDataLate(const ObjectRef& field, Variant value);
inline void FieldLetData(const ObjectRef& field, Variant value) {
  if (DataField* df = NativeField(field); df && !value.is_object()) {
    df->data_slot() = std::move(value);
    return;
  }
  FieldLetDataLate(field, std::move(value));
}

}  // namespace tarn::detail
