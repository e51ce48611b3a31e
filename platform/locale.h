// The regional conventions that dates, numbers and the formatter follow.
#pragma once

namespace tarn::detail {

struct Locale;
const Locale& CurrentLocale() noexcept;

}  // namespace tarn::detail
