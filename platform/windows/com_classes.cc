// Objects the process did not register itself come from the system's
// registration: programmatic identifier -> class identifier -> instance.
#include <objbase.h>

#include "platform/windows/com_bridge.h"

namespace tarn::detail::win {

ClassFactory ComClassFactory(std::u16string_view progid) {
  const std::u16string name(progid);
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(Wide(name), &clsid))) return {};
  return [clsid]() -> ObjectRef {
    IDispatch* dispatch = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                        IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr) || dispatch == nullptr) Raise(err::kCannotCreateObject);
    ObjectRef object = WrapDispatch(dispatch);
    dispatch->Release();
    return object;
  };
}

}  // namespace tarn::detail::win
