// The platform's value rules under US English conventions: the numeric and
// date tests, conversions between kinds, conversion to text, the
// format-expression formatter and string replacement.
//
// Conversions read an object's default member first. Failures throw
// tarn::RuntimeError: 13 (type mismatch), 6 (overflow), 94 (invalid use of
// Null).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tarn/value.h"

namespace tarn {

// Whether the value reads as a number (texts: signs, spaces, thousands
// separators, one decimal point, exponent, currency sign, parentheses,
// &H and &O). Empty and Boolean are numeric, dates are not.
TARN_API bool IsNumeric(const Variant& v);
// Whether the value is a date or reads as a date or time.
TARN_API bool IsDate(const Variant& v);

TARN_API std::int16_t CInt(const Variant& v);  // halves to even
TARN_API std::int32_t CLng(const Variant& v);  // halves to even
TARN_API float CSng(const Variant& v);
TARN_API double CDbl(const Variant& v);
TARN_API bool CBool(const Variant& v);
TARN_API Date CDate(const Variant& v);
// Text as the platform writes it: "True", "1E+15", "1/5/2024 1:45:10 PM".
TARN_API std::u16string CStr(const Variant& v);

// Converts `v` to the kind that a type word names ("Integer", "Long",
// "Single", "Double", "Boolean", "Date", "String"); any other word gives the
// value unchanged.
TARN_API Variant ConvertByTypeWord(std::u16string_view type_word, const Variant& v);

// Formats a value with a format expression (named formats, numeric, date
// and text formats). Day 1 of the week is `first_day_of_week` (1 = Sunday);
// `first_week_of_year` 1 is the week of 1 January.
TARN_API std::u16string Format(const Variant& value, std::u16string_view format,
                               int first_day_of_week = 1, int first_week_of_year = 1);

// The text from `start` (1-based) on, with the first `count` (-1: all)
// occurrences of `find` replaced; `compare` 1 ignores letter case, 0 and -1
// compare binary.
TARN_API std::u16string Replace(std::u16string_view text, std::u16string_view find,
                                std::u16string_view replacement, std::int32_t start = 1,
                                std::int32_t count = -1, std::int32_t compare = -1);

// The current local date and time.
TARN_API Date Now();

// A calendar day and time of day as a Date; nullopt outside 1/1/100 to
// 12/31/9999, for a day its month lacks and for a time past 23:59:59.
TARN_API std::optional<Date> MakeDate(int year, int month, int day, int hour = 0, int minute = 0,
                                      int second = 0);
// The four-digit year of a two-digit one, as the current locale's window
// places it.
TARN_API int FullYear(int two_digit_year);

}  // namespace tarn
