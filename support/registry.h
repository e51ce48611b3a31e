// Read-only access to registry values: open a key below a root, query a
// value's type and data into a 256-byte buffer, close.
#pragma once

#include <cstdint>
#include <string>

#include "tarn/value.h"

namespace tarn::detail {

inline constexpr std::int32_t kHKeyLocalMachine = static_cast<std::int32_t>(0x80000002u);

// The REG_SZ value, or "" for a missing key or value, another type or a
// text longer than 255 characters.
std::u16string ReadRegistryString(std::int32_t& hKeyRoot, std::u16string& strSubKey,
                                  Variant vValueName);

}  // namespace tarn::detail
