// The regional conventions that dates, numbers and the formatter follow.
//
// Everything the date parser and the format-expression formatter need to
// know about a region lives in one Locale record: the order of date parts,
// separators, month and day names, the AM/PM strings, the currency and
// number punctuation, the two-digit-year window, and the named date and time
// patterns (written as format expressions, so the formatter renders them with
// its own tokens). Only US English exists; another region is another record.
#pragma once

#include <array>
#include <string_view>

namespace tarn::detail {

enum class DateOrder : unsigned char { MonthDayYear, DayMonthYear, YearMonthDay };

struct Locale {
  DateOrder date_order;
  char16_t date_separator;
  char16_t time_separator;
  char16_t decimal_point;
  char16_t thousands_separator;
  std::array<std::u16string_view, 12> month_names;  // January first
  std::array<std::u16string_view, 12> month_abbrevs;
  std::array<std::u16string_view, 7> day_names;  // Sunday first
  std::array<std::u16string_view, 7> day_abbrevs;
  std::u16string_view am;
  std::u16string_view pm;
  std::u16string_view currency_format;  // format expression, positive;negative
  // Two-digit years yy map to window_start .. window_start + 99.
  int two_digit_year_window_start;
  // Named patterns as format expressions.
  std::u16string_view short_date;
  std::u16string_view medium_date;
  std::u16string_view long_date;
  std::u16string_view short_time;
  std::u16string_view medium_time;
  std::u16string_view long_time;
};

// US English (the only region for now).
const Locale& UsEnglishLocale() noexcept;
// The region in effect.
const Locale& CurrentLocale() noexcept;

// The four-digit year of a two-digit year under the locale's window.
int ExpandTwoDigitYear(const Locale& loc, int yy) noexcept;

}  // namespace tarn::detail
