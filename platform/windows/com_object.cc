// A library object seen by the platform: an IDispatch whose members are
// found by name (without regard to letter case) and called through
// tarn::Object::Invoke. Also the module's count of live objects.
#include <deque>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/text.h"
#include "platform/windows/com_bridge.h"
#include "platform/windows/com_unknown.h"

namespace tarn::detail::win {

namespace {

std::atomic<long> g_module_refs{0};
std::atomic<InterfaceOf> g_interface_of{nullptr};

class ComObject;

// This thread's wrappers: by library object (one wrapper each) and by the
// wrapper's own identity (to recognise it when it comes back). Never
// destroyed: a client may let go of its last wrapper while the thread's
// storage is being torn down.
struct ThreadTables {
  std::unordered_map<Object*, ComObject*> by_target;
  std::unordered_map<IUnknown*, ComObject*> by_identity;
};
ThreadTables& Tables() {
  thread_local ThreadTables* tables = new ThreadTables;
  return *tables;
}

// Identifiers for the names of classes without a fixed interface: one table
// for the process, so that an identifier means the same member on every
// thread, and bounded, so that a client asking for names without end cannot
// grow it. 0 is the default member, so they start at 1. Entries never move
// (a deque), so a name read under the lock may be used after it.
struct NameTable {
  std::mutex mutex;
  std::unordered_map<std::u16string, DISPID> ids;
  std::deque<std::u16string> names;
};
NameTable& Names() {
  static NameTable* table = new NameTable;  // never destroyed: used from exit paths
  return *table;
}
constexpr std::size_t kMaxNames = 256;

// DISPID_UNKNOWN once the table is full.
DISPID DynamicId(std::u16string_view name) {
  std::u16string key = UpperCase(name);
  NameTable& t = Names();
  std::lock_guard lock(t.mutex);
  if (auto it = t.ids.find(key); it != t.ids.end()) return it->second;
  if (t.names.size() >= kMaxNames) return DISPID_UNKNOWN;
  t.names.emplace_back(name);
  const auto id = static_cast<DISPID>(t.names.size());
  t.ids.emplace(std::move(key), id);
  return id;
}

bool DynamicName(DISPID id, std::u16string_view& name) {
  NameTable& t = Names();
  std::lock_guard lock(t.mutex);
  if (id < 1 || static_cast<std::size_t>(id) > t.names.size()) return false;
  name = t.names[static_cast<std::size_t>(id) - 1];
  return true;
}

class ComObject final : public Unknown<ComObject, IDispatch> {
 public:
  ComObject(ObjectRef target, const DispatchInterface* fixed)
      : target_(std::move(target)), fixed_(fixed) {
    Tables().by_target[target_.get()] = this;
    Tables().by_identity[static_cast<IUnknown*>(this)] = this;
    AddModuleRef();
  }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  Object* target() const noexcept { return target_.get(); }

  bool Answers(REFIID riid) const noexcept {
    return riid == IID_IDispatch ||
           (fixed_ != nullptr && fixed_->iid != nullptr && riid == *fixed_->iid);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = fixed_ != nullptr && fixed_->libid != nullptr ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0 || fixed_ == nullptr || fixed_->libid == nullptr) return DISP_E_BADINDEX;
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(*fixed_->libid, 1, 0, LOCALE_NEUTRAL, &lib);
    if (FAILED(hr)) return hr;
    hr = lib->GetTypeInfoOfGuid(*fixed_->iid, info);
    lib->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    try {
      HRESULT hr = S_OK;
      for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
      const std::u16string_view name = FromWide(names[0], names[0] ? wcslen(names[0]) : 0);
      if (fixed_ != nullptr) {
        for (std::size_t m = 0; m < fixed_->count; ++m)
          if (EqualsIgnoreCase(fixed_->members[m].name, name)) ids[0] = fixed_->members[m].id;
        if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
      } else if (name.empty()) {
        hr = DISP_E_UNKNOWNNAME;
      } else {
        ids[0] = DynamicId(name);
        if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
      }
      // No member takes named arguments.
      if (count > 1) hr = DISP_E_UNKNOWNNAME;
      return hr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* arg_error) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (params == nullptr) return E_INVALIDARG;
    std::u16string_view member;
    WORD allowed = 0xFFFF;
    if (id != DISPID_VALUE && !NameOf(id, member, allowed)) return DISP_E_MEMBERNOTFOUND;
    if ((flags & allowed) == 0) return DISP_E_MEMBERNOTFOUND;
    CallKind kind = CallKind::Get;
    if (flags & DISPATCH_PROPERTYPUTREF)
      kind = CallKind::Set;
    else if (flags & DISPATCH_PROPERTYPUT)
      kind = CallKind::Let;
    else if (flags & DISPATCH_METHOD)
      kind = CallKind::Method;
    const bool put = kind == CallKind::Let || kind == CallKind::Set;
    if (put ? (params->cNamedArgs != 1 || params->rgdispidNamedArgs == nullptr ||
               params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            : params->cNamedArgs != 0)
      return DISP_E_NONAMEDARGS;
    const std::size_t n = params->cArgs;
    if (n > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
    if (result != nullptr) VariantInit(result);
    // Keeps the object alive through a call that lets go of the last
    // outside reference.
    ObjectRef target = target_;
    try {
      std::vector<Variant> values(n), before;
      std::vector<Arg> args;
      args.reserve(n);
      for (std::size_t i = 0; i < n; ++i) {
        const VARIANT& source = params->rgvarg[n - 1 - i];
        try {
          values[i] = FromVariant(source);
        } catch (const RuntimeError&) {
          if (arg_error != nullptr) *arg_error = static_cast<UINT>(n - 1 - i);
          return DISP_E_TYPEMISMATCH;
        }
        const bool ref = (V_VT(&source) & VT_BYREF) != 0 && !values[i].is_missing();
        args.push_back(ref ? Arg::ByRef(values[i]) : Arg::ByVal(values[i]));
      }
      before = values;
      Variant value = target->Invoke(member, kind, args);
      for (std::size_t i = 0; i < n; ++i)
        if (args[i].byref() != nullptr && !(values[i] == before[i]))
          WriteBack(params->rgvarg[n - 1 - i], values[i]);
      if (result != nullptr && !put) ToVariant(value, result);
      return S_OK;
    } catch (const RuntimeError& e) {
      if (result != nullptr) VariantClear(result);
      return ExceptionResult(e, info);
    } catch (const std::bad_alloc&) {
      if (result != nullptr) VariantClear(result);
      return E_OUTOFMEMORY;
    } catch (...) {
      if (result != nullptr) VariantClear(result);
      return E_UNEXPECTED;
    }
  }

 private:
  friend class Unknown<ComObject, IDispatch>;
  ~ComObject() {
    Tables().by_target.erase(target_.get());
    Tables().by_identity.erase(static_cast<IUnknown*>(this));
    DropModuleRef();
  }

  bool NameOf(DISPID id, std::u16string_view& name, WORD& allowed) const {
    if (fixed_ != nullptr) {
      for (std::size_t m = 0; m < fixed_->count; ++m)
        if (fixed_->members[m].id == id) {
          name = fixed_->members[m].name;
          allowed = fixed_->members[m].flags;
          return true;
        }
      return false;
    }
    return DynamicName(id, name);
  }

  // Assigns a by-reference argument's new value to the caller's variable,
  // in the variable's own type when it has one.
  static void WriteBack(VARIANT& arg, const Variant& value) {
    if (V_VT(&arg) == (VT_BYREF | VT_VARIANT)) {
      VARIANT* target = V_VARIANTREF(&arg);
      if (target == nullptr) return;
      VARIANT fresh;
      ToVariant(value, &fresh);
      VariantClear(target);
      *target = fresh;
      return;
    }
    const VARTYPE type = V_VT(&arg) & VT_TYPEMASK;
    VARIANT fresh;
    ToVariant(value, &fresh);
    if (FAILED(VariantChangeType(&fresh, &fresh, 0, type))) {
      VariantClear(&fresh);
      Raise(err::kTypeMismatch);
    }
    switch (type) {
      case VT_I2: *V_I2REF(&arg) = V_I2(&fresh); break;
      case VT_I4: *V_I4REF(&arg) = V_I4(&fresh); break;
      case VT_R4: *V_R4REF(&arg) = V_R4(&fresh); break;
      case VT_R8: *V_R8REF(&arg) = V_R8(&fresh); break;
      case VT_DATE: *V_DATEREF(&arg) = V_DATE(&fresh); break;
      case VT_BOOL: *V_BOOLREF(&arg) = V_BOOL(&fresh); break;
      case VT_BSTR:
        SysFreeString(*V_BSTRREF(&arg));
        *V_BSTRREF(&arg) = V_BSTR(&fresh);
        V_VT(&fresh) = VT_EMPTY;
        break;
      case VT_DISPATCH:
        if (*V_DISPATCHREF(&arg) != nullptr) (*V_DISPATCHREF(&arg))->Release();
        *V_DISPATCHREF(&arg) = V_DISPATCH(&fresh);
        V_VT(&fresh) = VT_EMPTY;
        break;
      default: break;
    }
    VariantClear(&fresh);
  }

  ObjectRef target_;
  const DispatchInterface* fixed_;
};

}  // namespace

void AddModuleRef() noexcept { g_module_refs.fetch_add(1, std::memory_order_relaxed); }
void DropModuleRef() noexcept { g_module_refs.fetch_sub(1, std::memory_order_acq_rel); }
long ModuleRefCount() noexcept { return g_module_refs.load(std::memory_order_acquire); }

void SetInterfaceLookup(InterfaceOf lookup) noexcept { g_interface_of.store(lookup); }

Object* TargetOf(IUnknown* identity) noexcept {
  const auto& by_identity = Tables().by_identity;
  auto it = by_identity.find(identity);
  return it != by_identity.end() ? it->second->target() : nullptr;
}

IDispatch* ExportObject(const ObjectRef& object) {
  if (!object) return nullptr;
  if (IDispatch* d = DispatchOf(*object)) {
    d->AddRef();
    return d;
  }
  if (auto it = Tables().by_target.find(object.get()); it != Tables().by_target.end()) {
    it->second->AddRef();
    return it->second;
  }
  const InterfaceOf lookup = g_interface_of.load();
  return new ComObject(object, lookup != nullptr ? lookup(*object) : nullptr);
}

}  // namespace tarn::detail::win
