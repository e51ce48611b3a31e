// Registration of the default components under their identifiers, once
// per process, unless a host registered its own.
#include <mutex>

#include "host/host_access.h"
#include "host/log_component.h"
#include "tarn/host.h"

namespace tarn {

namespace detail {
ObjectRef NewDefaultDataField() { return ObjectRef(DataField::Create()); }
}  // namespace detail

void RegisterDefaultComponents() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A host that registered its own components keeps them.
    if (!IsClassRegistered(kDataFieldProgId))
      RegisterClass(kDataFieldProgId, &detail::NewDefaultDataField);
    if (!IsClassRegistered(kLogProgId)) RegisterClass(kLogProgId, &detail::NewLogComponent);
  });
}

}  // namespace tarn
