// A platform automation object seen through the library's late-bound layer:
// every member call goes to IDispatch::Invoke by name.
#include <dispex.h>

#include <unordered_map>
#include <vector>

#include "platform/text.h"
#include "platform/windows/com_bridge.h"

namespace tarn::detail::win {

namespace {

// IID_IDispatchEx, which the cross toolchain's uuid library lacks.
constexpr IID kIidDispatchEx = {
    0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

class DispatchObject;

// One wrapper per platform object identity on each thread, so that two
// reads of the same object give the same reference. Never destroyed: the
// library may let go of a wrapper while the thread's storage is torn down.
std::unordered_map<IUnknown*, DispatchObject*>& Wrappers() {
  thread_local auto* wrappers = new std::unordered_map<IUnknown*, DispatchObject*>;
  return *wrappers;
}

// Frees the VARIANTs of one call however it ends.
struct VariantList {
  explicit VariantList(std::size_t n) : items(n) {
    for (auto& v : items) VariantInit(&v);
  }
  ~VariantList() {
    for (auto& v : items) VariantClear(&v);
  }
  std::vector<VARIANT> items;
};

class DispatchObject final : public Object {
 public:
  DispatchObject(IDispatch* dispatch, IUnknown* identity)
      : dispatch_(dispatch), identity_(identity) {
    dispatch_->AddRef();
    identity_->AddRef();
    Wrappers()[identity_] = this;
  }
  ~DispatchObject() override {
    Wrappers().erase(identity_);
    if (ex_ != nullptr) ex_->Release();
    dispatch_->Release();
    identity_->Release();
  }

  IDispatch* dispatch() const noexcept { return dispatch_; }

  Variant Invoke(std::u16string_view member, CallKind kind, std::span<Arg> args) override {
    Member& found = Lookup(member);
    const DISPID id = found.id;
    const bool put = kind == CallKind::Let || kind == CallKind::Set;
    const std::size_t n = args.size();
    // Positional arguments go in reverse order; a by-reference argument
    // points at a VARIANT of its own that is read back afterwards.
    VariantList values(n), refs(n);
    for (std::size_t i = 0; i < n; ++i) {
      VARIANT& slot = values.items[n - 1 - i];
      if (args[i].byref() != nullptr && !args[i].omitted()) {
        ToVariant(args[i].value(), &refs.items[i]);
        V_VT(&slot) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&slot) = &refs.items[i];
      } else {
        ToVariant(args[i].value(), &slot);
      }
    }
    DISPID put_id = DISPID_PROPERTYPUT;
    DISPPARAMS params{values.items.data(), put ? &put_id : nullptr, static_cast<UINT>(n),
                      put ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO info{};
    UINT arg_error = 0;
    WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    if (kind == CallKind::Let) flags = DISPATCH_PROPERTYPUT;
    if (kind == CallKind::Set) flags = DISPATCH_PROPERTYPUTREF;
    // A JScript object's plain property refuses a call that may also be a
    // method call (E_FAIL under Wine, "Function expected" on Windows): such
    // a member is read with DISPATCH_PROPERTYGET alone from then on.
    const bool plain_read = !put && n == 0;
    if (plain_read && found.property_get) flags = DISPATCH_PROPERTYGET;
    HRESULT hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                                   put ? nullptr : &result, &info, &arg_error);
    if (plain_read && flags != DISPATCH_PROPERTYGET && RefusedAsCall(hr, info) &&
        DispatchEx() != nullptr) {
      VariantClear(&result);
      ClearExcepInfo(info);
      hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &params,
                             &result, &info, &arg_error);
      if (SUCCEEDED(hr)) found.property_get = true;
    }
    // An object without a separate reference assignment takes the value.
    if (hr == DISP_E_MEMBERNOTFOUND && kind == CallKind::Set) {
      info = EXCEPINFO{};
      hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                             nullptr, &info, &arg_error);
    }
    if (FAILED(hr)) {
      VariantClear(&result);
      RaiseFromResult(hr, info);
    }
    struct Clear {
      VARIANT& v;
      ~Clear() { VariantClear(&v); }
    } clear{result};
    for (std::size_t i = 0; i < n; ++i)
      if (Variant* target = args[i].byref(); target != nullptr && !args[i].omitted()) {
        Variant back = FromVariant(refs.items[i]);
        if (!(back == *target)) *target = std::move(back);
      }
    return FromVariant(result);
  }

  std::u16string_view ClassName() const noexcept override {
    if (!class_name_known_) {
      class_name_known_ = true;
      try {
        ITypeInfo* info = nullptr;
        if (SUCCEEDED(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) && info != nullptr) {
          BSTR name = nullptr;
          if (SUCCEEDED(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr)) &&
              name != nullptr)
            class_name_ = FromWide(name, SysStringLen(name));
          SysFreeString(name);
          info->Release();
        }
      } catch (...) {
        class_name_.clear();
      }
      if (class_name_.empty()) class_name_ = u"Object";
    }
    return class_name_;
  }

 private:
  struct Member {
    DISPID id;
    bool property_get = false;  // refuses DISPATCH_METHOD | DISPATCH_PROPERTYGET
  };

  IDispatchEx* DispatchEx() {
    if (!ex_checked_) {
      ex_checked_ = true;
      if (FAILED(dispatch_->QueryInterface(kIidDispatchEx, reinterpret_cast<void**>(&ex_))))
        ex_ = nullptr;
    }
    return ex_;
  }

  Member& Lookup(std::u16string_view member) {
    if (member.empty()) return default_member_;
    std::u16string key = UpperCase(member);
    if (auto it = ids_.find(key); it != ids_.end()) return it->second;
    IDispatchEx* ex = DispatchEx();
    BSTR name = NewBstr(member);
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = E_FAIL;
    // Script objects answer only through IDispatchEx.
    if (ex != nullptr) hr = ex->GetDispID(name, fdexNameCaseInsensitive, &id);
    if (FAILED(hr)) {
      LPOLESTR names[] = {name};
      hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    }
    SysFreeString(name);
    if (FAILED(hr)) RaiseNoMember(member);
    return ids_.emplace(std::move(key), Member{id}).first->second;
  }

  static bool RefusedAsCall(HRESULT hr, const EXCEPINFO& info) {
    constexpr HRESULT kFunctionExpected = static_cast<HRESULT>(0x800A138A);
    return hr == E_FAIL || hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_TYPEMISMATCH ||
           hr == kFunctionExpected || (hr == DISP_E_EXCEPTION && info.scode == kFunctionExpected);
  }
  static void ClearExcepInfo(EXCEPINFO& info) {
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO{};
  }

  IDispatch* dispatch_;
  IUnknown* identity_;
  IDispatchEx* ex_ = nullptr;
  bool ex_checked_ = false;
  std::unordered_map<std::u16string, Member> ids_;
  Member default_member_{DISPID_VALUE};
  mutable bool class_name_known_ = false;
  mutable std::u16string class_name_;
};

}  // namespace

ObjectRef WrapDispatch(IDispatch* dispatch) {
  if (dispatch == nullptr) return {};
  IUnknown* identity = nullptr;
  if (FAILED(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
    Raise(err::kTypeMismatch);
  struct Drop {
    IUnknown* p;
    ~Drop() { p->Release(); }
  } drop{identity};
  if (Object* own = TargetOf(identity)) return ObjectRef(own);
  if (auto it = Wrappers().find(identity); it != Wrappers().end()) return ObjectRef(it->second);
  return ObjectRef(new DispatchObject(dispatch, identity));
}

IDispatch* DispatchOf(Object& object) noexcept {
  auto* d = dynamic_cast<DispatchObject*>(&object);
  return d != nullptr ? d->dispatch() : nullptr;
}

}  // namespace tarn::detail::win
