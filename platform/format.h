// Internals of the format-expression formatter (tarn::Format), shared by
// format.cc (dispatch, named formats), format_number.cc, format_date.cc and
// format_text.cc, and used by date.cc for the general date text.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/date.h"

namespace tarn::detail {

// A format expression cut at ";" (outside quotes and "\" escapes): up to
// four sections; `count` is how many were written ("#;" has two).
struct FormatSections {
  std::array<std::u16string_view, 4> section{};
  int count = 0;
};
FormatSections SplitSections(std::u16string_view format);

enum class FormatKind { Number, Date, Text };
// Digit placeholders make a numeric format; else "@ & < > !" a text format;
// else date/time tokens a date format; a format of literals alone is numeric.
FormatKind ClassifyFormat(std::u16string_view format);

// Numeric sections. `significant` is 15 for Double, 7 for Single. The
// section is picked by sign (5.2): a negative section gets no minus sign.
std::u16string FormatNumber(double value, int significant, const FormatSections& sections);
// The Null section (the fourth), or "" without one.
std::u16string FormatNullNumber(const FormatSections& sections);

// `v` in decimal after as many zeros as bring it to `min_digits` digits.
void AppendNumber(std::u16string& out, int v, int min_digits);

// Appends a date/time section (or a locale pattern) rendered for `parts`.
void AppendDatePattern(std::u16string& out, const DateParts& parts, std::u16string_view pattern,
                       int first_day_of_week, int first_week_of_year);

// Text sections (@ & < > !). `is_null` selects the second section like "".
std::u16string FormatText(std::u16string_view text, bool is_null, const FormatSections& sections);

}  // namespace tarn::detail
