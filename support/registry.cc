// Placeholder: replaced by the registry layer and its backends.
#include "support/registry.h"

namespace tarn::detail {

std::u16string ReadRegistryString(std::int32_t&, std::u16string&, Variant) { return {}; }

}  // namespace tarn::detail
