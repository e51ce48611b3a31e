// The two host strategies. LateHost reaches the collection and its fields
// only by member name; NativeHost calls the library's own collection and
// fields directly and hands anything else to LateHost.
#include "host/host_access.h"

#include <array>
#include <optional>

#include "host/data_field_internal.h"
#include "host/data_fields_impl.h"
#include "interpreter/name_text.h"
#include "platform/text.h"
#include "support/constants.h"
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

// Our own collection ignores case, so a name in ASCII finds, without its
// spaces, what its proper-case form finds; nothing when the proper case has
// to be made.
std::optional<std::u16string_view> DirectName(std::u16string_view name) noexcept {
  const std::u16string_view trimmed = TrimSpaces(name);
  for (char16_t c : trimmed)
    if (c >= 0x80) return std::nullopt;
  return trimmed;
}

// A value as the library's own field keeps it: an object by its value.
void StoreData(DataField& field, Variant&& value) {
  if (value.is_object())
    DataField::Internal::Data(field) = DefaultValue(value);
  else
    DataField::Internal::Data(field) = std::move(value);
}
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
    thread_local std::u16string proper;  // reused: asked for every word
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
  // The host may have renamed it.
  held.assign(CStr(Get(field, u"Name"sv)));
  std::u16string key = held.str();
  return Item(key, through_mcol);
}

void LateHost::RemoveTemporary(const NameText& name) noexcept {
  try {
    std::u16string key = name.str();
    CallWithKey(fields_, u"Remove"sv, key);
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
    : LateHost(std::move(fields)),
      own_(NativeFields(fields_)),
      own_impl_(DataFields::Impl::Of(*own_)) {}

ObjectRef NativeHost::Item(std::u16string& key, bool) {
  ObjectRef r = own_->Find(key);
  if (!r) Raise(err::kInvalidProcedureCall);
  return r;
}

bool NativeHost::IsDataField(std::u16string_view name) noexcept {
  try {
    if (const auto direct = DirectName(name)) return own_->Exists(*direct);
    thread_local std::u16string proper;
    ProperCaseInto(name, proper);
    return own_->Exists(proper);
  } catch (...) {
    return false;
  }
}

bool NativeHost::FindDataField(std::u16string& name, ObjectRef& found, bool through_mcol) {
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

bool NativeHost::NameTaken(NameText& name) {
  int n = name.generated();
  if (n == 0) n = GeneratedNameNumber(name);
  if (n > 0) return own_impl_.ExistsGenerated(n);
  return own_->Exists(name);
}

ObjectRef NativeHost::AddTemporary(NameText& held, std::u16string_view type,
                                   const TemporaryValue& value, bool through_mcol) {
  RefreshFactory(kDataFieldProgId, factory_);
  if (factory_.plain != &NewDefaultDataField)
    return LateHost::AddTemporary(held, type, value, through_mcol);
  // The default field: a released one is reused, its texts overwritten in place.
  using Internal = DataField::Internal;
  Ref<DataField> field = Internal::CreateForOverwrite();
  Internal::OverwriteName(*field, held);
  Internal::OverwriteDataType(*field, type);
  Internal::OverwriteDataClass(*field, u"Auto"sv);
  if (value.value)
    StoreData(*field, std::move(*value.value));
  else
    Internal::Data(*field).set_string(value.text);
  const int n = held.generated();
  if (!(n > 0 ? own_impl_.AddGenerated(n, field) : own_->Add(field, held))) return {};
  return ObjectRef(std::move(field));
}

void NativeHost::RemoveTemporary(const NameText& name) noexcept {
  // A name spelled as generated goes by its number, without the collection
  // reading the key again.
  if (const int g = name.generated(); g > 0) {
    own_impl_.EraseGenerated(g);
    return;
  }
  if (const int n = GeneratedNameNumber(name); n > 0 && n <= kMaxPosition && name[6] != u'0') {
    own_impl_.EraseGenerated(n);
    return;
  }
  try {
    own_->Erase(name);
  } catch (...) {
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

void NativeHost::Read(const ObjectRef& field, FieldView& view) {
  if (const DataField* df = NativeField(field)) {
    view.type = df->data_type();
    view.data = &df->data();
    return;
  }
  LateHost::Read(field, view);
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
    case TextMember::Name: DataField::Internal::OverwriteName(*df, text); break;
    case TextMember::DataType: DataField::Internal::OverwriteDataType(*df, text); break;
    case TextMember::DataClass: DataField::Internal::OverwriteDataClass(*df, text); break;
  }
}

void NativeHost::SetData(const ObjectRef& field, Variant&& value) {
  DataField* df = NativeField(field);
  if (!df) return LateHost::SetData(field, std::move(value));
  StoreData(*df, std::move(value));
}

}  // namespace tarn::detail
