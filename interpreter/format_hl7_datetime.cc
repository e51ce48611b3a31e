// FormatHL7DateTime turns a date, and optionally a time and a zone offset,
// into the HL7 forms "yyyymmdd", "yyyymmddHHNNSS" and "yyyymmddHHNNSS+ZZZZ".
// Its arguments are the words after the name; parentheses are no part of
// its syntax.
#include <algorithm>
#include <cmath>

#include "interpreter/interpreter_core.h"
#include "platform/date.h"
#include "platform/format.h"
#include "platform/text.h"
#include "tarn/convert.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {
constexpr std::u16string_view kWrongArguments =
    u"Wrong number of arguments or invalid property assignment."sv;

[[noreturn]] void RaiseWrongArguments() {
  Raise(err::kWrongArguments, {}, std::u16string(kWrongArguments));
}

// An offset "hhmm" as the zone of an HL7 time: a whole number of hours and
// minutes, not a Boolean or an empty value.
bool IsZoneOffset(const Variant& zone) {
  if (zone.kind() == Kind::Boolean || zone.is_empty()) return false;
  const double v = CDbl(zone);
  if (!(v >= -1400 && v <= 1400) || v != std::trunc(v)) return false;
  const std::int32_t minutes = static_cast<std::int32_t>(v < 0 ? -v : v) % 100;
  return minutes < 60;
}

// "+hhmm" or "-hhmm" after the time.
void AppendZone(std::u16string& out, const std::u16string& time_zone) {
  // The usual offset, a whole number of up to four digits, is what the
  // format writes of it: its sign (plus for zero) and four digits.
  const bool negative = !time_zone.empty() && time_zone.front() == u'-';
  const std::u16string_view digits = std::u16string_view(time_zone).substr(negative ? 1 : 0);
  if (!digits.empty() && digits.size() <= 4 &&
      std::all_of(digits.begin(), digits.end(),
                  [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
    int value = 0;
    for (const char16_t c : digits) value = value * 10 + (c - u'0');
    if (!(negative && value == 0)) {
      out += negative ? u'-' : u'+';
      AppendNumber(out, value, 4);
      return;
    }
  }
  std::u16string zone = Format(Variant(time_zone), u"+0000; -0000"sv);
  if (!zone.empty() && zone.front() == u' ') zone.erase(0, 1);
  out += zone;
}

// The HL7 form of a date field's value whose time comes from the date. Its
// text (CStr) names the second the value rounds to and reads back as exactly
// those parts, which "yyyymmdd" and "HhNnSs" write: so they are written
// from the parts without the text.
std::u16string HL7DateTimeOfParts(const DateParts& p, bool include_time, bool include_time_zone,
                                  const std::u16string& time_zone) {
  std::u16string out;
  AppendNumber(out, p.year, 1);
  AppendNumber(out, p.month, 2);
  AppendNumber(out, p.day, 2);
  if (!include_time) return out;
  AppendNumber(out, p.hour, 2);
  AppendNumber(out, p.minute, 2);
  AppendNumber(out, p.second, 2);
  if (include_time_zone) AppendZone(out, time_zone);
  return out;
}
}  // namespace

// The formatted text; writes "/" into an empty separator. Errors go to the
// caller.
std::u16string GetHL7DateTime(std::u16string date, std::u16string time, std::u16string& separator,
                              bool& include_time, bool& include_time_zone,
                              std::u16string& time_zone) {
  if (separator.empty()) separator = u"/"sv;
  // The date as written is parsed once: the time may come from it, and with
  // the usual separator it is the date too.
  const std::optional<double> as_written = ParseDateText(date);
  if (time == u"0"sv) {
    // As Format writes the text's time: a text that is no date stays as it is.
    if (date.find(u':') == std::u16string::npos)
      time.assign(u"00:00:00"sv);
    else
      time = as_written ? Format(Date{*as_written}, u"Hh:Nn:Ss"sv) : date;
  }
  std::optional<double> serial = as_written;
  if (separator != u"/"sv) {
    // Only the first character of each occurrence becomes "/".
    for (std::size_t at = date.find(separator); at != std::u16string::npos;
         at = date.find(separator, at + 1))
      date[at] = u'/';
    serial = ParseDateText(date);
  }
  if (!serial) {
    if (!include_time) return std::u16string(u"00000000"sv);
    return std::u16string(include_time_zone ? u"00000000000000-0000"sv : u"00000000000000"sv);
  }
  std::u16string result = Format(Date{DateOnly(*serial)}, u"yyyymmdd"sv);
  if (!include_time) return result;
  Date time_of_day{0};
  if (time.empty())
    time_of_day = Date{TimeOnly(*serial)};
  else if (const std::optional<double> t = ParseDateText(time))
    time_of_day = Date{*t};
  result += Format(time_of_day, u"HhNnSs"sv);
  if (include_time_zone) AppendZone(result, time_zone);
  return result;
}

bool InterpreterCore::PerformFormatHL7DateTime(Frame& f) {
  return Guarded(u"PerformFormatHL7DateTime"sv, false, [&] {
    std::u16string date, time, separator, time_zone;
    std::optional<double> date_value;
    bool include_time = false, include_time_zone = false;
    PerformGetHL7DateTimeFormatArguments(f, date, date_value, time, separator, include_time,
                                         include_time_zone, time_zone);
    if (date_value && time == u"0"sv && (separator.empty() || separator == u"/"sv)) {
      PushResult(f, Variant(HL7DateTimeOfParts(SplitSerial(*date_value), include_time,
                                               include_time_zone, time_zone)));
      return true;
    }
    if (date_value) date = CStr(Variant(Date{*date_value}));
    PushResult(f, Variant(GetHL7DateTime(date, time, separator, include_time, include_time_zone,
                                         time_zone)));
    return true;
  });
}

// Args -> date ["," time ["," separator ["," with_time ["," with_zone ["," offset]]]]]
bool InterpreterCore::PerformGetHL7DateTimeFormatArguments(
    Frame& f, std::u16string& date, std::optional<double>& date_value, std::u16string& time,
    std::u16string& separator, bool& include_time, bool& include_time_zone,
    std::u16string& time_zone) {
  return Guarded(u"PerformGetHL7DateTimeFormatArguments"sv, false, [&] {
    auto next = [&] {  // the first five arguments lose one trailing comma
      std::u16string w;
      GetNextWord(f, w);
      if (!w.empty() && w.back() == u',') w.pop_back();
      return w;
    };
    HostAccess& host = *host_;
    ObjectRef field;
    Variant store;
    std::u16string type_store;

    std::u16string w = next();
    if (host.FindDataField(w, field, /*through_mcol=*/true)) {
      const Variant& data = host.Data(field, store);
      if (!IsDate(data)) Raise(err::kArgumentNotOptional);
      if (data.kind() == Kind::Date && data.date().serial >= kMinDateSerial &&
          data.date().serial <= kMaxDateSerial)
        date_value = data.date().serial;
      else
        date = CStr(data);
    } else {
      if (!IsDate(Variant(w))) Raise(err::kArgumentNotOptional);
      date = w;
    }

    w = next();
    if (w == u"<EOL>"sv) return true;
    if (host.FindDataField(w, field, false)) {
      const Variant& data = host.Data(field, store);
      if (IsDate(data)) time = CStr(data);
    } else {
      if (w != u"0"sv && !IsDate(Variant(w))) RaiseWrongArguments();
      time = w;
    }

    w = next();
    if (w == u"<EOL>"sv) return true;
    if (!w.empty()) {
      if (host.FindDataField(w, field, false)) {
        if (host.DataType(field, type_store) == u"String"sv)
          separator = CStr(host.Data(field, store));
      } else {
        separator = w;
      }
    }

    auto read_flag = [&](bool& flag) {  // false ends the reading
      std::u16string word = next();
      if (word == u"<EOL>"sv) return false;
      if (word.empty()) return true;
      if (host.FindDataField(word, field, false)) {
        if (host.DataType(field, type_store) == u"Boolean"sv) flag = CBool(host.Data(field, store));
      } else if (word == u"True"sv || word == u"False"sv) {
        flag = word == u"True"sv;
      } else {
        RaiseWrongArguments();
      }
      return true;
    };
    if (!read_flag(include_time) || !read_flag(include_time_zone)) return true;

    GetNextWord(f, w);
    if (IsOperator(w)) {  // "-" and "500" make "-500"
      std::u16string more;
      GetNextWord(f, more);
      w += more;
    }
    if (w == u"<EOL>"sv) return true;
    const Variant zone = ValueArgument(w);
    if (!IsNumeric(zone)) RaiseWrongArguments();
    if (strict_ && !IsZoneOffset(zone)) [[unlikely]]
      ReportStrict(u"PerformGetHL7DateTimeFormatArguments"sv,
                   u"the time zone '" + CStr(zone) +
                       u"' is no offset of hours and minutes (hhmm) within -1400 to +1400");
    time_zone = CStr(zone);
    return true;
  });
}

}  // namespace tarn::detail
