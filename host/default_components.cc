// Registration of the default components under their identifiers, once
// per process, unless a host registered its own.
#include <mutex>

#include "host/log_component.h"
#include "host/data_field_internal.h"
#include "tarn/host.h"

namespace tarn {

namespace detail {
ObjectRef NewDefaultDataField() { return ObjectRef(DataField::Create()); }
}  // namespace detail

void RegisterDefaultComponents() {
  // On Windows these come from the system's registration (tarnhost.dll or
  // the host product's own components).
#if !defined(_WIN32)
  static std::once_flag once;
  std::call_once(once, [] {
    // A host that registered its own components keeps them.
    if (!IsClassRegistered(kDataFieldProgId))
      RegisterClass(kDataFieldProgId, &detail::NewDefaultDataField);
    if (!IsClassRegistered(kLogProgId)) RegisterClass(kLogProgId, &detail::NewLogComponent);
  });
#endif
}

}  // namespace tarn
