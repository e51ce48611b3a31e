// Placeholder: replaced by the platform's date parser.
#include "platform/date.h"

namespace tarn::detail {

std::optional<double> ParseDateText(std::u16string_view) { return std::nullopt; }

}  // namespace tarn::detail
