// Dates: serial numbers (days since 30 December 1899, time as the fraction),
// their calendar parts, the date parser and the general date text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarn::detail {

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  int weekday = 7;  // 1 = Sunday ... 7 = Saturday
  int day_of_year = 364;
};

inline constexpr double kMinDateSerial = -657434.0;      // 1/1/100
inline constexpr double kMaxDateSerial = 2958465.99999;  // 12/31/9999 23:59:59

// Calendar parts of a serial (negative serials: day toward zero, the time is
// the absolute fraction). Seconds are rounded to the nearest whole second.
DateParts SplitSerial(double serial);
// Serial of a calendar date and a time of day; nullopt when out of range.
std::optional<double> MakeSerial(int year, int month, int day, int hour = 0, int minute = 0,
                                 int second = 0);

// Days in a month of a year (0 for a month outside 1..12).
int DaysInMonth(int year, int month) noexcept;
bool IsLeapYear(int year) noexcept;

// Whether a serial is a date: negative serials carry their time as a
// positive fraction, so the first day reaches down to kMinDateSerial minus
// (almost) one day.
inline bool InDateRange(double serial) noexcept {
  constexpr double kLastTime = kMaxDateSerial - 2958465.0;
  return serial >= kMinDateSerial - kLastTime && serial <= kMaxDateSerial;
}

// The whole text read as a date and/or time, as the platform's date parser
// reads it under the current locale; nullopt when it is no date.
std::optional<double> ParseDateText(std::u16string_view text);

// "1/5/2024 1:45:10 PM", the date alone at midnight, the time alone on day 0.
std::u16string GeneralDateText(double serial);

// The date part (time dropped) and the time part (date dropped) of a serial.
double DateOnly(double serial);
double TimeOnly(double serial);

// The current local date and time as a serial.
double NowSerial();

}  // namespace tarn::detail
