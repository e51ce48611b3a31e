// The host strategy for the library's own collection: called directly,
// with the members an evaluation calls for every field inline, so that the
// interpreter's calls on it (see InterpreterCore::OnHost) cost no dispatch.
// A field of another kind in the collection is still reached by member name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/data_field_internal.h"
#include "host/data_fields_impl.h"
#include "interpreter/constants.h"
#include "interpreter/host_access.h"
#include "platform/text.h"

namespace tarn::detail {

class NativeHost final : public LateHost {
 public:
  explicit NativeHost(ObjectRef fields);

  // The collection, called directly; generated names go by their number.
  ObjectRef Item(std::u16string& key, bool through_mcol) override;
  bool IsDataField(std::u16string_view name) noexcept override;
  bool FindDataField(std::u16string& name, ObjectRef& found, bool through_mcol) override;
  bool NameTaken(NameText& name) override;
  // A generated name, looked up by its number: cannot fail.
  bool GeneratedTaken(int n) const noexcept { return own_->ExistsGenerated(n); }
  void RemoveTemporary(const NameText& name) noexcept override;
  // A temporary field is a released default field reused in place, unless
  // the host registered a data field of its own.
  ObjectRef AddTemporary(NameText& held, std::u16string_view type, const TemporaryValue& value,
                         bool through_mcol) override;

  // The library's own fields in place; others by member name.
  std::u16string_view DataType(const ObjectRef& field, std::u16string& store) override;
  const Variant& Data(const ObjectRef& field, Variant& store) override;
  void Read(const ObjectRef& field, FieldView& view) override;
  Variant Value(const ObjectRef& field) override;
  void SetText(const ObjectRef& field, TextMember member, std::u16string_view text) override;
  void SetData(const ObjectRef& field, Variant&& value) override;

 private:
  FieldTable* own_;
};

// Our own collection ignores case, so a name in ASCII finds, without its
// spaces, what its proper-case form finds; nothing when the proper case has
// to be made.
inline std::optional<std::u16string_view> DirectName(std::u16string_view name) noexcept {
  const std::u16string_view trimmed = TrimSpaces(name);
  for (char16_t c : trimmed)
    if (c >= 0x80) return std::nullopt;
  return trimmed;
}

// A value as the library's own field keeps it: an object by its value.
inline void StoreData(DataField& field, Variant&& value) {
  if (value.is_object())
    field.set_data(DefaultValue(value));
  else
    field.set_data(std::move(value));
}

inline ObjectRef NativeHost::Item(std::u16string& key, bool) {
  ObjectRef r = own_->Find(key);
  if (!r) Raise(err::kInvalidProcedureCall);
  return r;
}

inline bool NativeHost::FindDataField(std::u16string& name, ObjectRef& found, bool through_mcol) {
  // One lookup answers both questions when the name is looked up directly.
  if (const auto direct = DirectName(name)) {
    ObjectRef field = own_->Find(*direct);
    if (!field) return false;
    if (direct->size() != name.size()) field = Item(name, false);
    found = std::move(field);
    return true;
  }
  if (!IsDataField(name)) return false;
  found = Item(name, through_mcol);
  return true;
}

inline bool NativeHost::NameTaken(NameText& name) {
  int n = name.generated();
  if (n == 0) n = GeneratedNameNumber(name);
  if (n > 0) return own_->ExistsGenerated(n);
  return own_->Exists(name);
}

inline ObjectRef NativeHost::AddTemporary(NameText& held, std::u16string_view type,
                                          const TemporaryValue& value, bool through_mcol) {
  RefreshFactory(kDataFieldProgId, factory_);
  if (factory_.plain != &NewDefaultDataField)
    return LateHost::AddTemporary(held, type, value, through_mcol);
  // The default field: a released one is reused, its texts overwritten in place.
  Ref<DataField> field = ReuseDataField();
  field->set_name(held);
  field->set_data_type(type);
  field->set_data_class(std::u16string_view(u"Auto", 4));
  if (value.value)
    StoreData(*field, std::move(*value.value));
  else
    field->set_data_text(value.text);
  const int n = held.generated();
  if (!(n > 0 ? own_->AddGenerated(n, field) : own_->Add(field, held))) return {};
  return ObjectRef(std::move(field));
}

inline void NativeHost::RemoveTemporary(const NameText& name) noexcept {
  // A name spelled as generated goes by its number, without the collection
  // reading the key again.
  if (const int g = name.generated(); g > 0) {
    own_->EraseGenerated(g);
    return;
  }
  if (const int n = GeneratedNameNumber(name); n > 0 && n <= kMaxPosition && name[6] != u'0') {
    own_->EraseGenerated(n);
    return;
  }
  try {
    own_->Erase(name);
  } catch (...) {
  }
}

inline void NativeHost::Read(const ObjectRef& field, FieldView& view) {
  if (const DataField* df = NativeField(field)) {
    view.type = df->data_type();
    view.data = &df->data();
    return;
  }
  LateHost::Read(field, view);
}

}  // namespace tarn::detail
