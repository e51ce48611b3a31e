// The two host strategies. LateHost reaches the collection and its fields
// only by member name; NativeHost calls the library's own collection and
// fields directly and hands anything else to LateHost.
#include <array>
#include <optional>

#include "interpreter/constants.h"
#include "interpreter/name_text.h"
#include "interpreter/native_host.h"
#include "platform/text.h"
#include "platform/thread_exit.h"
#include "support/text_tools.h"
#include "tarn/convert.h"

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

bool ExistsAnswer(const Variant& r) { return !r.is_null() && CBool(r); }

}  // namespace

ObjectRef AsObject(const Variant& v) {
  if (!v.is_object()) Raise(err::kTypeMismatch);
  return v.object();
}

std::unique_ptr<HostAccess> MakeHostAccess(ObjectRef fields) {
  if (NativeFields(fields)) return std::make_unique<NativeHost>(std::move(fields));
  return std::make_unique<LateHost>(std::move(fields));
}

// ---- LateHost

ObjectRef LateHost::Item(std::u16string& key, bool through_mcol) {
  if (!through_mcol) return AsObject(CallWithKey(fields_, u"Item"sv, key));
  const ObjectRef col = AsObject(Get(fields_, u"mCol"sv));
  return AsObject(CallWithKey(col, u"Item"sv, key));
}

bool LateHost::IsDataField(std::u16string_view name) noexcept {
  try {
    // Reused: asked for every word.
    std::u16string& proper = ThreadLocal<std::u16string, struct LateProperName>();
    ProperCaseInto(name, proper);
    return ExistsAnswer(CallWithKey(fields_, u"Exists"sv, proper));
  } catch (...) {
    return false;  // any failure of the host's collection counts as "no such field"
  }
}

bool LateHost::FindDataField(std::u16string& name, ObjectRef& found, bool through_mcol) {
  if (!IsDataField(name)) return false;
  found = Item(name, through_mcol);
  return true;
}

bool LateHost::NameTaken(NameText& name) {
  std::u16string key = name.str();  // passed by reference: the host may change it
  bool taken = false;
  try {
    taken = ExistsAnswer(CallWithKey(fields_, u"Exists"sv, key));
  } catch (...) {
  }
  name.assign(key);
  return taken;
}

ObjectRef LateHost::AddTemporary(NameText& held, std::u16string_view type,
                                 const TemporaryValue& value, bool through_mcol) {
  ObjectRef field = NewField();
  SetText(field, TextMember::Name, held);
  SetText(field, TextMember::DataType, type);
  SetText(field, TextMember::DataClass, u"Auto"sv);
  SetData(field, value.value ? std::move(*value.value) : Variant(value.text));
  Variant v(field);
  std::array<Arg, 1> a{Arg::ByRef(v)};
  if (CInt(Call(fields_, u"AddObject"sv, a)) != 0) return {};
  // From here on the field may be in the collection: every failure raises,
  // so that the name stays held and the clean-up removes the field.
  std::u16string key = CStr(Get(field, u"Name"sv));
  // A host may rename the field. A new name that the host's own field
  // already has must never be held: the clean-up would remove that field.
  const bool renamed = !EqualsIgnoreCase(key, held);
  if (!renamed) held.assign(key);
  ObjectRef added = Item(key, through_mcol);
  if (!added) Raise(err::kObjectRequired);  // the collection answers Nothing
  if (renamed && !(added == field))
    Raise(
        err::kInvalidProcedureCall, {},
        u"The host's collection renamed a temporary field to its own field's name '" + key + u"'");
  if (renamed) held.assign(key);
  return added;
}

void LateHost::RemoveTemporary(const NameText& name) noexcept {
  try {
    remove_key_.assign(name);
    CallWithKey(fields_, u"Remove"sv, remove_key_);
  } catch (...) {
    // The host's collection refused; the name is freed all the same.
  }
}

std::u16string_view LateHost::DataType(const ObjectRef& field, std::u16string& store) {
  store = CStr(Get(field, u"DataType"sv));
  return store;
}

const Variant& LateHost::Data(const ObjectRef& field, Variant& store) {
  store = Get(field, u"Data"sv);
  return store;
}

void LateHost::Read(const ObjectRef& field, FieldView& view) {
  view.type = DataType(field, view.type_store);
  view.data = &Data(field, view.data_store);
}

Variant LateHost::Value(const ObjectRef& field) { return DefaultValue(Variant(field)); }

void LateHost::SetText(const ObjectRef& field, TextMember member, std::u16string_view text) {
  static constexpr std::u16string_view kNames[] = {u"Name"sv, u"DataType"sv, u"DataClass"sv};
  Let(field, kNames[static_cast<int>(member)], Variant(text));
}

void LateHost::SetData(const ObjectRef& field, Variant&& value) { Let(field, u"Data"sv, value); }

ObjectRef LateHost::NewField() { return CreateObjectCached(kDataFieldProgId, factory_); }

// ---- NativeHost

NativeHost::NativeHost(ObjectRef fields)
    : LateHost(std::move(fields)), own_(NativeFields(fields_)) {}

bool NativeHost::IsDataField(std::u16string_view name) noexcept {
  try {
    if (const auto direct = DirectName(name)) return own_->Exists(*direct);
    std::u16string& proper = ThreadLocal<std::u16string, struct NativeProperName>();
    ProperCaseInto(name, proper);
    return own_->Exists(proper);
  } catch (...) {
    return false;
  }
}

std::u16string_view NativeHost::DataType(const ObjectRef& field, std::u16string& store) {
  if (const DataField* df = NativeField(field)) return df->data_type();
  return LateHost::DataType(field, store);
}

const Variant& NativeHost::Data(const ObjectRef& field, Variant& store) {
  if (const DataField* df = NativeField(field)) return df->data();
  return LateHost::Data(field, store);
}

Variant NativeHost::Value(const ObjectRef& field) {
  if (const DataField* df = NativeField(field))
    return df->data().is_object() ? DefaultValue(df->data()) : df->data();
  return LateHost::Value(field);
}

void NativeHost::SetText(const ObjectRef& field, TextMember member, std::u16string_view text) {
  DataField* df = NativeField(field);
  if (!df) return LateHost::SetText(field, member, text);
  switch (member) {
    case TextMember::Name: df->set_name(text); break;
    case TextMember::DataType: df->set_data_type(text); break;
    case TextMember::DataClass: df->set_data_class(text); break;
  }
}

void NativeHost::SetData(const ObjectRef& field, Variant&& value) {
  DataField* df = NativeField(field);
  if (!df) return LateHost::SetData(field, std::move(value));
  StoreData(*df, std::move(value));
}

}  // namespace tarn::detail
