// ReadRegistryString and the choice of registry backend.
#include "support/registry.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>

#include "tarn/convert.h"
#include "tarn/object.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace tarn {

RegistryBackend::~RegistryBackend() = default;

namespace {

#if !defined(_WIN32)
// Off Windows the system registry is the file named by TARNINTR_REGISTRY,
// looked up each time a key is opened.
class EnvironmentRegistry final : public RegistryBackend {
 public:
  std::int32_t OpenKey(RegistryKey root, std::string_view sub_key, std::uint32_t,
                       RegistryKey& key) override {
    return keys_.Open(root, sub_key, key, [this]() -> std::shared_ptr<const detail::RegistryTree> {
      const char* file = std::getenv("TARNINTR_REGISTRY");
      if (file == nullptr || *file == '\0') return nullptr;
      return cache_.Get(std::filesystem::path(file));
    });
  }
  std::int32_t QueryValue(RegistryKey key, std::string_view name, std::uint32_t& type,
                          std::uint8_t* data, std::uint32_t& size) override {
    return keys_.Query(key, name, type, data, size);
  }
  std::int32_t CloseKey(RegistryKey key) override { return keys_.Close(key); }

 private:
  detail::SnapshotKeys keys_;
  detail::RegistryFileCache cache_;
};
#endif

std::mutex g_backend_mu;
std::shared_ptr<RegistryBackend> g_backend;  // null: the system default

const std::shared_ptr<RegistryBackend>& SystemBackend() {
  static const std::shared_ptr<RegistryBackend> backend = MakeSystemRegistryBackend();
  return backend;
}

}  // namespace

std::shared_ptr<RegistryBackend> MakeSystemRegistryBackend() {
#if defined(_WIN32)
  return detail::MakeWindowsRegistryBackend();
#else
  return std::make_shared<EnvironmentRegistry>();
#endif
}

std::shared_ptr<RegistryBackend> SetRegistryBackend(std::shared_ptr<RegistryBackend> backend) {
  std::lock_guard lock(g_backend_mu);
  std::swap(g_backend, backend);
  return backend;
}

std::shared_ptr<RegistryBackend> CurrentRegistryBackend() {
  {
    std::lock_guard lock(g_backend_mu);
    if (g_backend) return g_backend;
  }
  return SystemBackend();
}

}  // namespace tarn

namespace tarn::detail {

#if defined(_WIN32)
std::string ToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(text.data());
  const int n = static_cast<int>(text.size());
  const int len = WideCharToMultiByte(CP_ACP, 0, w, n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(len > 0 ? len : 0), '\0');
  if (len > 0) WideCharToMultiByte(CP_ACP, 0, w, n, out.data(), len, nullptr, nullptr);
  return out;
}
std::u16string FromAnsi(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int n = static_cast<int>(bytes.size());
  const int len = MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(len > 0 ? len : 0), u'\0');
  if (len > 0)
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, reinterpret_cast<wchar_t*>(out.data()), len);
  return out;
}
#else
std::string ToAnsi(std::u16string_view text) { return ToUtf8(text); }
std::u16string FromAnsi(std::string_view bytes) { return FromUtf8(bytes); }
#endif

std::u16string ReadRegistryString(std::int32_t& hKeyRoot, std::u16string& strSubKey,
                                  Variant vValueName) {
  std::u16string result;
  const std::shared_ptr<RegistryBackend> backend = CurrentRegistryBackend();
  const RegistryKey root =
      static_cast<RegistryKey>(static_cast<std::intptr_t>(hKeyRoot));  // sign-extended
  RegistryKey key = 0;
  if (backend->OpenKey(root, ToAnsi(strSubKey), reg::kKeyQueryValue, key) != reg::kSuccess)
    return result;
  // The key is closed however the query ends (the value name's conversion
  // and a zero-length REG_SZ raise to the caller).
  struct Closer {
    RegistryBackend& backend;
    RegistryKey key;
    ~Closer() { backend.CloseKey(key); }
  } closer{*backend, key};

  std::array<std::uint8_t, 256> buffer{};
  std::uint32_t size = static_cast<std::uint32_t>(buffer.size());
  std::uint32_t type = reg::kNone;
  const std::string name = ToAnsi(CStr(vValueName));
  const std::int32_t rc = backend->QueryValue(key, name, type, buffer.data(), size);
  if (rc == reg::kSuccess && type == reg::kSz) {
    // The first (size - 1) characters of the buffer: the text without its
    // terminating zero. No bytes at all asks for -1 characters.
    if (size == 0) Raise(err::kInvalidProcedureCall);
    const std::size_t n = std::min<std::size_t>(size - 1, buffer.size());
    result = FromAnsi(std::string_view(reinterpret_cast<const char*>(buffer.data()), n));
  }
  return result;
}

}  // namespace tarn::detail
