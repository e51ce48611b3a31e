// The default collection's inside, for the library's own code: the keyed
// map of the host's fields and the numbered entries of generated names.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn {

namespace detail {

struct KeyHash {
  using is_transparent = void;
  // Not noexcept on purpose: libstdc++ then keeps each entry's hash with it,
  // so that a lookup never hashes the keys it walks past again.
  std::size_t operator()(std::u16string_view s) const {
    std::uint64_t h = 1469598103934665603ull;  // 64-bit also where size_t is 32
    for (char16_t c : s) h = (h ^ UpperChar(c)) * 1099511628211ull;
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

}  // namespace detail

namespace detail {

// The library's collection: the keyed map of the host's fields and the
// numbered entries of generated names.
class FieldTable final : public DataFields {
 public:
  FieldTable() = default;
  ~FieldTable() override;

  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override;
  bool Add(const ObjectRef& field, std::u16string_view key) override;
  ObjectRef Put(std::u16string_view key, const ObjectRef& field) override;
  ObjectRef Find(std::u16string_view key) const override;
  bool Exists(std::u16string_view key) const override;
  bool Erase(std::u16string_view key) override;
  std::size_t Count() const noexcept override;
  std::vector<std::u16string> Keys() const override;

  std::unordered_map<std::u16string, Entry, detail::KeyHash, detail::KeyEqual> map;
  // Keys of the interpreter's own form ("Autodf" and a number, in any
  // case) are kept by their number: they come and go on every evaluation.
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

  // Entries under "Autodf<n>" (in any case), by n: the interpreter's
  // generated names come and go on every call, so they are found by their
  // number without reading the key.
  struct Generated {
    ObjectRef field;  // empty when free
    std::uint64_t seq = 0;
    std::u16string key;  // only when not spelled "Autodf<n>"
  };
  std::vector<Generated> generated;
  std::size_t generated_size = 0;  // generated.size(), without the division
  std::size_t generated_count = 0;
  std::uint64_t next_seq = 0;  // order of addition, over all entries

  bool ExistsGenerated(int n) const noexcept {
    return n > 0 && static_cast<std::size_t>(n) < generated_size &&
           generated[static_cast<std::size_t>(n)].field;
  }
  TARN_ALWAYS_INLINE bool AddGenerated(int n, const ObjectRef& field) {
    if (n > 0 && static_cast<std::size_t>(n) < generated_size) {
      Generated& g = generated[static_cast<std::size_t>(n)];
      if (g.field) return false;
      g.key.clear();
      g.field = field;
      g.seq = next_seq++;
      ++generated_count;
      return true;
    }
    return PlaceGenerated(n, field, {});
  }
  bool EraseGenerated(int n) noexcept {
    if (!ExistsGenerated(n)) return false;
    --generated_count;
    ObjectRef gone = std::move(generated[static_cast<std::size_t>(n)].field);
    return true;  // `gone` goes once the entry is consistent
  }
  // Adds under "Autodf<n>", growing the entries as needed; `spelling` is
  // the key as written when that is not "Autodf<n>".
  bool PlaceGenerated(int n, const ObjectRef& field, std::u16string_view spelling);

  // How many keys there are of each shape (capital first letter, length):
  // most names asked for and absent, such as a function's, have a shape no
  // key has, and are known absent without hashing them.
  static constexpr std::size_t kShapes = 64 * 32;
  static std::size_t ShapeOf(std::u16string_view k) noexcept {
    return k.empty() ? 0 : (UpperChar(k[0]) & 63u) * 32 + (k.size() & 31u);
  }
  std::array<std::uint32_t, kShapes> shapes{};

  // The keys found last, as they were written, and their entries: an
  // expression reads the same few host fields on every call. Forgotten when
  // an entry comes or goes.
  struct Found {
    std::u16string key;
    const Entry* entry = nullptr;
  };
  mutable std::array<Found, 2> found;
  mutable unsigned found_next = 0;
  void Forget() noexcept {
    for (Found& f : found) f.entry = nullptr;
  }

  const ObjectRef* Lookup(std::u16string_view key) const {
    if (int n = SlotOf(key); n >= 0)
      return ExistsGenerated(n) ? &generated[static_cast<std::size_t>(n)].field : nullptr;
    if (shapes[ShapeOf(key)] == 0) return nullptr;
    for (const Found& f : found)
      if (f.entry && SameText(f.key, key)) return &f.entry->field;
    auto it = map.find(key);
    if (it == map.end()) return nullptr;
    Found& f = found[found_next++ % found.size()];
    f.entry = nullptr;
    try {
      f.key.assign(key);
      f.entry = &it->second;
    } catch (...) {
      // not remembered
    }
    return &it->second.field;
  }

  struct Ordered {
    std::uint64_t seq;
    std::u16string key;
    const ObjectRef* field;
  };
  // Every entry in the order it was added.
  std::vector<Ordered> InOrder() const {
    std::vector<Ordered> order;
    order.reserve(map.size() + generated_count);
    for (const auto& [k, e] : map) order.push_back({e.seq, k, &e.field});
    for (std::size_t n = 0; n < generated.size(); ++n) {
      const Generated& s = generated[n];
      if (!s.field) continue;
      std::u16string key = s.key;
      if (key.empty()) key = std::u16string(u"Autodf") + Widen(std::to_string(n));
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

}  // namespace detail

}  // namespace tarn
