// The default keyed collection of data fields. Keys compare without regard
// to letter case, as the platform's keyed collection compares them; the
// interpreter adds and removes its temporary fields here on every call, so
// lookups avoid building upper-cased copies of the key.
#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "host/data_fields_impl.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn {

using detail::Entry;

using namespace std::string_view_literals;
using namespace std::string_literals;

namespace {

bool Is(std::u16string_view member, std::u16string_view name) {
  return member == name || detail::EqualsIgnoreCase(member, name);
}

}  // namespace

namespace {
// The inner keyed collection that mCol hands out; it forgets its owner when
// the owner goes.
class InnerCollection final : public Object {
 public:
  explicit InnerCollection(detail::FieldTable* owner) : owner_(owner) {}
  void Detach() { owner_ = nullptr; }
  Variant Invoke(std::u16string_view member, CallKind, std::span<Arg> args) override;
  std::u16string_view ClassName() const noexcept override { return u"Collection"sv; }

 private:
  detail::FieldTable* owner_;
};
}  // namespace

Variant InnerCollection::Invoke(std::u16string_view member, CallKind, std::span<Arg> args) {
  if (!owner_) Raise(err::kObjectNotSet);
  if (member.empty() || Is(member, u"Item"sv)) {
    RequireArgs(args, 1);
    return owner_->ItemByKeyOrIndex(args[0].value());
  }
  if (Is(member, u"Count"sv)) return static_cast<std::int32_t>(owner_->Count());
  RaiseNoMember(member);
}

Ref<DataFields> DataFields::Create() { return Ref<DataFields>(new detail::FieldTable); }

Ref<DataField> DataFields::AddField(std::u16string_view name, std::u16string_view data_type,
                                    Variant data) {
  Ref<DataField> field = DataField::Create();
  field->set_name(name);
  field->set_data_type(data_type);
  field->set_data(std::move(data));
  if (!Add(field, name)) return {};
  return field;
}

namespace detail {

FieldTable::~FieldTable() {
  if (inner) static_cast<InnerCollection*>(inner.get())->Detach();
}

bool FieldTable::PlaceGenerated(int n, const ObjectRef& field, std::u16string_view spelling) {
  if (n <= 0) return false;
  if (static_cast<std::size_t>(n) >= generated.size()) {
    generated.resize(std::max<std::size_t>(static_cast<std::size_t>(n) + 1, generated.size() * 2));
    generated_size = generated.size();
  }
  Generated& g = generated[static_cast<std::size_t>(n)];
  if (g.field) return false;
  g.key.assign(spelling);
  g.field = field;
  g.seq = next_seq++;
  ++generated_count;
  return true;
}

bool FieldTable::Add(const ObjectRef& field, std::u16string_view key) {
  FieldTable& m = *this;
  bool exact = false;
  if (int n = SlotOf(key, &exact); n >= 0)
    return exact ? m.AddGenerated(n, field) : m.PlaceGenerated(n, field, key);
  auto [it, inserted] = m.map.try_emplace(std::u16string(key), Entry{field, m.next_seq});
  if (inserted) {
    m.Forget();
    ++m.next_seq;
    ++m.shapes[ShapeOf(key)];
  }
  return inserted;
}

ObjectRef FieldTable::Put(std::u16string_view key, const ObjectRef& field) {
  FieldTable& m = *this;
  if (SlotOf(key) >= 0) {
    ObjectRef old = Find(key);
    if (old) Erase(key);
    Add(field, key);
    return old;
  }
  auto it = m.map.find(key);
  if (it == m.map.end()) {
    Add(field, key);
    return {};
  }
  ObjectRef old = std::exchange(it->second.field, field);
  it->second.seq = m.next_seq++;
  if (it->first != key) {
    // The key is spelt as given, in the same entry: it hashes alike.
    m.Forget();
    auto node = m.map.extract(it);
    node.key().assign(key);
    m.map.insert(std::move(node));
  }
  return old;
}

ObjectRef FieldTable::Find(std::u16string_view key) const {
  const ObjectRef* found = Lookup(key);
  return found ? *found : ObjectRef();
}

bool FieldTable::Exists(std::u16string_view key) const { return Lookup(key) != nullptr; }

bool FieldTable::Erase(std::u16string_view key) {
  FieldTable& m = *this;
  if (int n = SlotOf(key); n >= 0) return m.EraseGenerated(n);
  auto it = m.map.find(key);
  if (it == m.map.end()) return false;
  --m.shapes[ShapeOf(key)];
  m.Forget();
  m.map.erase(it);
  return true;
}

std::size_t FieldTable::Count() const noexcept { return map.size() + generated_count; }

std::vector<std::u16string> FieldTable::Keys() const {
  std::vector<std::u16string> keys;
  for (auto& e : InOrder()) keys.push_back(std::move(e.key));
  return keys;
}

namespace {
// A key as text: a String argument in place, without a copy, so that a
// removal needs no memory.
std::u16string_view KeyText(const Variant& v, std::u16string& store) {
  if (v.is_string()) return v.string();
  store = CStr(v);
  return store;
}
}  // namespace

Variant FieldTable::Invoke(std::u16string_view member, CallKind, std::span<Arg> args) {
  if (member.empty() || Is(member, u"Item"sv)) {
    RequireArgs(args, 1);
    return ItemByKeyOrIndex(args[0].value());
  }
  if (Is(member, u"Exists"sv)) {
    RequireArgs(args, 1);
    std::u16string store;
    return Exists(KeyText(args[0].value(), store));
  }
  if (Is(member, u"AddObject"sv)) {
    RequireArgs(args, 1);
    Variant v = args[0].value();
    if (!v.is_object() || !v.object()) Raise(err::kObjectRequired);
    std::u16string name = CStr(Get(v.object(), u"Name"sv));
    return static_cast<std::int16_t>(Add(v.object(), name) ? 0 : 457);
  }
  if (Is(member, u"Remove"sv)) {
    RequireArgs(args, 1);
    std::u16string store;
    if (!Erase(KeyText(args[0].value(), store))) Raise(err::kInvalidProcedureCall);
    return {};
  }
  if (Is(member, u"mCol"sv)) {
    if (!inner) inner = MakeRef<InnerCollection>(this);
    return inner;
  }
  if (Is(member, u"Count"sv)) return static_cast<std::int32_t>(Count());
  RaiseNoMember(member);
}

}  // namespace detail
}  // namespace tarn
