// Typed calls on the host's components, all reached by member name so that a
// host may hand in objects of its own.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/class_table.h"
#include "tarn/host.h"
#include "tarn/object.h"

namespace tarn::detail {

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
bool FieldDataTypeIsLate(const ObjectRef& field, std::u16string_view word);
inline bool FieldDataTypeIs(const ObjectRef& field, std::u16string_view word) {
  if (field && field->native_kind() == DataField::kNativeKind) {
    const std::u16string& t = static_cast<const DataField*>(field.get())->data_type();
    return t.size() == word.size() &&
           (word.empty() || std::memcmp(t.data(), word.data(), word.size() * 2) == 0);
  }
  return FieldDataTypeIsLate(field, word);
}
std::u16string FieldName(const ObjectRef& field);
void FieldLet(const ObjectRef& field, std::u16string_view member, const Variant& value);
// Assigns a text property.
enum class TextMember { Name, DataType, DataClass };
void FieldSetTextLate(const ObjectRef& field, TextMember member, std::u16string_view text);
inline void FieldSetText(const ObjectRef& field, TextMember member, std::u16string_view text) {
  if (field && field->native_kind() == DataField::kNativeKind) {
    auto* df = static_cast<DataField*>(field.get());
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
  if (field && field->native_kind() == DataField::kNativeKind && !value.is_object()) {
    static_cast<DataField*>(field.get())->data_slot() = std::move(value);
    return;
  }
  FieldLetDataLate(field, std::move(value));
}

}  // namespace tarn::detail
