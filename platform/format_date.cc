// Date/time format sections: d..dddddd, aaaa, w, ww, m..mmmm, q, y, yy,
// yyyy, h, hh, n, nn, s, ss, ttttt, c, AM/PM, am/pm, A/P, a/p, AMPM, "/" and
// ":", plus "\x" and "text" literals.
//
// Letters are matched without regard to case; only the case of an AM/PM
// token shapes its output. Any AM/PM token in the section switches the hours
// to 12-hour. "m"/"mm" right after an "h"/"hh" token (literals between are
// allowed, another token breaks the link) means minutes, once. Runs longer
// than a token split greedily ("yyy" is "yy" then "y"). The locale's named
// patterns (short date, long time, ...) are rendered by the same code.
#include <charconv>
#include <string>

#include "platform/format.h"
#include "platform/locale.h"
#include "platform/text.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {

bool StartsWithIgnoreCase(std::u16string_view s, std::size_t i, std::u16string_view word) {
  return s.size() - i >= word.size() && EqualsIgnoreCase(s.substr(i, word.size()), word);
}

// Length of an AM/PM token at `i` (0 when none): "AM/PM", "A/P", "AMPM".
std::size_t AmPmTokenLength(std::u16string_view s, std::size_t i) {
  if (s[i] != u'a' && s[i] != u'A') return 0;
  if (StartsWithIgnoreCase(s, i, u"am/pm"sv)) return 5;
  if (StartsWithIgnoreCase(s, i, u"ampm"sv)) return 4;
  if (StartsWithIgnoreCase(s, i, u"a/p"sv)) return 3;
  return 0;
}

bool HasAmPmToken(std::u16string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'"') {
      i = s.find(u'"', i + 1);
      if (i == std::u16string_view::npos) return false;
    } else if (s[i] == u'\\') {
      ++i;
    } else if (AmPmTokenLength(s, i) != 0) {
      return true;
    }
  }
  return false;
}

// Position of a weekday (1 = Sunday) in a week that starts on `first`.
int WeekdayFrom(int weekday, int first) { return (weekday - first + 7) % 7; }

// Week of the year of a day (1-based day of year, weekday 1..7).
int WeekOfYear(int year, int day_of_year, int weekday, int first_day, int first_week) {
  int jan1 = ((weekday - 1 - (day_of_year - 1)) % 7 + 7) % 7 + 1;  // weekday of 1 January
  int offset = WeekdayFrom(jan1, first_day);  // days of week 1 before 1 January
  int start;                                  // day of year (may be <= 0) where week 1 starts
  switch (first_week) {
    case 2: start = offset <= 3 ? 1 - offset : 8 - offset; break;
    case 3: start = offset == 0 ? 1 : 8 - offset; break;
    default: start = 1 - offset; break;
  }
  if (day_of_year < start) {  // belongs to the last week of the previous year
    int prev_days = IsLeapYear(year - 1) ? 366 : 365;
    return WeekOfYear(year - 1, day_of_year + prev_days, weekday, first_day, first_week);
  }
  return (day_of_year - start) / 7 + 1;
}

struct DateWriter {
  std::u16string& out;
  const DateParts& p;
  int first_day;
  int first_week;
  bool twelve_hour;
  const Locale& loc = CurrentLocale();

  void Pattern(std::u16string_view pattern) {
    AppendDatePattern(out, p, pattern, first_day, first_week);
  }
  void Day(int n) {
    switch (n) {
      case 1: AppendNumber(out, p.day, 1); break;
      case 2: AppendNumber(out, p.day, 2); break;
      case 3: out += loc.day_abbrevs[static_cast<std::size_t>(p.weekday - 1)]; break;
      case 4: out += loc.day_names[static_cast<std::size_t>(p.weekday - 1)]; break;
      case 5: Pattern(loc.short_date); break;
      default: Pattern(loc.long_date); break;
    }
  }
  void Month(int n) {
    switch (n) {
      case 1: AppendNumber(out, p.month, 1); break;
      case 2: AppendNumber(out, p.month, 2); break;
      case 3: out += loc.month_abbrevs[static_cast<std::size_t>(p.month - 1)]; break;
      default: out += loc.month_names[static_cast<std::size_t>(p.month - 1)]; break;
    }
  }
  void Year(int n) {
    if (n == 1)
      AppendNumber(out, p.day_of_year, 1);
    else if (n == 2)
      AppendNumber(out, p.year % 100, 2);
    else
      AppendNumber(out, p.year, 1);
  }
  void Hour(int n) {
    int h = p.hour;
    if (twelve_hour) h = h % 12 == 0 ? 12 : h % 12;
    AppendNumber(out, h, n);
  }
  void GeneralDate() {
    bool has_date = !(p.year == 1899 && p.month == 12 && p.day == 30);
    bool has_time = p.hour != 0 || p.minute != 0 || p.second != 0;
    if (has_date) Pattern(loc.short_date);
    if (has_time || !has_date) {
      if (has_date) out += u' ';
      Pattern(loc.long_time);
    }
  }
  void AmPm(std::u16string_view token) {
    bool pm = p.hour >= 12;
    char16_t first = token[0];
    bool upper = first == u'A';
    if (token.size() == 4) {  // AMPM: the locale strings
      out += pm ? loc.pm : loc.am;
    } else if (token.size() == 3) {  // A/P
      out += upper ? (pm ? u'P' : u'A') : (pm ? u'p' : u'a');
    } else {
      std::u16string_view s = pm ? u"PM"sv : u"AM"sv;
      for (char16_t c : s) out += upper ? c : LowerChar(c);
    }
  }
};

std::size_t RunLength(std::u16string_view s, std::size_t i) {
  char16_t c = LowerChar(s[i]);
  std::size_t j = i;
  while (j < s.size() && LowerChar(s[j]) == c) ++j;
  return j - i;
}

}  // namespace

void AppendNumber(std::u16string& out, int v, int min_digits) {
  char digits[16];
  const char* end = std::to_chars(digits, digits + sizeof digits, v).ptr;
  for (auto k = end - digits; k < min_digits; ++k) out += u'0';
  for (const char* c = digits; c != end; ++c) out += static_cast<char16_t>(*c);
}

void AppendDatePattern(std::u16string& out, const DateParts& parts, std::u16string_view s,
                       int first_day_of_week, int first_week_of_year) {
  if (first_day_of_week < 1 || first_day_of_week > 7) first_day_of_week = 1;
  if (first_week_of_year < 1 || first_week_of_year > 3) first_week_of_year = 1;
  DateWriter w{out, parts, first_day_of_week, first_week_of_year, HasAmPmToken(s)};
  const Locale& loc = w.loc;
  bool after_hour = false;
  std::size_t i = 0;
  while (i < s.size()) {
    char16_t c = s[i];
    if (c == u'"') {
      auto q = s.find(u'"', i + 1);
      if (q == std::u16string_view::npos) q = s.size();
      out += s.substr(i + 1, q - i - 1);
      i = q + 1;
      continue;
    }
    if (c == u'\\') {
      if (i + 1 < s.size()) out += s[i + 1];
      i += 2;
      continue;
    }
    if (std::size_t len = AmPmTokenLength(s, i)) {
      w.AmPm(s.substr(i, len));
      after_hour = false;
      i += len;
      continue;
    }
    std::size_t run = RunLength(s, i);
    bool hour_token = false;
    std::size_t used = 1;
    switch (LowerChar(c)) {
      case u'c': w.GeneralDate(); break;
      case u'd':
        used = std::min<std::size_t>(run, 6);
        w.Day(static_cast<int>(used));
        break;
      case u'a':
        if (run >= 4) {
          used = 4;
          w.Day(4);
        } else {  // "a" .. "aaa" are literal
          out += s.substr(i, run);
          i += run;
          continue;
        }
        break;
      case u'w':
        used = std::min<std::size_t>(run, 2);
        if (used == 1)
          AppendNumber(out, WeekdayFrom(parts.weekday, first_day_of_week) + 1, 1);
        else
          AppendNumber(out,
                       WeekOfYear(parts.year, parts.day_of_year, parts.weekday, first_day_of_week,
                                  first_week_of_year),
                       1);
        break;
      case u'm':
        used = std::min<std::size_t>(run, 4);
        if (used <= 2 && after_hour)
          AppendNumber(out, parts.minute, static_cast<int>(used));
        else
          w.Month(static_cast<int>(used));
        break;
      case u'q': AppendNumber(out, (parts.month - 1) / 3 + 1, 1); break;
      case u'y':
        used = run >= 4 ? 4 : run >= 2 ? 2 : 1;
        w.Year(static_cast<int>(used));
        break;
      case u'h':
        used = std::min<std::size_t>(run, 2);
        w.Hour(static_cast<int>(used));
        hour_token = true;
        break;
      case u'n':
        used = std::min<std::size_t>(run, 2);
        AppendNumber(out, parts.minute, static_cast<int>(used));
        break;
      case u's':
        used = std::min<std::size_t>(run, 2);
        AppendNumber(out, parts.second, static_cast<int>(used));
        break;
      case u't':
        if (run >= 5) {
          used = 5;
          w.Pattern(loc.long_time);
          break;
        }
        out += s.substr(i, run);  // "t" .. "tttt" are literal
        i += run;
        continue;
      case u'/':
        out += loc.date_separator;
        ++i;
        continue;
      case u':':
        out += loc.time_separator;
        ++i;
        continue;
      default:
        out += c;
        ++i;
        continue;
    }
    after_hour = hour_token;
    i += used;
  }
}

}  // namespace tarn::detail
