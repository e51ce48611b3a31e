// The platform's date parser (US rules from the locale record).
//
// The text is cut into at most kMaxTokens tokens: numbers, month names (full
// or abbreviated, any case), AM/PM markers ("AM", "PM", "A", "P") and
// separators. Spaces (any Unicode space separator), "-", "/" and ","
// separate date parts; ":" and "." separate time parts. Any other character
// or word (weekday names, "True") makes the text no date.
//
//   text    -> [date] [time [marker]] | time [marker] date
//   time    -> number (":"|".") number [(":"|".") number]   |   number marker
//   date    -> up to three numbers and at most one month name
//
// Numbers joined by a time separator form the time; a number directly before
// an AM/PM marker is an hour. A date separator stands between two numbers or
// month names: one with nothing on a side reads as a sign, and a signed
// number is no part of a date ("-2.5", "3.4-"). The date's parts stand
// together before or after the time (an hour with its AM/PM marker is a
// time), so "2 3.4 5 6" and "3 4 pm 5" are no dates, while "3 am 1 2" is.
// The date numbers are then read in the locale's order and, failing that,
// in the orders the platform falls back to (see ReadThreeNumbers /
// ReadTwoNumbers). Nothing is allocated.
#include <array>
#include <cstdint>

#include "platform/date.h"
#include "platform/locale.h"
#include "platform/text.h"

namespace tarn::detail {

namespace {

constexpr int kMaxTokens = 24;

enum class Tok : std::uint8_t { Number, Month, Am, Pm, DateSep, TimeSep, Space };

struct Token {
  Tok kind;
  int value;   // number value or month 1..12
  int digits;  // digit count of a number
};

struct Tokens {
  std::array<Token, kMaxTokens> t;
  int n = 0;
  bool Push(Token tok) {
    if (n == kMaxTokens) return false;
    t[static_cast<std::size_t>(n++)] = tok;
    return true;
  }
  const Token& operator[](int i) const { return t[static_cast<std::size_t>(i)]; }
};

constexpr bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsLetter(char16_t c) { return UpperChar(c) != LowerChar(c); }

// A word of letters: a month (1..12), AM/PM, or 0 for an unknown word.
bool ClassifyWord(const Locale& loc, std::u16string_view w, Token& out) {
  for (int m = 0; m < 12; ++m) {
    if (EqualsIgnoreCase(w, loc.month_names[static_cast<std::size_t>(m)]) ||
        EqualsIgnoreCase(w, loc.month_abbrevs[static_cast<std::size_t>(m)])) {
      out = {Tok::Month, m + 1, 0};
      return true;
    }
  }
  if (EqualsIgnoreCase(w, loc.am) || EqualsIgnoreCase(w, loc.am.substr(0, 1))) {
    out = {Tok::Am, 0, 0};
    return true;
  }
  if (EqualsIgnoreCase(w, loc.pm) || EqualsIgnoreCase(w, loc.pm.substr(0, 1))) {
    out = {Tok::Pm, 0, 0};
    return true;
  }
  return false;
}

// The platform separates a date's parts at any Unicode space separator, as
// it does at a space: the no-break and ideographic spaces among them.
bool IsSpaceSeparator(char16_t c) {
  return c == u' ' || c == u'\t' || c == 0x00A0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

bool Tokenize(const Locale& loc, std::u16string_view s, Tokens& toks) {
  std::size_t i = 0;
  while (i < s.size()) {
    char16_t c = s[i];
    Token tok{};
    if (IsDigit(c)) {
      int v = 0, d = 0;
      while (i < s.size() && IsDigit(s[i])) {
        if (++d > 9) return false;
        v = v * 10 + (s[i++] - u'0');
      }
      tok = {Tok::Number, v, d};
    } else if (IsLetter(c)) {
      std::size_t b = i;
      while (i < s.size() && IsLetter(s[i])) ++i;
      if (!ClassifyWord(loc, s.substr(b, i - b), tok)) return false;
    } else {
      ++i;
      if (IsSpaceSeparator(c)) {
        tok = {Tok::Space, 0, 0};
      } else if (c == u'-' || c == u'/' || c == u',' || c == loc.date_separator) {
        tok = {Tok::DateSep, 0, 0};
      } else if (c == u':' || c == u'.' || c == loc.time_separator) {
        tok = {Tok::TimeSep, 0, 0};
      } else {
        return false;
      }
    }
    if (tok.kind == Tok::Space && toks.n > 0 && toks[toks.n - 1].kind == Tok::Space) continue;
    if (!toks.Push(tok)) return false;
  }
  return true;
}

struct Time {
  bool present = false;
  int parts[3] = {0, 0, 0};
  int count = 0;
  int marker = 0;  // 0 none, 1 AM, 2 PM
};

struct DateNumbers {
  int value[3];
  int digits[3];
  int count = 0;
  int month = 0;      // from a month name
  int month_pos = 0;  // how many numbers came before the month name
};

int Year(const Locale& loc, int value, int digits) {
  return digits <= 2 ? ExpandTwoDigitYear(loc, value) : value;
}

int CurrentYear() { return SplitSerial(NowSerial()).year; }

bool ValidDay(int y, int m, int d) { return m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m); }

bool IsDatePart(const Token& t) { return t.kind == Tok::Number || t.kind == Tok::Month; }

// Whether every date separator has a number or month name on both sides
// (blanks aside).
bool SeparatorsStandBetweenParts(const Tokens& tk) {
  for (int i = 0; i < tk.n; ++i) {
    if (tk[i].kind != Tok::DateSep) continue;
    int before = i - 1, after = i + 1;
    if (before >= 0 && tk[before].kind == Tok::Space) --before;
    if (after < tk.n && tk[after].kind == Tok::Space) ++after;
    if (before < 0 || after >= tk.n || !IsDatePart(tk[before]) || !IsDatePart(tk[after]))
      return false;
  }
  return true;
}

// Splits the tokens into the time and the date numbers.
bool Separate(const Tokens& tk, Time& time, DateNumbers& date) {
  bool date_before_time = false;
  for (int i = 0; i < tk.n; ++i) {
    const Token& t = tk[i];
    if (IsDatePart(t)) {
      // A date part after the time resumes a date begun before it.
      if (time.present && date_before_time) return false;  // "2 3.4 5 6"
    }
    switch (t.kind) {
      case Tok::Space:
      case Tok::DateSep: break;
      case Tok::TimeSep: return false;  // a separator not between time numbers
      case Tok::Am:
      case Tok::Pm:
        if (time.marker != 0) return false;
        time.marker = t.kind == Tok::Am ? 1 : 2;
        break;
      case Tok::Month:
        if (date.month != 0) return false;
        date.month = t.value;
        date.month_pos = date.count;
        date_before_time = !time.present;
        break;
      case Tok::Number: {
        bool joined = i + 2 < tk.n && tk[i + 1].kind == Tok::TimeSep;
        int j = i + 1;
        while (j < tk.n && tk[j].kind == Tok::Space) ++j;
        bool hour_only = j < tk.n && (tk[j].kind == Tok::Am || tk[j].kind == Tok::Pm);
        if (joined || hour_only) {
          if (time.present) return false;
          time.present = true;
          time.parts[time.count++] = t.value;
          while (i + 2 < tk.n && tk[i + 1].kind == Tok::TimeSep && tk[i + 2].kind == Tok::Number) {
            if (time.count == 3) return false;  // "02:04:12.017", "1.2.3.4"
            i += 2;
            time.parts[time.count++] = tk[i].value;
          }
          if (i + 1 < tk.n && tk[i + 1].kind == Tok::TimeSep) return false;  // dangling
          if (time.count == 1 && !hour_only) return false;
          break;
        }
        if (date.count == 3) return false;
        date_before_time = !time.present;
        date.value[date.count] = t.value;
        date.digits[date.count++] = t.digits;
        break;
      }
    }
  }
  return true;
}

std::optional<double> TimeFraction(Time& t) {
  int h = t.parts[0], m = t.count > 1 ? t.parts[1] : 0, s = t.count > 2 ? t.parts[2] : 0;
  if (h > 23 || m > 59 || s > 59) return std::nullopt;
  if (t.marker != 0 && h <= 12) {
    if (t.marker == 1 && h == 12) h = 0;
    if (t.marker == 2 && h < 12) h += 12;
  }
  return (h * 3600.0 + m * 60.0 + s) / 86400.0;
}

struct Ymd {
  int y, m, d;
};

bool Try(int y, int m, int d, Ymd& out) {
  if (y < 100 || y > 9999 || !ValidDay(y, m, d)) return false;
  out = {y, m, d};
  return true;
}

// Three numbers: the locale order, then year-month-day or day-month-year
// depending on whether the last number has more than two digits.
bool ReadThreeNumbers(const Locale& loc, const DateNumbers& n, Ymd& out) {
  const int* v = n.value;
  const int* dg = n.digits;
  auto mdy = [&] { return Try(Year(loc, v[2], dg[2]), v[0], v[1], out); };
  auto dmy = [&] { return Try(Year(loc, v[2], dg[2]), v[1], v[0], out); };
  auto ymd = [&] { return Try(Year(loc, v[0], dg[0]), v[1], v[2], out); };
  switch (loc.date_order) {
    case DateOrder::MonthDayYear:
      if (mdy()) return true;
      break;
    case DateOrder::DayMonthYear:
      if (dmy()) return true;
      break;
    case DateOrder::YearMonthDay:
      if (ymd()) return true;
      break;
  }
  if (dg[2] > 2) return dmy() || mdy();
  return ymd() || dmy();
}

// Two numbers: month and day of the current year in either order, else
// month and year (day 1).
bool ReadTwoNumbers(const Locale& loc, const DateNumbers& n, Ymd& out) {
  int a = n.value[0], b = n.value[1];
  int year = CurrentYear();
  bool day_first = loc.date_order == DateOrder::DayMonthYear;
  if (!day_first && Try(year, a, b, out)) return true;
  if (Try(year, b, a, out)) return true;
  if (day_first && Try(year, a, b, out)) return true;
  if (Try(Year(loc, b, n.digits[1]), a, 1, out)) return true;
  return Try(Year(loc, a, n.digits[0]), b, 1, out);
}

// A month name with one or two numbers.
bool ReadWithMonthName(const Locale& loc, const DateNumbers& n, Ymd& out) {
  int m = n.month;
  if (n.count == 1) {
    int year = CurrentYear();
    if (n.digits[0] <= 2 && Try(year, m, n.value[0], out)) return true;
    return Try(Year(loc, n.value[0], n.digits[0]), m, 1, out);
  }
  if (n.count != 2) return false;
  // Day then year, unless the first number cannot be a day.
  if (n.digits[0] <= 2 && Try(Year(loc, n.value[1], n.digits[1]), m, n.value[0], out)) return true;
  return Try(Year(loc, n.value[0], n.digits[0]), m, n.value[1], out);
}

std::optional<double> Combine(int y, int m, int d, double time) {
  auto day = MakeSerial(y, m, d);
  if (!day) return std::nullopt;
  return *day < 0 ? *day - time : *day + time;
}

}  // namespace

std::optional<double> ParseDateText(std::u16string_view text) {
  const Locale& loc = CurrentLocale();
  Tokens tk;
  if (!Tokenize(loc, text, tk) || !SeparatorsStandBetweenParts(tk)) return std::nullopt;
  Time time;
  DateNumbers date;
  if (!Separate(tk, time, date)) return std::nullopt;
  if (time.marker != 0 && !time.present) return std::nullopt;

  double frac = 0;
  if (time.present) {
    auto f = TimeFraction(time);
    if (!f) return std::nullopt;
    frac = *f;
    // A time written with dots only that is all zeros ("0.0") is refused.
    bool has_colon = text.find(u':') != std::u16string_view::npos;
    if (!has_colon && time.marker == 0 && frac == 0 && time.count > 1) return std::nullopt;
  }

  if (date.count == 0 && date.month == 0) {
    if (!time.present) return std::nullopt;
    return frac;  // a time alone is on day 0
  }
  Ymd ymd{};
  bool ok = false;
  if (date.month != 0) {
    ok = ReadWithMonthName(loc, date, ymd);
  } else if (date.count == 3) {
    ok = ReadThreeNumbers(loc, date, ymd);
  } else if (date.count == 2) {
    ok = ReadTwoNumbers(loc, date, ymd);
  }
  if (!ok) return std::nullopt;
  return Combine(ymd.y, ymd.m, ymd.d, frac);
}

}  // namespace tarn::detail
