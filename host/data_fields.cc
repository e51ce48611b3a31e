// The default keyed collection of data fields. Keys compare without regard
// to letter case, as the platform's keyed collection compares them; the
// interpreter adds and removes its temporary fields here on every call, so
// lookups avoid building upper-cased copies of the key.
#include <algorithm>
#include <array>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn {

using namespace std::string_view_literals;
using namespace std::string_literals;

namespace {

struct KeyHash {
  using is_transparent = void;
  std::size_t operator()(std::u16string_view s) const noexcept {
    std::uint64_t h = 1469598103934665603ull;  // 64-bit also where size_t is 32
    for (char16_t c : s) h = (h ^ detail::UpperChar(c)) * 1099511628211ull;
    return static_cast<std::size_t>(h);
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
  // Keys of the interpreter's own form ("Autodf" and a number, in any
  // case) are kept by their number: they come and go on every evaluation.
  DataFields* owner = nullptr;
  Ref<Object> inner;

  // The slot number of an "Autodf<n>" key (n from 1 without a leading
  // zero), or -1; `exact` tells whether it is spelled so. Keys that differ
  // only in case get the same number: ASCII letters fold with 0x20, and no
  // other character's capital is one of these six letters.
  static int SlotOf(std::u16string_view k, bool* exact = nullptr) noexcept {
    const std::size_t size = k.size();
    if (size < 7 || size > 11) return -1;
    const char16_t* p = k.data();
    if ((p[0] | 0x20) != u'a' || (p[1] | 0x20) != u'u' || (p[2] | 0x20) != u't' ||
        (p[3] | 0x20) != u'o' || (p[4] | 0x20) != u'd' || (p[5] | 0x20) != u'f')
      return -1;
    if (p[6] < u'1' || p[6] > u'9') return -1;
    int n = 0;
    for (std::size_t i = 6; i < size; ++i) {
      if (p[i] < u'0' || p[i] > u'9') return -1;
      n = n * 10 + (p[i] - u'0');
    }
    if (n > kMaxSlot) return -1;
    if (exact)
      *exact = p[0] == u'A' && p[1] == u'u' && p[2] == u't' && p[3] == u'o' && p[4] == u'd' &&
               p[5] == u'f';
    return n;
  }
  static constexpr int kMaxSlot = 32767;

  // The keys asked for last, as they were written, and what was found: an
  // expression names the same host fields (and function words, which are
  // absent) on every call. Valid while `map_version` is unchanged.
  struct Recent {
    std::u16string key;
    const Entry* entry = nullptr;  // null: the key is absent
    std::uint64_t version = 0;
  };
  mutable std::array<Recent, 8> recent;
  mutable unsigned recent_next = 0;
  std::uint64_t map_version = 1;  // bumped whenever the map changes

  const ObjectRef* Lookup(std::u16string_view key) const {
    if (int n = SlotOf(key); n >= 0)
      return owner->ExistsGenerated(n) ? &owner->generated_[static_cast<std::size_t>(n)].field
                                       : nullptr;
    for (const Recent& r : recent)
      if (r.version == map_version && detail::SameText(r.key, key))
        return r.entry ? &r.entry->field : nullptr;
    auto it = map.find(key);
    const Entry* entry = it == map.end() ? nullptr : &it->second;
    Recent& r = recent[recent_next++ % recent.size()];
    r.version = 0;
    try {
      r.key.assign(key);
      r.entry = entry;
      r.version = map_version;
    } catch (...) {
      // not remembered
    }
    return entry ? &entry->field : nullptr;
  }

  struct Ordered {
    std::uint64_t seq;
    std::u16string key;
    const ObjectRef* field;
  };
  // Every entry in the order it was added.
  std::vector<Ordered> InOrder() const {
    std::vector<Ordered> order;
    order.reserve(map.size() + owner->generated_count_);
    for (const auto& [k, e] : map) order.push_back({e.seq, k, &e.field});
    for (std::size_t n = 0; n < owner->generated_.size(); ++n) {
      const Generated& s = owner->generated_[n];
      if (!s.field) continue;
      std::u16string key = s.key;
      if (key.empty()) key = u"Autodf"s + detail::Widen(std::to_string(n));
      order.push_back({s.seq, std::move(key), &s.field});
    }
    std::sort(order.begin(), order.end(),
              [](const Ordered& a, const Ordered& b) { return a.seq < b.seq; });
    return order;
  }

  ObjectRef ItemByKeyOrIndex(const Variant& key) const {
    Variant k = DefaultValue(key);
    if (k.kind() != Kind::String && IsNumeric(k)) {
      std::int32_t index = CLng(k);
      const auto order = InOrder();
      if (index < 1 || static_cast<std::size_t>(index) > order.size())
        Raise(err::kInvalidProcedureCall);
      return *order[static_cast<std::size_t>(index) - 1].field;
    }
    std::u16string s = CStr(k);
    const ObjectRef* found = Lookup(s);
    if (!found) Raise(err::kInvalidProcedureCall);
    return *found;
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
  std::u16string_view ClassName() const noexcept override { return u"Collection"sv; }

 private:
  DataFields::Impl* owner_;
};
}  // namespace

Variant InnerCollection::Invoke(std::u16string_view member, CallKind, std::span<Arg> args) {
  if (!owner_) Raise(err::kObjectNotSet);
  if (member.empty() || Is(member, u"Item"sv)) {
    RequireArgs(args, 1);
    return owner_->ItemByKeyOrIndex(args[0].value());
  }
  if (Is(member, u"Count"sv)) return static_cast<std::int32_t>(owner_->owner->Count());
  RaiseNoMember(member);
}

DataFields::DataFields() : impl_(std::make_unique<Impl>()) {
  native_kind_ = kNativeKind;
  impl_->owner = this;
}

DataFields::~DataFields() {
  if (impl_->inner) static_cast<InnerCollection*>(impl_->inner.get())->Detach();
}

bool DataFields::AddGeneratedLate(int n, const ObjectRef& field) {
  return PlaceGenerated(n, field, {});
}

bool DataFields::PlaceGenerated(int n, const ObjectRef& field, std::u16string_view spelling) {
  if (n <= 0) return false;
  if (static_cast<std::size_t>(n) >= generated_.size()) {
    generated_.resize(
        std::max<std::size_t>(static_cast<std::size_t>(n) + 1, generated_.size() * 2));
    generated_size_ = generated_.size();
  }
  Generated& g = generated_[static_cast<std::size_t>(n)];
  if (g.field) return false;
  g.key.assign(spelling);
  g.field = field;
  g.seq = next_seq_++;
  ++generated_count_;
  return true;
}

bool DataFields::Add(const ObjectRef& field, std::u16string_view key) {
  Impl& m = *impl_;
  bool exact = false;
  if (int n = Impl::SlotOf(key, &exact); n >= 0)
    return exact ? AddGenerated(n, field) : PlaceGenerated(n, field, key);
  auto [it, inserted] = m.map.try_emplace(std::u16string(key), Entry{field, m.owner->next_seq_});
  if (inserted) {
    ++m.map_version;
    ++m.owner->next_seq_;
  }
  return inserted;
}

Ref<DataField> DataFields::AddField(std::u16string_view name, std::u16string_view data_type,
                                    Variant data) {
  auto field = MakeRef<DataField>(std::u16string(name), std::u16string(data_type), std::move(data));
  if (!Add(field, name)) return {};
  return field;
}

ObjectRef DataFields::Find(std::u16string_view key) const {
  const ObjectRef* found = impl_->Lookup(key);
  return found ? *found : ObjectRef();
}

bool DataFields::Exists(std::u16string_view key) const { return impl_->Lookup(key) != nullptr; }

bool DataFields::Erase(std::u16string_view key) {
  Impl& m = *impl_;
  if (int n = Impl::SlotOf(key); n >= 0) return EraseGenerated(n);
  auto it = m.map.find(key);
  if (it == m.map.end()) return false;
  ++m.map_version;
  m.map.erase(it);
  return true;
}

std::size_t DataFields::Count() const noexcept { return impl_->map.size() + generated_count_; }

std::vector<std::u16string> DataFields::Keys() const {
  std::vector<std::u16string> keys;
  for (auto& e : impl_->InOrder()) keys.push_back(std::move(e.key));
  return keys;
}

Variant DataFields::Invoke(std::u16string_view member, CallKind, std::span<Arg> args) {
  if (member.empty() || Is(member, u"Item"sv)) {
    RequireArgs(args, 1);
    return impl_->ItemByKeyOrIndex(args[0].value());
  }
  if (Is(member, u"Exists"sv)) {
    RequireArgs(args, 1);
    return Exists(CStr(args[0].value()));
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
    if (!Erase(CStr(args[0].value()))) Raise(err::kInvalidProcedureCall);
    return {};
  }
  if (Is(member, u"mCol"sv)) {
    if (!impl_->inner) impl_->inner = MakeRef<InnerCollection>(impl_.get());
    return impl_->inner;
  }
  if (Is(member, u"Count"sv)) return static_cast<std::int32_t>(Count());
  RaiseNoMember(member);
}

}  // namespace tarn
