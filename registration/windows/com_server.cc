// Registry entries and the class factory of the project's COM servers.
#include "registration/windows/com_server.h"

#include <olectl.h>

#include <new>
#include <string>
#include <utility>

#include "platform/thread_exit.h"
#include "platform/windows/com_unknown.h"

namespace tarn::detail::win {

namespace {

HMODULE g_module = nullptr;
// LockServer(TRUE) holds; an unbalanced LockServer(FALSE) is ignored.
std::atomic<long> g_locks{0};

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

LSTATUS SetText(HKEY root, const std::wstring& key, const wchar_t* name,
                const std::wstring& value) {
  HKEY opened = nullptr;
  LSTATUS rc = RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_SET_VALUE, nullptr, &opened, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(opened);
  return rc;
}

// The default value of a key, or "" when there is none.
std::wstring GetText(HKEY root, const std::wstring& key) {
  wchar_t buffer[128] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  if (RegGetValueW(root, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return {};
  return buffer;
}

std::wstring ClsidKey(const ServerClass& c) { return std::wstring(L"CLSID\\") + c.clsid_text; }

// Whether a class key exists in either width's view of the registry: a
// 32-bit and a 64-bit build of a server may be registered side by side, and
// share the programmatic identifier.
bool ClassInEitherView(const std::wstring& clsid_key) {
  const std::wstring machine = L"SOFTWARE\\Classes\\" + clsid_key;
  for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
    for (const auto& [root, key] :
         {std::pair{HKEY_CLASSES_ROOT, &clsid_key}, std::pair{HKEY_LOCAL_MACHINE, &machine}}) {
      HKEY opened = nullptr;
      if (RegOpenKeyExW(root, key->c_str(), 0, KEY_READ | view, &opened) == ERROR_SUCCESS) {
        RegCloseKey(opened);
        return true;
      }
    }
  }
  return false;
}

// Creates the class's objects; AddRef'd objects keep the module loaded.
class Factory final : public Unknown<Factory, IClassFactory> {
 public:
  explicit Factory(ObjectRef (*create)()) : create_(create) { AddModuleRef(); }
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  bool Answers(REFIID riid) const noexcept { return riid == IID_IClassFactory; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      IDispatch* dispatch = ExportObject(create_());
      if (dispatch == nullptr) return E_UNEXPECTED;
      const HRESULT hr = dispatch->QueryInterface(riid, out);
      dispatch->Release();
      return hr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      g_locks.fetch_add(1, std::memory_order_relaxed);
      return S_OK;
    }
    long n = g_locks.load(std::memory_order_relaxed);
    while (n > 0 && !g_locks.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel)) {
    }
    return S_OK;
  }

 private:
  friend class Unknown<Factory, IClassFactory>;
  ~Factory() { DropModuleRef(); }

  ObjectRef (*create_)();
};

}  // namespace

void SetServerModule(HMODULE module) noexcept { g_module = module; }
HMODULE ServerModule() noexcept { return g_module; }

HRESULT RegisterServer(std::span<const ServerClass> classes,
                       const ServerTypeLib* typelib) noexcept {
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    for (const ServerClass& c : classes) {
      const std::wstring clsid = ClsidKey(c);
      const std::wstring progid_clsid = std::wstring(c.progid) + L"\\CLSID";
      const std::wstring current = GetText(HKEY_CLASSES_ROOT, progid_clsid);
      const bool write_progid =
          !c.yields_progid || current.empty() ||
          CompareStringOrdinal(current.c_str(), -1, c.clsid_text, -1, TRUE) == CSTR_EQUAL;
      LSTATUS rc = SetText(HKEY_CLASSES_ROOT, clsid, nullptr, c.description);
      if (rc == ERROR_SUCCESS)
        rc = SetText(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", nullptr, path);
      if (rc == ERROR_SUCCESS)
        rc = SetText(HKEY_CLASSES_ROOT, clsid + L"\\InprocServer32", L"ThreadingModel",
                     L"Apartment");
      if (rc == ERROR_SUCCESS)
        rc = SetText(HKEY_CLASSES_ROOT, clsid + L"\\ProgID", nullptr, c.progid);
      if (rc == ERROR_SUCCESS && typelib != nullptr) {
        rc = SetText(HKEY_CLASSES_ROOT, clsid + L"\\TypeLib", nullptr, typelib->libid_text);
        if (rc == ERROR_SUCCESS)
          rc = SetText(HKEY_CLASSES_ROOT, clsid + L"\\Version", nullptr,
                       std::to_wstring(typelib->major) + L"." + std::to_wstring(typelib->minor));
      }
      if (rc == ERROR_SUCCESS && write_progid) {
        rc = SetText(HKEY_CLASSES_ROOT, c.progid, nullptr, c.description);
        if (rc == ERROR_SUCCESS)
          rc = SetText(HKEY_CLASSES_ROOT, progid_clsid, nullptr, c.clsid_text);
      }
      if (rc != ERROR_SUCCESS) return SELFREG_E_CLASS;
    }
    if (typelib != nullptr) {
      ITypeLib* lib = nullptr;
      HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
      if (SUCCEEDED(hr)) {
        hr = RegisterTypeLib(lib, const_cast<wchar_t*>(path.c_str()), nullptr);
        lib->Release();
      }
      if (FAILED(hr)) return SELFREG_E_TYPELIB;
    }
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT UnregisterServer(std::span<const ServerClass> classes,
                         const ServerTypeLib* typelib) noexcept {
  try {
    for (const ServerClass& c : classes) {
      RegDeleteTreeW(HKEY_CLASSES_ROOT, ClsidKey(c).c_str());
      // The identifier stays while it names another class, or while the
      // other width's build of this class is still registered.
      const std::wstring current = GetText(HKEY_CLASSES_ROOT, std::wstring(c.progid) + L"\\CLSID");
      if (CompareStringOrdinal(current.c_str(), -1, c.clsid_text, -1, TRUE) == CSTR_EQUAL &&
          !ClassInEitherView(ClsidKey(c)))
        RegDeleteTreeW(HKEY_CLASSES_ROOT, c.progid);
    }
    if (typelib != nullptr) {
      const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
      UnRegisterTypeLib(typelib->libid, typelib->major, typelib->minor, LOCALE_NEUTRAL, kind);
    }
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT GetClassObject(std::span<const ServerClass> classes, REFCLSID clsid, REFIID iid,
                       void** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (const ServerClass& c : classes) {
    if (!IsEqualCLSID(clsid, c.clsid)) continue;
    Factory* factory = new (std::nothrow) Factory(c.create);
    if (factory == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() noexcept {
  return ModuleRefCount() == 0 && g_locks.load(std::memory_order_acquire) == 0 ? S_OK : S_FALSE;
}

BOOL ServerMain(HINSTANCE instance, DWORD reason, LPVOID reserved, InterfaceOf lookup) noexcept {
  if (reason == DLL_PROCESS_ATTACH) {
    DllMainRunsThreadExit() = true;
    SetServerModule(instance);
    SetInterfaceLookup(lookup);
  }
  if (reason == DLL_THREAD_DETACH || (reason == DLL_PROCESS_DETACH && reserved == nullptr))
    RunThreadExit();
  return TRUE;
}

}  // namespace tarn::detail::win
