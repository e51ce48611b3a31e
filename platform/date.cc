// Calendar arithmetic of the Date kind.
//
// A serial counts days from 30 December 1899; its fraction is the time of
// day. For negative serials the day is the integer part truncated toward zero
// and the time is the absolute fraction (-1.25 is 12/29/1899 6:00 AM). The
// calendar is the proleptic Gregorian one (no fake 29 February 1900), and the
// day arithmetic follows H. Hinnant's days_from_civil / civil_from_days.
// Times are rounded to the nearest whole second; a time that rounds up to
// 24:00:00 moves to midnight of the next calendar day.
#include "platform/date.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "platform/format.h"
#include "platform/locale.h"

namespace tarn::detail {

namespace {

// Days from 1970-01-01 to a civil date.
constexpr long DaysFromCivil(long y, unsigned m, unsigned d) noexcept {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

struct Civil {
  int year;
  int month;
  int day;
};

constexpr Civil CivilFromDays(long z) noexcept {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long y = static_cast<long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(y + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

// Day number of 30 December 1899 counted from 1970-01-01.
constexpr long kEpoch = DaysFromCivil(1899, 12, 30);
static_assert(DaysFromCivil(1900, 3, 1) - kEpoch == 61);
static_assert(DaysFromCivil(100, 1, 1) - kEpoch == -657434);
static_assert(DaysFromCivil(9999, 12, 31) - kEpoch == 2958465);

}  // namespace

bool IsLeapYear(int y) noexcept { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int year, int month) noexcept {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

DateParts SplitSerial(double serial) {
  DateParts p;
  if (!std::isfinite(serial)) return p;
  double whole = std::trunc(serial);
  long day = static_cast<long>(whole);
  long secs = std::lround(std::fabs(serial - whole) * 86400.0);
  if (secs >= 86400) {  // rounds up to the next calendar day
    if (day == 2958465) {
      secs = 86399;  // but never past 12/31/9999 23:59:59
    } else {
      secs -= 86400;
      ++day;
    }
  }
  Civil c = CivilFromDays(day + kEpoch);
  p.year = c.year;
  p.month = c.month;
  p.day = c.day;
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  p.weekday = static_cast<int>(((day % 7) + 13) % 7) + 1;  // day 0 is a Saturday
  p.day_of_year = static_cast<int>(day + kEpoch - DaysFromCivil(c.year, 1, 1)) + 1;
  return p;
}

std::optional<double> MakeSerial(int year, int month, int day, int hour, int minute, int second) {
  if (year < 100 || year > 9999 || month < 1 || month > 12) return std::nullopt;
  if (day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return std::nullopt;
  double days = static_cast<double>(
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch);
  double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return days < 0 ? days - time : days + time;
}

std::u16string GeneralDateText(double serial) {
  const Locale& loc = CurrentLocale();
  DateParts p = SplitSerial(serial);
  bool has_date = !(p.year == 1899 && p.month == 12 && p.day == 30);
  bool has_time = p.hour != 0 || p.minute != 0 || p.second != 0;
  std::u16string out;
  if (has_date) AppendDatePattern(out, p, loc.short_date, 1, 1);
  if (has_time || !has_date) {
    if (has_date) out += u' ';
    AppendDatePattern(out, p, loc.long_time, 1, 1);
  }
  return out;
}

double DateOnly(double serial) { return std::trunc(serial); }

double TimeOnly(double serial) { return std::fabs(serial - std::trunc(serial)); }

double NowSerial() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &t);
#else
  localtime_r(&t, &local);
#endif
  auto s = MakeSerial(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                      local.tm_min, local.tm_sec < 60 ? local.tm_sec : 59);
  return s ? *s : 0.0;
}

}  // namespace tarn::detail
