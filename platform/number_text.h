// Numbers as text: the platform's number parser and its number writer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarn::detail {

// Reads a whole text as a number the way the platform's parser does; nullopt
// when the text is no number. Too large a magnitude gives +-infinity.
std::optional<double> ParseNumber(std::u16string_view text);

// Writes a Double with up to 15, a Single with up to 7 significant digits,
// switching to exponent form as the platform does ("1E+15", "5.6789E-12").
std::u16string DoubleToText(double v);
std::u16string SingleToText(float v);

}  // namespace tarn::detail
