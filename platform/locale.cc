// US English regional data: M/d/yyyy dates, 12-hour times with AM/PM, "."
// and "," in numbers, "$" currency, two-digit years 1950..2049.
#include "platform/locale.h"

namespace tarn::detail {

namespace {

constexpr Locale kUsEnglish{
    DateOrder::MonthDayYear,
    u'/',
    u':',
    u'.',
    u',',
    {u"January", u"February", u"March", u"April", u"May", u"June", u"July", u"August", u"September",
     u"October", u"November", u"December"},
    {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun", u"Jul", u"Aug", u"Sep", u"Oct", u"Nov",
     u"Dec"},
    {u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"},
    {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"},
    u"AM",
    u"PM",
    u"$#,##0.00;($#,##0.00)",
    1950,
    u"m/d/yyyy",
    u"dd-mmm-yy",
    u"dddd, mmmm d, yyyy",
    u"hh:mm",
    u"hh:mm AMPM",
    u"h:mm:ss AMPM",
};

}  // namespace

const Locale& UsEnglishLocale() noexcept { return kUsEnglish; }
const Locale& CurrentLocale() noexcept { return kUsEnglish; }

int ExpandTwoDigitYear(const Locale& loc, int yy) noexcept {
  int start = loc.two_digit_year_window_start;
  int century = start - start % 100;
  int y = century + yy;
  return y < start ? y + 100 : y;
}

}  // namespace tarn::detail
