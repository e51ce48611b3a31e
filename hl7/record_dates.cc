// Numeric dates are read here rather than by the platform's parser, which
// takes "13/03/1980" as 13 March when it cannot be March 13th and so reads a
// column of dates two ways; texts with month names, which cannot be read two
// ways, still go to the platform.
#include "hl7/record_dates.h"

#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::hl7 {

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

// Reads `count` digits (or between min and max when count is 0) at `at`.
bool Number(std::string_view s, std::size_t& at, std::size_t min, std::size_t max, int& out) {
  std::size_t n = 0;
  out = 0;
  while (at + n < s.size() && Digit(s[at + n]) && n < max) out = out * 10 + (s[at + n++] - '0');
  if (n < min) return false;
  at += n;
  return true;
}

// "HH:MM[:SS[.fff]]" with an optional AM/PM after a space; true when the
// whole rest of the text is read.
bool Time(std::string_view s, std::size_t& at, int& h, int& m, int& sec) {
  sec = 0;
  if (!Number(s, at, 1, 2, h) || at >= s.size() || s[at] != ':') return false;
  ++at;
  if (!Number(s, at, 2, 2, m)) return false;
  if (at < s.size() && s[at] == ':') {
    ++at;
    if (!Number(s, at, 2, 2, sec)) return false;
    if (at < s.size() && (s[at] == '.' || s[at] == ',')) {
      ++at;
      int ignored;
      if (!Number(s, at, 1, 9, ignored)) return false;
      while (at < s.size() && Digit(s[at])) ++at;
    }
  }
  std::size_t k = at;
  while (k < s.size() && s[k] == ' ') ++k;
  if (k + 2 <= s.size() && k > at) {
    const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(s[k])));
    const char b = static_cast<char>(std::toupper(static_cast<unsigned char>(s[k + 1])));
    if ((a == 'A' || a == 'P') && b == 'M') {
      if (h < 1 || h > 12) return false;
      h = h % 12 + (a == 'P' ? 12 : 0);
      at = k + 2;
    }
  }
  return h <= 23 && m <= 59 && sec <= 59;
}

// "Z", "+HH", "+HHMM", "+HH:MM" (or "-"): minutes east of UTC.
bool Zone(std::string_view s, std::size_t& at, int& minutes) {
  if (at < s.size() && (s[at] == 'Z' || s[at] == 'z')) {
    ++at;
    minutes = 0;
    return true;
  }
  if (at >= s.size() || (s[at] != '+' && s[at] != '-')) return false;
  const int sign = s[at++] == '-' ? -1 : 1;
  int h, m = 0;
  if (!Number(s, at, 2, 2, h)) return false;
  if (at < s.size() && s[at] == ':') ++at;
  if (at < s.size() && !Number(s, at, 2, 2, m)) return false;
  if (h > 23 || m > 59) return false;
  minutes = sign * (h * 60 + m);
  return true;
}

}  // namespace

std::optional<double> CivilSerial(int year, int month, int day, int hour, int minute, int second) {
  const auto date = MakeDate(year, month, day, hour, minute, second);
  if (!date) return std::nullopt;
  return date->serial;
}

std::optional<double> ReadRecordDate(std::string_view text, DateOrder order) {
  bool zoned = false;
  int offset = 0;
  auto serial = ReadRecordDate(text, order, zoned, offset);
  if (serial && zoned)
    *serial -=
        ((offset < 0 ? -1 : 1) * (std::abs(offset) / 100 * 60 + std::abs(offset) % 100)) / 1440.0;
  return serial;
}

std::optional<double> ReadRecordDate(std::string_view text, DateOrder order, bool& zoned_out,
                                     int& offset) {
  zoned_out = false;
  offset = 0;
  // The zone as written: a signed hhmm number.
  const auto keep = [&](int minutes) {
    zoned_out = true;
    offset = (minutes < 0 ? -1 : 1) * (std::abs(minutes) / 60 * 100 + std::abs(minutes) % 60);
  };
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  if (text.empty()) return std::nullopt;

  bool letters = false;
  for (const char c : text)
    if (std::isalpha(static_cast<unsigned char>(c))) letters = true;

  std::size_t at = 0;
  int a, b, c;
  // HL7's own form: YYYYMMDD[HHMM[SS[.fff]]][zone].
  if (Number(text, at, 8, 8, a) &&
      (at == text.size() || !Digit(text[at]) || at + 4 <= text.size())) {
    int h = 0, m = 0, s = 0, zone = 0;
    bool zoned = false;
    if (at < text.size() && Digit(text[at])) {
      if (!Number(text, at, 2, 2, h) || !Number(text, at, 2, 2, m)) return std::nullopt;
      if (at < text.size() && Digit(text[at]) && !Number(text, at, 2, 2, s)) return std::nullopt;
      if (at < text.size() && text[at] == '.') {
        ++at;
        int ignored;
        if (!Number(text, at, 1, 9, ignored)) return std::nullopt;
        while (at < text.size() && Digit(text[at])) ++at;
      }
    }
    if (at < text.size()) {
      zoned = Zone(text, at, zone);
      if (!zoned || at != text.size()) return std::nullopt;
    }
    auto serial = CivilSerial(a / 10000, a / 100 % 100, a % 100, h, m, s);
    if (serial && zoned) keep(zone);
    return serial;
  }
  at = 0;
  // A time alone is a time on day 0, as the platform has it.
  {
    int h, m, s;
    std::size_t k = 0;
    if (Time(text, k, h, m, s) && k == text.size()) return (h * 3600 + m * 60 + s) / 86400.0;
  }
  std::size_t a_digits = 0;
  if (Number(text, at, 1, 4, a)) {
    a_digits = at;
    const char sep = at < text.size() ? text[at] : '\0';
    if (sep == '-' || sep == '/' || sep == '.') {
      ++at;
      std::size_t b_start = at;
      if (Number(text, at, 1, 2, b) && at - b_start >= 1 && at < text.size() && text[at] == sep) {
        ++at;
        const std::size_t c_start = at;
        if (Number(text, at, 1, 4, c)) {
          const std::size_t c_digits = at - c_start;
          int year, month, day;
          if (a_digits == 4) {  // a year first is a year, whatever the order
            year = a, month = b, day = c;
            if (c_digits > 2) return std::nullopt;
          } else if (order == DateOrder::Ymd) {
            return std::nullopt;  // a year-first date needs all four digits
          } else {
            if (c_digits == 3 || a_digits > 2) return std::nullopt;
            year = c_digits > 2 ? c : tarn::FullYear(c);
            month = order == DateOrder::Mdy ? a : b;
            day = order == DateOrder::Mdy ? b : a;
          }
          int h = 0, m = 0, s = 0, zone = 0;
          bool zoned = false;
          if (at < text.size()) {
            const char t = text[at];
            if (t != 'T' && t != 't' && t != ' ') return std::nullopt;
            ++at;
            while (t == ' ' && at < text.size() && text[at] == ' ') ++at;
            if (!Time(text, at, h, m, s)) return std::nullopt;
            if (at < text.size()) {
              zoned = Zone(text, at, zone);
              if (!zoned || at != text.size()) return std::nullopt;
            }
          }
          auto serial = CivilSerial(year, month, day, h, m, s);
          if (serial && zoned) keep(zone);
          return serial;
        }
      }
    }
  }
  // Month names cannot be read two ways: the platform's parser reads them.
  bool month_name = false;
  for (std::size_t k = 0; k + 2 < text.size(); ++k)
    if (std::isalpha(static_cast<unsigned char>(text[k])) &&
        std::isalpha(static_cast<unsigned char>(text[k + 1])) &&
        std::isalpha(static_cast<unsigned char>(text[k + 2])))
      month_name = true;
  if (!letters || !month_name) return std::nullopt;
  try {
    return CDate(Variant(FromUtf8(text))).serial;
  } catch (const RuntimeError&) {
    return std::nullopt;
  }
}

}  // namespace tarn::hl7
