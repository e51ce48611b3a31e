// What the Windows test hosts share: checks counted and reported, VARIANTs
// made from and described as the values of tests/data/*.tsv, IDispatch calls
// by name, creation by programmatic identifier, the host's calls of the
// interpreter, and hand-written host objects.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <oaidl.h>
#include <objbase.h>
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../support/expression_table.h"

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

// Calls `name` with arguments in call order; they are reversed here, as
// IDispatch wants them.
inline Outcome Invoke(IDispatch* d, const wchar_t* name, WORD flags,
                      std::vector<VARIANT> args = {}) {
  Outcome out;
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  out.hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(out.hr)) return out;
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
// references.
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
  LONG refs = 1;
};

// "<Kind> <value>" as the data files write values.
inline std::string Describe(const VARIANT& v) {
  switch (V_VT(&v)) {
    case VT_EMPTY: return "Empty";
    case VT_NULL: return "Null";
    case VT_I2: return "Integer " + std::to_string(V_I2(&v));
    case VT_I4: return "Long " + std::to_string(V_I4(&v));
    case VT_R4: return "Single " + table::NumberText(V_R4(&v));
    case VT_R8: return "Double " + table::NumberText(V_R8(&v));
    case VT_CY: return "Currency " + table::NumberText(static_cast<double>(V_CY(&v).int64) / 1e4);
    case VT_DATE: return "Date " + table::NumberText(V_DATE(&v));
    case VT_BOOL: return std::string("Boolean ") + (V_BOOL(&v) ? "True" : "False");
    case VT_BSTR: return "String " + Utf8(V_BSTR(&v));
    case VT_DISPATCH: return V_DISPATCH(&v) ? "Object" : "Nothing";
    default: return "vt " + std::to_string(V_VT(&v));
  }
}

// The VARIANT of "<Kind> <value>"; also Null, Nothing, Omitted (a left-out
// argument) and Array (of three Longs). The caller clears it.
inline VARIANT Value(const std::string& value) {
  std::string kind, text;
  table::SplitValue(value, kind, text);
  if (kind == "String") return Text(Wide(text));
  if (kind == "Nothing") return Object(nullptr);
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = table::ParseNumber(text);
  const std::pair<const char*, VARTYPE> numbers[] = {
      {"Long", VT_I4}, {"Integer", VT_I2}, {"Date", VT_DATE}, {"Currency", VT_CY}};
  for (const auto& [word, type] : numbers)
    if (kind == word) VariantChangeType(&v, &v, 0, type);
  if (kind == "Boolean") {
    V_VT(&v) = VT_BOOL;
    V_BOOL(&v) = text == "True" ? VARIANT_TRUE : VARIANT_FALSE;
  } else if (kind == "Null") {
    V_VT(&v) = VT_NULL;
  } else if (kind == "Omitted") {
    V_VT(&v) = VT_ERROR;
    V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  } else if (kind == "Array") {
    V_VT(&v) = VT_ARRAY | VT_I4;
    V_ARRAY(&v) = SafeArrayCreateVector(VT_I4, 0, 3);
  }
  return v;
}

// The Data of a returned field as the data files write it, "<nothing>", or
// the failure.
inline std::string Data(const Outcome& r) {
  if (FAILED(r.hr)) return "hr " + std::to_string(r.hr);
  if (r.object() == nullptr) return "<nothing>";
  return Describe(Invoke(r.object(), L"Data", kGet).result);
}
// "Name=DataType:Data" of a returned field.
inline std::string Field(const Outcome& r) {
  if (r.object() == nullptr) return Data(r);
  auto text = [&](const wchar_t* member) {
    Outcome o = Invoke(r.object(), member, kGet);
    return V_VT(&o.result) == VT_BSTR ? Utf8(V_BSTR(&o.result)) : "?";
  };
  return text(L"Name") + "=" + text(L"DataType") + ":" + Data(r);
}
inline bool IsErrorField(const Outcome& r) { return Field(r) == "Error=Boolean:Boolean False"; }

// Adds a ZellDFld.DataField to `fields`; whether AddObject answered 0.
inline bool AddField(IDispatch* fields, const std::string& name, const std::string& type,
                     VARIANT value) {
  IDispatch* f = Create(L"ZellDFld.DataField");
  if (f == nullptr) return false;
  Invoke(f, L"Name", kLet, {Text(Wide(name))});
  Invoke(f, L"DataType", kLet, {Text(Wide(type))});
  Invoke(f, L"Data", kLet, {value});
  VARIANT o = Object(f);
  Outcome added = Invoke(fields, L"AddObject", kCall, {ByRefVariant(&o)});
  f->Release();
  const std::string answer = Describe(added.result);
  return SUCCEEDED(added.hr) && (answer == "Integer 0" || answer == "Long 0");
}

// A ZellDFld.DataFields holding Field1 (Long 41).
inline IDispatch* NewFields() {
  IDispatch* fields = Create(L"ZellDFld.DataFields");
  if (fields) AddField(fields, "Field1", "Long", Value("Long 41"));
  return fields;
}

inline bool Init(IDispatch* interp, IDispatch* fields, IDispatch* errors) {
  // By-reference arguments are the caller's: a call across apartments may
  // replace what they hold.
  if (fields) fields->AddRef();
  if (errors) errors->AddRef();
  VARIANT f = Object(fields), e = Object(errors), s = Text(L"System"), a = Text(L"Application");
  Outcome r = Invoke(interp, L"Init", kCall,
                     {ByRefVariant(&f), ByRefVariant(&e), ByRefVariant(&s), ByRefVariant(&a)});
  for (VARIANT* v : {&f, &e, &s, &a}) VariantClear(v);
  return Describe(r.result) == "Boolean True";
}

// Evaluates `text`, passed by reference as a script passes a variable (the
// name's letter case is a script's own).
inline Outcome Realize(IDispatch* interp, const std::wstring& text) {
  VARIANT t = Text(text);
  Outcome r = Invoke(interp, L"realizeRegularExpression", kCall, {ByRefVariant(&t)});
  VariantClear(&t);
  return r;
}

// An error manager: records ReportError's calls, their eleventh argument
// (the procedure) and whether the sixth arrived omitted; `during` runs
// inside the first call.
class Sink final : public HostObject {
 public:
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                          DISPID* ids) override {
    ids[0] = _wcsicmp(names[0], L"ReportError") == 0 ? 1 : DISPID_UNKNOWN;
    return ids[0] == 1 ? S_OK : DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    if (p->cArgs != 11) return DISP_E_BADPARAMCOUNT;
    InterlockedIncrement(&reports);
    thread = GetCurrentThreadId();
    const VARIANT& sixth = p->rgvarg[11 - 6];
    if (V_VT(&sixth) != VT_ERROR || V_ERROR(&sixth) != DISP_E_PARAMNOTFOUND) ++bad_sixth;
    VARIANT procedure;
    VariantInit(&procedure);
    if (SUCCEEDED(VariantChangeType(&procedure, &p->rgvarg[0], 0, VT_BSTR)))
      procedures += Utf8(V_BSTR(&procedure)) + ";";
    VariantClear(&procedure);
    if (during) {
      auto once = std::move(during);
      during = nullptr;
      once();
    }
    if (result) {
      V_VT(result) = VT_I4;
      V_I4(result) = 0;
    }
    return S_OK;
  }
  LONG reports = 0;
  DWORD thread = 0;  // of the last report
  int bad_sixth = 0;
  std::string procedures;
  std::function<void()> during;
};

}  // namespace tarn::com
