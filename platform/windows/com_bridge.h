// The bridge between the platform's automation objects (IDispatch, VARIANT)
// and the library's late-bound layer (tarn::Object, tarn::Variant), both
// ways, plus the module's count of live COM objects behind DllCanUnloadNow.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <string_view>

#include "tarn/object.h"
#include "tarn/value.h"

namespace tarn::detail::win {

// VARIANT -> Variant. By-reference forms are read through; VT_ERROR is the
// omitted argument; another module's IDispatch becomes a DispatchObject.
// Kinds the library has no place for raise error 13.
Variant FromVariant(const VARIANT& v);

// Variant -> VARIANT. `out` must hold nothing that needs freeing. An object
// goes out as IDispatch (the original one for an object that came in).
void ToVariant(const Variant& v, VARIANT* out);

// The library's view of a platform object: one DispatchObject per object
// identity and thread, so that references compare as the platform's do.
ObjectRef WrapDispatch(IDispatch* dispatch);

// The platform's view of a library object (a new reference): one wrapper
// per object and thread; an object that came in as IDispatch goes back as
// that very IDispatch.
IDispatch* ExportObject(const ObjectRef& object);

// Fills `info` (when given) from a run-time error, as automation servers
// report one: numbers 1 to 65535 as 0x800A0000 + number.
HRESULT ExceptionResult(const RuntimeError& error, EXCEPINFO* info);

// The run-time error for a failed IDispatch::Invoke.
[[noreturn]] void RaiseFromResult(HRESULT hr, EXCEPINFO& info);

// The platform object behind a DispatchObject (not counted), else null.
IDispatch* DispatchOf(Object& object) noexcept;
// The library object behind one of this module's exported wrappers, else
// null.
Object* TargetOf(IUnknown* identity) noexcept;

// Text helpers between the library's 16-bit texts and the platform's.
inline const wchar_t* Wide(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}
inline std::u16string_view FromWide(const wchar_t* s, std::size_t n) {
  return std::u16string_view(reinterpret_cast<const char16_t*>(s), n);
}
BSTR NewBstr(std::u16string_view s);  // throws std::bad_alloc

// Objects of this module (wrappers and class factories) still held by
// someone: the module may be unloaded only when none is left and no
// LockServer hold is outstanding.
void AddModuleRef() noexcept;
void DropModuleRef() noexcept;
long ModuleRefCount() noexcept;

// Member names and dispatch identifiers of a class with a fixed interface
// (the Interpreter's, matching its type library). Classes without one get
// identifiers handed out per name as they are asked for.
struct DispatchMember {
  DISPID id;
  std::u16string_view name;
  WORD flags;  // the DISPATCH_ kinds it answers; others are DISP_E_MEMBERNOTFOUND
};
struct DispatchInterface {
  const DispatchMember* members;
  std::size_t count;
  const IID* iid;  // the dispinterface, also answered by QueryInterface
  const GUID* libid;
};
// Which fixed interface (or null) a library object is exported with;
// installed once by the module that knows its classes.
using InterfaceOf = const DispatchInterface* (*)(Object&);
void SetInterfaceLookup(InterfaceOf lookup) noexcept;

}  // namespace tarn::detail::win
