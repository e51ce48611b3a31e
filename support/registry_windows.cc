// The Windows registry behind the registry layer (Windows only).
#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "support/registry.h"

namespace tarn::detail {

namespace {

HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

class WindowsRegistry final : public RegistryBackend {
 public:
  std::int32_t OpenKey(RegistryKey root, std::string_view sub_key, std::uint32_t access,
                       RegistryKey& key) override {
    const std::string sub(sub_key);  // zero-terminated
    HKEY opened = nullptr;
    // Both widths read one setting: the 32-bit view's key, where the 32-bit
    // component has always found it, else the 64-bit view's (the flags are
    // ignored on 32-bit Windows).
    const auto sam = static_cast<REGSAM>(access);
    LONG rc = ERROR_FILE_NOT_FOUND;
    if ((sam & (KEY_WOW64_32KEY | KEY_WOW64_64KEY)) != 0) {
      rc = RegOpenKeyExA(ToHkey(root), sub.c_str(), 0, sam, &opened);
    } else {
      rc = RegOpenKeyExA(ToHkey(root), sub.c_str(), 0, sam | KEY_WOW64_32KEY, &opened);
      if (rc != ERROR_SUCCESS)
        rc = RegOpenKeyExA(ToHkey(root), sub.c_str(), 0, sam | KEY_WOW64_64KEY, &opened);
    }
    if (rc == ERROR_SUCCESS) key = reinterpret_cast<RegistryKey>(opened);
    return static_cast<std::int32_t>(rc);
  }
  std::int32_t QueryValue(RegistryKey key, std::string_view name, std::uint32_t& type,
                          std::uint8_t* data, std::uint32_t& size) override {
    const std::string value_name(name);
    DWORD t = 0;
    DWORD n = size;
    const LONG rc = RegQueryValueExA(ToHkey(key), value_name.c_str(), nullptr, &t,
                                     reinterpret_cast<LPBYTE>(data), &n);
    type = t;
    size = n;
    return static_cast<std::int32_t>(rc);
  }
  std::int32_t CloseKey(RegistryKey key) override {
    return static_cast<std::int32_t>(RegCloseKey(ToHkey(key)));
  }
};

}  // namespace

std::shared_ptr<RegistryBackend> MakeWindowsRegistryBackend() {
  return std::make_shared<WindowsRegistry>();
}

}  // namespace tarn::detail

#endif  // _WIN32
