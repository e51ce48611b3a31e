// What the interpreter needs of its host, behind one interface chosen once at
// Init: the library's own collection is reached directly (NativeHost), any
// other by member name through late-bound calls (LateHost). The interpreter
// is written once against HostAccess.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "host/data_field_internal.h"
#include "host/data_fields_impl.h"
#include "interpreter/name_text.h"
#include "platform/class_table.h"
#include "tarn/host.h"
#include "tarn/object.h"

namespace tarn::detail {

// The library's own components behind a reference, or null.
inline DataField* NativeField(const ObjectRef& o) noexcept { return OwnField(o.get()); }
inline FieldTable* NativeFields(const ObjectRef& o) noexcept {
  return o && typeid(*o) == typeid(FieldTable) ? static_cast<FieldTable*>(o.get()) : nullptr;
}

enum class TextMember { Name, DataType, DataClass };

// A temporary field's value: a text written in place, or a value taken.
struct TemporaryValue {
  std::u16string_view text;
  Variant* value = nullptr;
};

// A field's type word and Data as the evaluator reads them: views of the
// field's own members where the strategy can lend them, else of the stores.
struct FieldView {
  std::u16string_view type;
  const Variant* data = nullptr;
  std::u16string type_store;
  Variant data_store;
};

class HostAccess {
 public:
  explicit HostAccess(ObjectRef fields) : fields_(std::move(fields)) {}
  virtual ~HostAccess() = default;
  HostAccess(const HostAccess&) = delete;
  HostAccess& operator=(const HostAccess&) = delete;

  const ObjectRef& fields() const noexcept { return fields_; }

  // The collection. Keys go by reference: a host may change them.
  virtual ObjectRef Item(std::u16string& key, bool through_mcol) = 0;  // raises when missing
  // Whether the host has a field by the name as the interpreter spells it
  // (proper case); a failing collection answers no.
  virtual bool IsDataField(std::u16string_view name) noexcept = 0;
  // IsDataField, and the field itself when there is one (`found` is left
  // alone otherwise).
  virtual bool FindDataField(std::u16string& name, ObjectRef& found, bool through_mcol) = 0;
  // Whether a generated name is taken; the host may rewrite it.
  virtual bool NameTaken(NameText& name) = 0;
  // Adds a temporary field under `held` (a new name) with the type word,
  // the class "Auto" and the value. `held` receives the name the host keeps
  // it under; the answer is the field to push, null when the key was
  // refused.
  virtual ObjectRef AddTemporary(NameText& held, std::u16string_view type,
                                 const TemporaryValue& value, bool through_mcol) = 0;
  // Removes a temporary field; the host's refusal is ignored.
  virtual void RemoveTemporary(const NameText& name) noexcept = 0;

  // Fields. Readers give a view of the field's own member where they can,
  // else of `store`.
  virtual std::u16string_view DataType(const ObjectRef& field, std::u16string& store) = 0;
  virtual const Variant& Data(const ObjectRef& field, Variant& store) = 0;
  // DataType, then Data.
  virtual void Read(const ObjectRef& field, FieldView& view) = 0;
  virtual Variant Value(const ObjectRef& field) = 0;  // the default member's value
  virtual void SetText(const ObjectRef& field, TextMember member, std::u16string_view text) = 0;
  virtual void SetData(const ObjectRef& field, Variant&& value) = 0;
  // A new data field from "ZellDFld.DataField".
  virtual ObjectRef NewField() = 0;

 protected:
  ObjectRef fields_;
  FactoryCache factory_;
};

// Any host: every call by member name.
class LateHost : public HostAccess {
 public:
  explicit LateHost(ObjectRef fields) : HostAccess(std::move(fields)) { remove_key_.reserve(32); }
  // The collection's Item, Exists, AddObject and Remove (Item of mCol when
  // asked), keys passed by reference.
  ObjectRef Item(std::u16string& key, bool through_mcol) override;
  bool IsDataField(std::u16string_view name) noexcept override;
  bool FindDataField(std::u16string& name, ObjectRef& found, bool through_mcol) override;
  bool NameTaken(NameText& name) override;
  // A field from the class table, its members assigned one by one, added,
  // its Name read back and the field fetched again by it.
  ObjectRef AddTemporary(NameText& held, std::u16string_view type, const TemporaryValue& value,
                         bool through_mcol) override;
  void RemoveTemporary(const NameText& name) noexcept override;
  // Get and Let of Name, DataType, Data and DataClass; Value is the default
  // member.
  Variant Value(const ObjectRef& field) override;
  std::u16string_view DataType(const ObjectRef& field, std::u16string& store) override;
  const Variant& Data(const ObjectRef& field, Variant& store) override;
  void Read(const ObjectRef& field, FieldView& view) override;
  void SetText(const ObjectRef& field, TextMember member, std::u16string_view text) override;
  void SetData(const ObjectRef& field, Variant&& value) override;
  ObjectRef NewField() override;

 private:
  // Room for the key of a removal made without allocating: a temporary
  // field must go even when memory has run out.
  std::u16string remove_key_;
};

// The strategy for a collection: NativeHost for the library's own.
std::unique_ptr<HostAccess> MakeHostAccess(ObjectRef fields);

// A member result that must be an object reference (else type mismatch).
ObjectRef AsObject(const Variant& v);

}  // namespace tarn::detail
