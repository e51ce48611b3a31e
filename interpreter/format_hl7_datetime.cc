// FormatHL7DateTime turns a date, and optionally a time and a zone offset,
// into the HL7 forms "yyyymmdd", "yyyymmddHHNNSS" and "yyyymmddHHNNSS+ZZZZ".
// Its arguments are the words after the name; parentheses are no part of
// its syntax.
#include "host/host_calls.h"
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

std::u16string GetTimeText(const std::u16string& strDateTime) {
  return Format(Variant(strDateTime), u"Hh:Nn:Ss"sv);
}
}  // namespace

// The formatted text; writes "/" into an empty separator. Errors go to the
// caller.
std::u16string GetHL7DateTime(std::u16string strDate, std::u16string strTime,
                              std::u16string& strSeparator, bool& blnIncludeTime,
                              bool& blnIncludeTimeZone, std::u16string& strTimeZone) {
  if (strSeparator.empty()) strSeparator = u"/"sv;
  if (strTime == u"0"sv) {
    if (strDate.find(u':') != std::u16string::npos)
      strTime = GetTimeText(strDate);
    else
      strTime.assign(u"00:00:00"sv);
  }
  if (strSeparator != u"/"sv) {
    // Only the first character of each occurrence becomes "/".
    for (std::size_t at = strDate.find(strSeparator); at != std::u16string::npos;
         at = strDate.find(strSeparator, at + 1))
      strDate[at] = u'/';
  }
  const Variant date_text(strDate);
  if (!IsDate(date_text)) {
    if (!blnIncludeTime) return std::u16string(u"00000000"sv);
    return std::u16string(blnIncludeTimeZone ? u"00000000000000-0000"sv : u"00000000000000"sv);
  }
  const double serial = CDate(date_text).serial;
  std::u16string result = Format(Date{DateOnly(serial)}, u"yyyymmdd"sv);
  if (!blnIncludeTime) return result;
  Date time{0};
  if (strTime.empty())
    time = Date{TimeOnly(serial)};
  else if (IsDate(Variant(strTime)))
    time = CDate(Variant(strTime));
  result += Format(time, u"HhNnSs"sv);
  if (!blnIncludeTimeZone) return result;
  std::u16string zone = Format(Variant(strTimeZone), u"+0000; -0000"sv);
  if (!zone.empty() && zone.front() == u' ') zone.erase(0, 1);
  return result + zone;
}

bool InterpreterCore::PerformFormatHL7DateTime(std::int16_t intInstance) {
  return Guarded(u"PerformFormatHL7DateTime"sv, false, [&] {
    std::u16string strDate, strTime, strSeparator, strTimeZone;
    bool blnIncludeTime = false, blnIncludeTimeZone = false;
    PerformGetHL7DateTimeFormatArguments(intInstance, strDate, strTime, strSeparator,
                                         blnIncludeTime, blnIncludeTimeZone, strTimeZone);
    PushResult(Variant(GetHL7DateTime(strDate, strTime, strSeparator, blnIncludeTime,
                                      blnIncludeTimeZone, strTimeZone)),
               intInstance);
    return true;
  });
}

// Args -> date ["," time ["," separator ["," with_time ["," with_zone ["," offset]]]]]
bool InterpreterCore::PerformGetHL7DateTimeFormatArguments(
    std::int16_t intInstance, std::u16string& strDate, std::u16string& strTime,
    std::u16string& strSeparator, bool& blnIncludeTime, bool& blnIncludeTimeZone,
    std::u16string& strTimeZone) {
  return Guarded(u"PerformGetHL7DateTimeFormatArguments"sv, false, [&] {
    auto next = [&] {  // the first five arguments lose one trailing comma
      std::u16string w;
      GetNextWordInto(intInstance, w);
      if (!w.empty() && w.back() == u',') w.pop_back();
      return w;
    };

    std::u16string w = next();
    if (IsDataField(w)) {
      const Variant data = FieldData(FieldsMColItem(mobjDataFields, w));
      if (!IsDate(data)) Raise(err::kArgumentNotOptional);
      strDate = CStr(data);
    } else {
      if (!IsDate(Variant(w))) Raise(err::kArgumentNotOptional);
      strDate = w;
    }

    w = next();
    if (w == u"<EOL>"sv) return true;
    if (IsDataField(w)) {
      const Variant data = FieldData(FieldsItem(mobjDataFields, w));
      if (IsDate(data)) strTime = CStr(data);
    } else {
      if (w != u"0"sv && !IsDate(Variant(w))) RaiseWrongArguments();
      strTime = w;
    }

    w = next();
    if (w == u"<EOL>"sv) return true;
    if (!w.empty()) {
      if (IsDataField(w)) {
        const ObjectRef field = FieldsItem(mobjDataFields, w);
        if (FieldDataType(field) == u"String"sv) strSeparator = CStr(FieldData(field));
      } else {
        strSeparator = w;
      }
    }

    auto read_flag = [&](bool& flag) {  // false ends the reading
      std::u16string f = next();
      if (f == u"<EOL>"sv) return false;
      if (f.empty()) return true;
      if (IsDataField(f)) {
        const ObjectRef field = FieldsItem(mobjDataFields, f);
        if (FieldDataType(field) == u"Boolean"sv) flag = CBool(FieldData(field));
      } else if (f == u"True"sv || f == u"False"sv) {
        flag = f == u"True"sv;
      } else {
        RaiseWrongArguments();
      }
      return true;
    };
    if (!read_flag(blnIncludeTime) || !read_flag(blnIncludeTimeZone)) return true;

    GetNextWordInto(intInstance, w);
    if (IsOperator(w)) w += GetNextWord(intInstance);  // "-" and "500" make "-500"
    if (w == u"<EOL>"sv) return true;
    const Variant zone = IsDataField(w) ? FieldData(FieldsItem(mobjDataFields, w)) : Variant(w);
    if (!IsNumeric(zone)) RaiseWrongArguments();
    strTimeZone = CStr(zone);
    return true;
  });
}

}  // namespace tarn::detail
