// What an in-process automation server of this project needs for its four
// exports: its classes, their registry entries and a class factory.
// tarnintr.dll and tarnhost.dll each describe their classes with it.
#pragma once

#include "platform/windows/com_bridge.h"

namespace tarn::detail::win {

struct ServerClass {
  const wchar_t* progid;      // "TarnIntr.Interpreter"
  const wchar_t* clsid_text;  // "{C6D2A4F3-...}"
  CLSID clsid;
  const wchar_t* description;
  ObjectRef (*create)();
  // Whether the programmatic identifier is left alone when it already
  // names another class (a host's own components replace the defaults).
  bool yields_progid;
};

struct ServerTypeLib {
  GUID libid;
  const wchar_t* libid_text;
  unsigned short major, minor;
};

// The module (DLL) these functions belong to, set from DllMain.
void SetServerModule(HMODULE module) noexcept;
HMODULE ServerModule() noexcept;

// DllRegisterServer: for each class, HKEY_CLASSES_ROOT\<ProgID>\CLSID and
// CLSID\{...} with InprocServer32 (the DLL's full path, "Apartment"),
// ProgID, and TypeLib and Version when there is a type library, which is
// then registered from the DLL's resource 1.
HRESULT RegisterServer(std::span<const ServerClass> classes, const ServerTypeLib* typelib) noexcept;
// DllUnregisterServer: removes exactly those keys (a programmatic identifier
// only while it still names this class and the other width's build of the
// class is not registered) and this width's type library entry.
HRESULT UnregisterServer(std::span<const ServerClass> classes,
                         const ServerTypeLib* typelib) noexcept;
// DllGetClassObject.
HRESULT GetClassObject(std::span<const ServerClass> classes, REFCLSID clsid, REFIID iid,
                       void** out) noexcept;
// DllCanUnloadNow.
HRESULT CanUnloadNow() noexcept;
// DllMain: the module, the lookup of fixed interfaces, and the thread's own
// objects freed when it ends (at the end of the process nothing is freed).
BOOL ServerMain(HINSTANCE instance, DWORD reason, LPVOID reserved, InterfaceOf lookup) noexcept;

}  // namespace tarn::detail::win

// The entry points of a server DLL: its class table, its type library (or
// nullptr) and the lookup of its classes' fixed interfaces.
#define TARN_COM_SERVER_ENTRY_POINTS(classes, typelib, lookup)                \
  extern "C" {                                                                \
  BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {    \
    return tarn::detail::win::ServerMain(instance, reason, reserved, lookup); \
  }                                                                           \
  __declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {          \
    return tarn::detail::win::RegisterServer(classes, typelib);               \
  }                                                                           \
  __declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {        \
    return tarn::detail::win::UnregisterServer(classes, typelib);             \
  }                                                                           \
  __declspec(dllexport) HRESULT STDAPICALLTYPE                                \
      DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {             \
    return tarn::detail::win::GetClassObject(classes, clsid, iid, out);       \
  }                                                                           \
  __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {            \
    return tarn::detail::win::CanUnloadNow();                                 \
  }                                                                           \
  }
