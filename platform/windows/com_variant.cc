// Conversions between the platform's VARIANT and the library's Variant, and
// between run-time errors and the platform's exception results.
#include <new>

#include "platform/windows/com_bridge.h"

namespace tarn::detail::win {

BSTR NewBstr(std::u16string_view s) {
  BSTR b =
      SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()));
  if (b == nullptr) throw std::bad_alloc();
  return b;
}

namespace {

// A number the library has no kind for. Whole numbers become a Long when
// they fit, else a Double; Currency and Decimal carry fractions and become
// a Double (converting them to Long would round).
Variant Coerced(const VARIANT& v) {
  VARIANT tmp;
  VariantInit(&tmp);
  auto* source = const_cast<VARIANT*>(&v);
  const VARTYPE type = V_VT(&v) & VT_TYPEMASK;
  const bool whole = type != VT_CY && type != VT_DECIMAL;
  Variant result;
  if (whole && SUCCEEDED(VariantChangeType(&tmp, source, 0, VT_I4))) {
    result = Variant(std::int32_t{V_I4(&tmp)});
  } else if (SUCCEEDED(VariantChangeType(&tmp, source, 0, VT_R8))) {
    result = Variant(V_R8(&tmp));
  } else {
    VariantClear(&tmp);
    Raise(err::kTypeMismatch);
  }
  VariantClear(&tmp);
  return result;
}

Variant FromObject(IUnknown* unknown) {
  if (unknown == nullptr) return Variant(ObjectRef());
  IDispatch* dispatch = nullptr;
  if (FAILED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
    Raise(err::kTypeMismatch);
  ObjectRef object = WrapDispatch(dispatch);
  dispatch->Release();
  return Variant(std::move(object));
}

}  // namespace

Variant FromVariant(const VARIANT& in) {
  const VARIANT* v = &in;
  for (int depth = 0; V_VT(v) == (VT_BYREF | VT_VARIANT); ++depth) {
    v = V_VARIANTREF(v);
    if (v == nullptr || depth > 4) Raise(err::kTypeMismatch);
  }
  const VARTYPE vt = V_VT(v);
  if (vt & VT_ARRAY) Raise(err::kTypeMismatch);
  const bool ref = (vt & VT_BYREF) != 0;
  if (ref && V_BYREF(v) == nullptr) Raise(err::kTypeMismatch);
  switch (vt & VT_TYPEMASK) {
    case VT_EMPTY: return {};
    case VT_NULL: return Variant::Null();
    case VT_I2: return Variant(std::int16_t{ref ? *V_I2REF(v) : V_I2(v)});
    case VT_I4: return Variant(std::int32_t{ref ? *V_I4REF(v) : V_I4(v)});
    case VT_R4: return Variant(ref ? *V_R4REF(v) : V_R4(v));
    case VT_R8: return Variant(ref ? *V_R8REF(v) : V_R8(v));
    case VT_DATE: return Variant(Date{ref ? *V_DATEREF(v) : V_DATE(v)});
    case VT_BOOL: return Variant((ref ? *V_BOOLREF(v) : V_BOOL(v)) != VARIANT_FALSE);
    case VT_BSTR: {
      const BSTR b = ref ? *V_BSTRREF(v) : V_BSTR(v);
      return Variant(b ? std::u16string(FromWide(b, SysStringLen(b))) : std::u16string());
    }
    case VT_DISPATCH: return FromObject(ref ? *V_DISPATCHREF(v) : V_DISPATCH(v));
    case VT_UNKNOWN: return FromObject(ref ? *V_UNKNOWNREF(v) : V_UNKNOWN(v));
    // The library's one error value is the omitted argument.
    case VT_ERROR: return Variant::Missing();
    case VT_UI1: return Variant(std::int16_t{ref ? *V_UI1REF(v) : V_UI1(v)});
    case VT_I1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_CY:
    case VT_DECIMAL: return Coerced(*v);
    default: Raise(err::kTypeMismatch);
  }
}

void ToVariant(const Variant& v, VARIANT* out) {
  VariantInit(out);
  switch (v.kind()) {
    case Kind::Empty: break;
    case Kind::Null: V_VT(out) = VT_NULL; break;
    case Kind::Integer:
      V_VT(out) = VT_I2;
      V_I2(out) = v.integer();
      break;
    case Kind::Long:
      V_VT(out) = VT_I4;
      V_I4(out) = v.long_value();
      break;
    case Kind::Single:
      V_VT(out) = VT_R4;
      V_R4(out) = v.single();
      break;
    case Kind::Double:
      V_VT(out) = VT_R8;
      V_R8(out) = v.double_value();
      break;
    case Kind::Date:
      V_VT(out) = VT_DATE;
      V_DATE(out) = v.date().serial;
      break;
    case Kind::Boolean:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = v.boolean() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case Kind::String:
      V_BSTR(out) = NewBstr(v.string());
      V_VT(out) = VT_BSTR;
      break;
    case Kind::Object:
      V_DISPATCH(out) = v.object() ? ExportObject(v.object()) : nullptr;
      V_VT(out) = VT_DISPATCH;
      break;
    case Kind::Missing:
      V_VT(out) = VT_ERROR;
      V_ERROR(out) = DISP_E_PARAMNOTFOUND;
      break;
  }
}

HRESULT ExceptionResult(const RuntimeError& error, EXCEPINFO* info) {
  if (info != nullptr) {
    *info = EXCEPINFO{};
    const std::int32_t n = error.number();
    info->scode = (n > 0 && n <= 0xFFFF)
                      ? static_cast<SCODE>(0x800A0000u | static_cast<unsigned>(n))
                      : static_cast<SCODE>(n);
    info->bstrSource = SysAllocString(error.source().empty() ? L"TarnIntr" : Wide(error.source()));
    info->bstrDescription = SysAllocString(Wide(error.description()));
  }
  return DISP_E_EXCEPTION;
}

namespace {
std::int32_t NumberOf(HRESULT hr) {
  const auto u = static_cast<std::uint32_t>(hr);
  if ((u & 0xFFFF0000u) == 0x800A0000u) return static_cast<std::int32_t>(u & 0xFFFFu);
  switch (hr) {
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME: return err::kMemberNotSupported;
    case DISP_E_BADPARAMCOUNT: return err::kWrongArguments;
    case DISP_E_PARAMNOTOPTIONAL: return err::kArgumentNotOptional;
    case DISP_E_TYPEMISMATCH: return err::kTypeMismatch;
    case DISP_E_OVERFLOW: return err::kOverflow;
    case DISP_E_DIVBYZERO: return err::kDivisionByZero;
    case E_OUTOFMEMORY: return err::kOutOfMemory;
    case E_INVALIDARG: return err::kInvalidProcedureCall;
    default: return static_cast<std::int32_t>(hr);
  }
}
std::u16string Take(BSTR& b) {
  std::u16string s = b ? std::u16string(FromWide(b, SysStringLen(b))) : std::u16string();
  SysFreeString(b);
  b = nullptr;
  return s;
}
}  // namespace

void RaiseFromResult(HRESULT hr, EXCEPINFO& info) {
  if (hr != DISP_E_EXCEPTION) Raise(NumberOf(hr));
  if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
  std::u16string source = Take(info.bstrSource);
  std::u16string description = Take(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);
  const std::int32_t number = info.scode != 0 ? NumberOf(info.scode) : info.wCode;
  Raise(number, std::move(source), std::move(description));
}

}  // namespace tarn::detail::win
