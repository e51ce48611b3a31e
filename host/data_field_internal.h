// The default data field's inside, for the library's own code: fields
// reused with their texts, and texts overwritten in place.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "tarn/host.h"

namespace tarn {

struct DataField::Internal {
  // As Create, for a caller that assigns all three texts at once: a reused
  // field still has its earlier texts (so that equal ones need no copy).
  static Ref<DataField> CreateForOverwrite();

  // Assigns only what differs, in place: a reused field keeps its buffers.
  TARN_ALWAYS_INLINE static void Overwrite(std::u16string& to, std::u16string_view v) {
    const std::size_t n = v.size();
    if (to.size() == n && n >= 4 && n <= 8) {
      // The usual names and type words: two overlapping 8-byte words from
      // each end, compared and, where they differ, copied in place.
      std::uint64_t a0, a1, b0, b1;
      std::memcpy(&a0, v.data(), 8);
      std::memcpy(&a1, v.data() + n - 4, 8);
      std::memcpy(&b0, to.data(), 8);
      std::memcpy(&b1, to.data() + n - 4, 8);
      if (((a0 ^ b0) | (a1 ^ b1)) != 0) {
        std::memcpy(to.data(), &a0, 8);
        std::memcpy(to.data() + n - 4, &a1, 8);
      }
      return;
    }
    if (to.size() != n || (n != 0 && std::memcmp(to.data(), v.data(), n * sizeof(char16_t)) != 0)) {
      to.clear();
      to.append(v.data(), n);
    }
  }

  TARN_ALWAYS_INLINE static void OverwriteName(DataField& f, std::u16string_view v) {
    Overwrite(f.name_, v);
  }
  TARN_ALWAYS_INLINE static void OverwriteDataType(DataField& f, std::u16string_view v) {
    Overwrite(f.data_type_, v);
  }
  TARN_ALWAYS_INLINE static void OverwriteDataClass(DataField& f, std::u16string_view v) {
    Overwrite(f.data_class_, v);
  }
  static Variant& Data(DataField& f) noexcept { return f.data_; }
};

}  // namespace tarn

namespace tarn::detail {
// The default factory of "ZellDFld.DataField".
ObjectRef NewDefaultDataField();
}  // namespace tarn::detail
