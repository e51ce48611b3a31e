// What the Windows test hosts share: checks counted and reported, VARIANT
// makers, IDispatch calls by name, creation by programmatic identifier and a
// hand-written host object.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <oaidl.h>
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tarn::com {

inline int g_failures = 0;
inline int g_checks = 0;

inline void Check(bool ok, const std::string& what) {
  ++g_checks;
  if (!ok) {
    ++g_failures;
    std::printf("FAIL: %s\n", what.c_str());
    std::fflush(stdout);
  }
}

inline std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

inline std::string Utf8(const wchar_t* w, std::size_t len) {
  if (len == 0) return {};
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), s.data(), n, nullptr, nullptr);
  return s;
}
inline std::string Utf8(BSTR b) { return b ? Utf8(b, SysStringLen(b)) : std::string(); }

inline VARIANT Text(const std::wstring& s) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return v;
}
inline VARIANT Object(IDispatch* d) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = d;  // not counted: the caller keeps its reference
  return v;
}
// A by-reference argument as script hosts pass a variable.
inline VARIANT ByRefVariant(VARIANT* target) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&v) = target;
  return v;
}

constexpr WORD kGet = DISPATCH_PROPERTYGET;
constexpr WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
constexpr WORD kLet = DISPATCH_PROPERTYPUT;
constexpr WORD kSet = DISPATCH_PROPERTYPUTREF;

// The outcome of one IDispatch call.
struct Outcome {
  HRESULT hr = E_FAIL;
  SCODE scode = 0;
  std::string description;
  VARIANT result;
  Outcome() { VariantInit(&result); }
  Outcome(const Outcome&) = delete;
  Outcome& operator=(const Outcome&) = delete;
  Outcome(Outcome&& o) noexcept : hr(o.hr), scode(o.scode), description(std::move(o.description)) {
    result = o.result;
    VariantInit(&o.result);
  }
  ~Outcome() { VariantClear(&result); }
  IDispatch* object() const { return V_VT(&result) == VT_DISPATCH ? V_DISPATCH(&result) : nullptr; }
};

// Calls `name` (nullptr: the default member) with arguments in call order;
// they are reversed here, as IDispatch wants them.
inline Outcome Invoke(IDispatch* d, const wchar_t* name, WORD flags,
                      std::vector<VARIANT> args = {}) {
  Outcome out;
  DISPID id = DISPID_VALUE;
  if (name != nullptr) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    out.hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(out.hr)) return out;
  }
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID put = DISPID_PROPERTYPUT;
  const bool is_put = (flags & (kLet | kSet)) != 0;
  DISPPARAMS params{reversed.data(), is_put ? &put : nullptr, static_cast<UINT>(reversed.size()),
                    is_put ? 1u : 0u};
  EXCEPINFO info{};
  UINT arg_error = 0;
  out.hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                     is_put ? nullptr : &out.result, &info, &arg_error);
  if (out.hr == DISP_E_EXCEPTION) {
    if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
    out.scode = info.scode;
    out.description = Utf8(info.bstrDescription);
  }
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  return out;
}

inline IDispatch* Create(const wchar_t* progid) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(progid, &clsid))) return nullptr;
  IDispatch* d = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&d))))
    return nullptr;
  return d;
}

inline long Count(IDispatch* fields) {
  Outcome r = Invoke(fields, L"Count", kGet);
  return V_VT(&r.result) == VT_I4 ? V_I4(&r.result) : -1;
}

// A host object written by hand, living on the stack: counts its
// references, and answers the `members` it is built for (their
// identifiers count from 1).
class HostObject : public IDispatch {
 public:
  HostObject() = default;
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;
  virtual ~HostObject() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                          DISPID* ids) override {
    for (std::size_t i = 0; i < members.size(); ++i)
      if (_wcsicmp(names[0], members[i]) == 0) {
        ids[0] = static_cast<DISPID>(i + 1);
        return S_OK;
      }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  LONG refs = 1;
  std::vector<const wchar_t*> members;
};

}  // namespace tarn::com
