// The default keyed collection of data fields. Keys compare without regard
// to letter case, as the platform's keyed collection compares them; the
// interpreter adds and removes its temporary fields here on every call, so
// lookups avoid building upper-cased copies of the key.
#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn {

namespace {

struct KeyHash {
  using is_transparent = void;
  std::size_t operator()(std::u16string_view s) const noexcept {
    std::size_t h = 1469598103934665603ull;
    for (char16_t c : s) h = (h ^ detail::UpperChar(c)) * 1099511628211ull;
    return h;
  }
};

struct KeyEqual {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const noexcept {
    return detail::EqualsIgnoreCase(a, b);
  }
};

struct Entry {
  ObjectRef field;
  std::uint64_t seq;
};

bool Is(std::u16string_view member, std::u16string_view name) {
  return member == name || detail::EqualsIgnoreCase(member, name);
}

}  // namespace

struct DataFields::Impl {
  std::unordered_map<std::u16string, Entry, KeyHash, KeyEqual> map;
  std::uint64_t next_seq = 0;
  Ref<Object> inner;

  ObjectRef ItemByKeyOrIndex(const Variant& key) const {
    Variant k = DefaultValue(key);
    if (k.kind() != Kind::String && IsNumeric(k)) {
      std::int32_t index = CLng(k);
      std::vector<const Entry*> order;
      for (const auto& [_, e] : map) order.push_back(&e);
      std::sort(order.begin(), order.end(),
                [](const Entry* a, const Entry* b) { return a->seq < b->seq; });
      if (index < 1 || static_cast<std::size_t>(index) > order.size())
        Raise(err::kInvalidProcedureCall);
      return order[static_cast<std::size_t>(index) - 1]->field;
    }
    std::u16string s = CStr(k);
    auto it = map.find(std::u16string_view(s));
    if (it == map.end()) Raise(err::kInvalidProcedureCall);
    return it->second.field;
  }
};

namespace {
// The inner keyed collection that mCol hands out; it forgets its owner when
// the owner goes.
class InnerCollection final : public Object {
 public:
  explicit InnerCollection(DataFields::Impl* owner) : owner_(owner) {}
  void Detach() { owner_ = nullptr; }
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg> args) override;
  std::u16string_view ClassName() const noexcept override { return u"Collection"; }

 private:
  DataFields::Impl* owner_;
};
}  // namespace

Variant InnerCollection::Invoke(std::u16string_view member, CallKind, std::span<Arg> args) {
  if (!owner_) Raise(err::kObjectNotSet);
  if (member.empty() || Is(member, u"Item")) {
    RequireArgs(args, 1);
    return owner_->ItemByKeyOrIndex(args[0].value());
  }
  if (Is(member, u"Count")) return static_cast<std::int32_t>(owner_->map.size());
  RaiseNoMember(member);
}

DataFields::DataFields() : impl_(std::make_unique<Impl>()) { native_kind_ = kNativeKind; }

DataFields::~DataFields() {
  if (impl_->inner) static_cast<InnerCollection*>(impl_->inner.get())->Detach();
}

bool DataFields::Add(const ObjectRef& field, std::u16string_view key) {
  auto [it, inserted] = impl_->map.try_emplace(std::u16string(key), Entry{field, impl_->next_seq});
  if (inserted) ++impl_->next_seq;
  return inserted;
}

Ref<DataField> DataFields::AddField(std::u16string_view name, std::u16string_view data_type,
                                    Variant data) {
  auto field = MakeRef<DataField>(std::u16string(name), std::u16string(data_type), std::move(data));
  if (!Add(field, name)) return {};
  return field;
}

ObjectRef DataFields::Find(std::u16string_view key) const {
  auto it = impl_->map.find(key);
  return it == impl_->map.end() ? ObjectRef() : it->second.field;
}

bool DataFields::Exists(std::u16string_view key) const {
  return impl_->map.find(key) != impl_->map.end();
}

bool DataFields::Erase(std::u16string_view key) {
  auto it = impl_->map.find(key);
  if (it == impl_->map.end()) return false;
  impl_->map.erase(it);
  return true;
}

std::size_t DataFields::Count() const noexcept { return impl_->map.size(); }

std::vector<std::u16string> DataFields::Keys() const {
  std::vector<std::pair<std::uint64_t, std::u16string>> order;
  for (const auto& [k, e] : impl_->map) order.emplace_back(e.seq, k);
  std::sort(order.begin(), order.end());
  std::vector<std::u16string> keys;
  for (auto& [_, k] : order) keys.push_back(std::move(k));
  return keys;
}

Variant DataFields::Invoke(std::u16string_view member, CallKind, std::span<Arg> args) {
  if (member.empty() || Is(member, u"Item")) {
    RequireArgs(args, 1);
    return impl_->ItemByKeyOrIndex(args[0].value());
  }
  if (Is(member, u"Exists")) {
    RequireArgs(args, 1);
    return Exists(CStr(args[0].value()));
  }
  if (Is(member, u"AddObject")) {
    RequireArgs(args, 1);
    Variant v = args[0].value();
    if (!v.is_object() || !v.object()) Raise(err::kObjectRequired);
    std::u16string name = CStr(Get(v.object(), u"Name"));
    return static_cast<std::int16_t>(Add(v.object(), name) ? 0 : 457);
  }
  if (Is(member, u"Remove")) {
    RequireArgs(args, 1);
    if (!Erase(CStr(args[0].value()))) Raise(err::kInvalidProcedureCall);
    return {};
  }
  if (Is(member, u"mCol")) {
    if (!impl_->inner) impl_->inner = MakeRef<InnerCollection>(impl_.get());
    return impl_->inner;
  }
  if (Is(member, u"Count")) return static_cast<std::int32_t>(Count());
  RaiseNoMember(member);
}

}  // namespace tarn
