// Placeholder: replaced by the format-expression formatter.
#include "tarn/convert.h"

namespace tarn {

std::u16string Format(const Variant& value, std::u16string_view, int, int) { return CStr(value); }

}  // namespace tarn
