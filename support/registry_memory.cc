// The in-memory registry and the pieces it shares with the file backends:
// key paths, the tree of keys and values, and handles of open keys.
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unicode/uchar.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>

#include "support/registry.h"

namespace tarn {

namespace {

std::vector<std::uint8_t> TextBytes(std::u16string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

}  // namespace

RegistryValue RegistryValue::String(std::u16string_view text) {
  return RegistryValue{reg::kSz, TextBytes(text)};
}
RegistryValue RegistryValue::ExpandString(std::u16string_view text) {
  return RegistryValue{reg::kExpandSz, TextBytes(text)};
}
RegistryValue RegistryValue::Dword(std::uint32_t value) {
  return RegistryValue{
      reg::kDword,
      {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
       static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)}};
}
RegistryValue RegistryValue::Raw(std::uint32_t type, std::vector<std::uint8_t> bytes) {
  return RegistryValue{type, std::move(bytes)};
}

}  // namespace tarn

namespace tarn::detail {

namespace {

struct RootAlias {
  std::u16string_view name, short_name;
  std::uint32_t value;
};
constexpr std::array<RootAlias, 5> kRoots{{
    {u"HKEY_CLASSES_ROOT", u"HKCR", 0x80000000u},
    {u"HKEY_CURRENT_USER", u"HKCU", 0x80000001u},
    {u"HKEY_LOCAL_MACHINE", u"HKLM", 0x80000002u},
    {u"HKEY_USERS", u"HKU", 0x80000003u},
    {u"HKEY_CURRENT_CONFIG", u"HKCC", 0x80000005u},
}};

// Appends the non-empty, folded parts of `path` to `out`, each after "\".
void AppendParts(std::u16string& out, std::u16string_view path) {
  std::size_t i = 0;
  while (i <= path.size()) {
    std::size_t j = path.find(u'\\', i);
    if (j == std::u16string_view::npos) j = path.size();
    if (j > i) {
      out += u'\\';
      out += FoldCase(path.substr(i, j - i));
    }
    i = j + 1;
  }
}

}  // namespace

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c < 0x80) {
      if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    } else if (c < 0xD800 || c > 0xDFFF) {
#if defined(_WIN32)
      wchar_t in = static_cast<wchar_t>(c), up = in;
      if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &in, 1, &up, 1, nullptr, nullptr,
                        0) == 1)
        c = static_cast<char16_t>(up);
#else
      const UChar32 u = u_toupper(static_cast<UChar32>(c));
      if (u <= 0xFFFF) c = static_cast<char16_t>(u);
#endif
    }
  }
  return out;
}

std::u16string_view RootName(RegistryKey root) noexcept {
  for (const auto& r : kRoots)
    if (root == reg::Root(r.value)) return r.name;
  return {};
}

std::optional<std::u16string> NormaliseKeyPath(std::u16string_view path) {
  std::u16string parts;
  AppendParts(parts, path);
  if (parts.empty()) return std::nullopt;
  const std::size_t end = parts.find(u'\\', 1);
  const std::u16string_view first =
      std::u16string_view(parts).substr(1, end == std::u16string::npos ? end : end - 1);
  for (const auto& r : kRoots) {
    if (first == r.name || first == r.short_name) {
      std::u16string out(r.name);
      if (end != std::u16string::npos) out += parts.substr(end);
      return out;
    }
  }
  return std::nullopt;
}

void RegistryTree::CreateKey(const std::u16string& path) {
  for (std::size_t i = path.find(u'\\'); i != std::u16string::npos; i = path.find(u'\\', i + 1))
    keys.try_emplace(path.substr(0, i));
  keys.try_emplace(path);
}

void RegistryTree::DeleteKey(const std::u16string& path) {
  const std::u16string prefix = path + u'\\';
  for (auto it = keys.begin(); it != keys.end();) {
    if (it->first == path || it->first.starts_with(prefix))
      it = keys.erase(it);
    else
      ++it;
  }
}

bool RegistryTree::HasKey(const std::u16string& path) const {
  return path.find(u'\\') == std::u16string::npos || keys.contains(path);
}

std::string QueryBytes(const RegistryValue& value) {
  const auto& d = value.data;
  if (value.type == reg::kSz || value.type == reg::kExpandSz || value.type == reg::kMultiSz) {
    std::u16string text(d.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(d[2 * i] | (d[2 * i + 1] << 8));
    return ToAnsi(text);
  }
  return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

std::int32_t SnapshotKeys::OpenOn(std::shared_ptr<const RegistryTree> tree,
                                  const std::u16string& base, std::string_view sub_key,
                                  RegistryKey& key) {
  std::u16string path = base;
  AppendParts(path, FromAnsi(sub_key));
  if (!tree->HasKey(path)) return reg::kFileNotFound;
  std::lock_guard lock(mu_);
  // Handles stay below the predefined roots (0x80000000 and up).
  do {
    key = next_++;
    if (next_ >= 0x7FFFFFFF) next_ = 1;
  } while (open_.contains(key));
  open_.emplace(key, Entry{std::move(tree), std::move(path)});
  return reg::kSuccess;
}

std::int32_t SnapshotKeys::Query(RegistryKey key, std::string_view name, std::uint32_t& type,
                                 std::uint8_t* data, std::uint32_t& size) {
  Entry entry;
  {
    std::lock_guard lock(mu_);
    const auto it = open_.find(key);
    if (it == open_.end()) return reg::kInvalidHandle;
    entry = it->second;
  }
  const auto k = entry.tree->keys.find(entry.path);
  if (k == entry.tree->keys.end()) return reg::kFileNotFound;
  const auto v = k->second.find(FoldCase(FromAnsi(name)));
  if (v == k->second.end()) return reg::kFileNotFound;
  const std::string bytes = QueryBytes(v->second);
  type = v->second.type;
  if (data != nullptr && bytes.size() > size) {
    size = static_cast<std::uint32_t>(bytes.size());
    return reg::kMoreData;
  }
  if (data != nullptr && !bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  size = static_cast<std::uint32_t>(bytes.size());
  return reg::kSuccess;
}

std::int32_t SnapshotKeys::Close(RegistryKey key) {
  std::lock_guard lock(mu_);
  return open_.erase(key) != 0 ? reg::kSuccess : reg::kInvalidHandle;
}

}  // namespace tarn::detail

namespace tarn {

struct MemoryRegistry::Impl {
  mutable std::mutex mu;
  std::shared_ptr<const detail::RegistryTree> tree = std::make_shared<detail::RegistryTree>();
  detail::SnapshotKeys keys;

  std::shared_ptr<const detail::RegistryTree> Snapshot() const {
    std::lock_guard lock(mu);
    return tree;
  }
  // Runs `change` on a copy of the tree and installs the copy when it
  // returns true.
  template <class F>
  bool Change(F&& change) {
    std::lock_guard lock(mu);
    auto copy = std::make_shared<detail::RegistryTree>(*tree);
    if (!change(*copy)) return false;
    tree = std::move(copy);
    return true;
  }
};

MemoryRegistry::MemoryRegistry() : impl_(std::make_unique<Impl>()) {}
MemoryRegistry::~MemoryRegistry() = default;

bool MemoryRegistry::CreateKey(std::u16string_view key) {
  const auto path = detail::NormaliseKeyPath(key);
  if (!path) return false;
  return impl_->Change([&](detail::RegistryTree& t) {
    t.CreateKey(*path);
    return true;
  });
}

bool MemoryRegistry::SetValue(std::u16string_view key, std::u16string_view name,
                              RegistryValue value) {
  const auto path = detail::NormaliseKeyPath(key);
  if (!path) return false;
  return impl_->Change([&](detail::RegistryTree& t) {
    t.CreateKey(*path);
    t.keys[*path].insert_or_assign(detail::FoldCase(name), std::move(value));
    return true;
  });
}

bool MemoryRegistry::DeleteValue(std::u16string_view key, std::u16string_view name) {
  const auto path = detail::NormaliseKeyPath(key);
  if (!path) return false;
  return impl_->Change([&](detail::RegistryTree& t) {
    const auto it = t.keys.find(*path);
    return it != t.keys.end() && it->second.erase(detail::FoldCase(name)) != 0;
  });
}

bool MemoryRegistry::DeleteKey(std::u16string_view key) {
  const auto path = detail::NormaliseKeyPath(key);
  if (!path) return false;
  return impl_->Change([&](detail::RegistryTree& t) {
    if (!t.HasKey(*path)) return false;
    t.DeleteKey(*path);
    return true;
  });
}

void MemoryRegistry::Clear() {
  impl_->Change([](detail::RegistryTree& t) {
    t.keys.clear();
    return true;
  });
}

bool MemoryRegistry::KeyExists(std::u16string_view key) const {
  const auto path = detail::NormaliseKeyPath(key);
  return path && impl_->Snapshot()->HasKey(*path);
}

std::optional<RegistryValue> MemoryRegistry::FindValue(std::u16string_view key,
                                                       std::u16string_view name) const {
  const auto path = detail::NormaliseKeyPath(key);
  if (!path) return std::nullopt;
  const auto tree = impl_->Snapshot();
  const auto k = tree->keys.find(*path);
  if (k == tree->keys.end()) return std::nullopt;
  const auto v = k->second.find(detail::FoldCase(name));
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

bool MemoryRegistry::Import(std::u16string_view text) {
  return impl_->Change([&](detail::RegistryTree& t) { return detail::ApplyRegistryText(text, t); });
}

bool MemoryRegistry::ImportBytes(std::string_view bytes) {
  return Import(detail::DecodeRegistryFileBytes(bytes));
}

std::int32_t MemoryRegistry::OpenKey(RegistryKey root, std::string_view sub_key, std::uint32_t,
                                     RegistryKey& key) {
  return impl_->keys.Open(root, sub_key, key, [this] { return impl_->Snapshot(); });
}

std::int32_t MemoryRegistry::QueryValue(RegistryKey key, std::string_view name, std::uint32_t& type,
                                        std::uint8_t* data, std::uint32_t& size) {
  return impl_->keys.Query(key, name, type, data, size);
}

std::int32_t MemoryRegistry::CloseKey(RegistryKey key) { return impl_->keys.Close(key); }

bool ParseRegistryFile(std::u16string_view text, MemoryRegistry& into) { return into.Import(text); }

}  // namespace tarn
