// FormatHL7DateTime turns a date, and optionally a time and a zone offset,
// into the HL7 forms "yyyymmdd", "yyyymmddHHNNSS" and "yyyymmddHHNNSS+ZZZZ".
// Its arguments are the words after the name; parentheses are no part of
// its syntax.
#include "interpreter/interpreter_core.h"
#include "platform/date.h"
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

std::u16string GetTimeText(const std::u16string& date_time) {
  return Format(Variant(date_time), u"Hh:Nn:Ss"sv);
}
}  // namespace

// The formatted text; writes "/" into an empty separator. Errors go to the
// caller.
std::u16string GetHL7DateTime(std::u16string date, std::u16string time, std::u16string& separator,
                              bool& include_time, bool& include_time_zone,
                              std::u16string& time_zone) {
  if (separator.empty()) separator = u"/"sv;
  if (time == u"0"sv) {
    if (date.find(u':') != std::u16string::npos)
      time = GetTimeText(date);
    else
      time.assign(u"00:00:00"sv);
  }
  if (separator != u"/"sv) {
    // Only the first character of each occurrence becomes "/".
    for (std::size_t at = date.find(separator); at != std::u16string::npos;
         at = date.find(separator, at + 1))
      date[at] = u'/';
  }
  const Variant date_text(date);
  if (!IsDate(date_text)) {
    if (!include_time) return std::u16string(u"00000000"sv);
    return std::u16string(include_time_zone ? u"00000000000000-0000"sv : u"00000000000000"sv);
  }
  const double serial = CDate(date_text).serial;
  std::u16string result = Format(Date{DateOnly(serial)}, u"yyyymmdd"sv);
  if (!include_time) return result;
  Date time_of_day{0};
  if (time.empty())
    time_of_day = Date{TimeOnly(serial)};
  else if (IsDate(Variant(time)))
    time_of_day = CDate(Variant(time));
  result += Format(time_of_day, u"HhNnSs"sv);
  if (!include_time_zone) return result;
  std::u16string zone = Format(Variant(time_zone), u"+0000; -0000"sv);
  if (!zone.empty() && zone.front() == u' ') zone.erase(0, 1);
  return result + zone;
}

bool InterpreterCore::PerformFormatHL7DateTime(Frame& f) {
  return Guarded(u"PerformFormatHL7DateTime"sv, false, [&] {
    std::u16string date, time, separator, time_zone;
    bool include_time = false, include_time_zone = false;
    PerformGetHL7DateTimeFormatArguments(f, date, time, separator, include_time, include_time_zone,
                                         time_zone);
    PushResult(f, Variant(GetHL7DateTime(date, time, separator, include_time, include_time_zone,
                                         time_zone)));
    return true;
  });
}

// Args -> date ["," time ["," separator ["," with_time ["," with_zone ["," offset]]]]]
bool InterpreterCore::PerformGetHL7DateTimeFormatArguments(
    Frame& f, std::u16string& date, std::u16string& time, std::u16string& separator,
    bool& include_time, bool& include_time_zone, std::u16string& time_zone) {
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
    time_zone = CStr(zone);
    return true;
  });
}

}  // namespace tarn::detail
