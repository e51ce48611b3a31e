// Read-only access to registry values (module General_Registry): open a key
// below a root, query a value's type and data into a 256-byte buffer, close.
// The operations go to the backend installed through tarn/registry.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "tarn/registry.h"
#include "tarn/value.h"

namespace tarn::detail {

inline constexpr std::int32_t kHKeyLocalMachine = static_cast<std::int32_t>(0x80000002u);

// The REG_SZ value, or "" for a missing key or value, another type or a
// text longer than 255 characters (bytes of the ANSI code page). A REG_SZ
// value of no bytes at all raises error 5. Errors of converting
// `vValueName` to text go to the caller too.
std::u16string ReadRegistryString(std::int32_t& hKeyRoot, std::u16string& strSubKey,
                                  Variant vValueName);

// Texts in the system's ANSI code page (UTF-8 off Windows).
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(std::string_view bytes);

// ---- Shared pieces of the memory and file backends ----

// Upper-cases for comparisons without regard to letter case.
std::u16string FoldCase(std::u16string_view text);
// "HKEY_LOCAL_MACHINE" for the predefined root, "" for any other handle.
std::u16string_view RootName(RegistryKey root) noexcept;
// The folded, canonical form of a full key path ("HKLM\\Software\\X\\" ->
// "HKEY_LOCAL_MACHINE\\SOFTWARE\\X"); nothing when the root is not known.
std::optional<std::u16string> NormaliseKeyPath(std::u16string_view path);

// Keys and values; paths and names are folded.
struct RegistryTree {
  std::map<std::u16string, std::map<std::u16string, RegistryValue>> keys;

  void CreateKey(const std::u16string& path);
  void DeleteKey(const std::u16string& path);
  bool HasKey(const std::u16string& path) const;
};

// Converts a stored value to what RegQueryValueExA returns: text types in
// the ANSI code page with their zero, everything else unchanged.
std::string QueryBytes(const RegistryValue& value);

// Handles of keys opened on snapshots of a tree. An open key keeps the
// snapshot it was opened on.
class SnapshotKeys {
 public:
  // `tree` is the current snapshot, asked for only when `root` is a
  // predefined root; null means the registry is empty.
  template <class GetTree>
  std::int32_t Open(RegistryKey root, std::string_view sub_key, RegistryKey& key, GetTree&& tree) {
    std::shared_ptr<const RegistryTree> snapshot;
    std::u16string base;
    {
      std::lock_guard lock(mu_);
      if (auto it = open_.find(root); it != open_.end()) {
        snapshot = it->second.tree;
        base = it->second.path;
      }
    }
    if (!snapshot) {
      base = std::u16string(RootName(root));
      if (base.empty()) return reg::kInvalidHandle;
      snapshot = tree();
      if (!snapshot) return reg::kFileNotFound;
    }
    return OpenOn(std::move(snapshot), base, sub_key, key);
  }
  std::int32_t Query(RegistryKey key, std::string_view name, std::uint32_t& type,
                     std::uint8_t* data, std::uint32_t& size);
  std::int32_t Close(RegistryKey key);

 private:
  std::int32_t OpenOn(std::shared_ptr<const RegistryTree> tree, const std::u16string& base,
                      std::string_view sub_key, RegistryKey& key);
  struct Entry {
    std::shared_ptr<const RegistryTree> tree;
    std::u16string path;
  };
  std::mutex mu_;
  std::map<RegistryKey, Entry> open_;
  RegistryKey next_ = 1;
};

// The parsed contents of a registry file, read again only when the file's
// time stamp or size changed. A missing file or one without a header gives
// null (every key missing).
class RegistryFileCache {
 public:
  std::shared_ptr<const RegistryTree> Get(const std::filesystem::path& file);

 private:
  std::mutex mu_;
  std::filesystem::path path_;
  std::filesystem::file_time_type stamp_{};
  std::uintmax_t size_ = 0;
  bool valid_ = false;
  std::shared_ptr<const RegistryTree> tree_;
};

// Applies a registry file's text to `tree`; false (tree unchanged or partly
// changed: callers work on a copy) when the header is missing.
bool ApplyRegistryText(std::u16string_view text, RegistryTree& tree);
// The text of a registry file's bytes (UTF-16LE with mark, UTF-8, else
// Windows-1252).
std::u16string DecodeRegistryFileBytes(std::string_view bytes);

#if defined(_WIN32)
std::shared_ptr<RegistryBackend> MakeWindowsRegistryBackend();
#endif

}  // namespace tarn::detail
