// Function calls. A function name is one word; its arguments are the words
// that follow it, read by the function's own argument reader, which decides
// how many words it consumes. Each function pushes one temporary field with
// its result. An argument error is reported once by the reader, and the
// function still runs with what was read.
#include "host/host_calls.h"
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {
constexpr std::u16string_view kWrongArguments =
    u"Wrong number of arguments or invalid property assignment"sv;

void DropLast(std::u16string& w, char16_t c) {
  if (!w.empty() && w.back() == c) w.pop_back();
}
}  // namespace

bool InterpreterCore::PerformFunction(const std::u16string& strFunction, std::int16_t intInstance) {
  return Guarded(u"PerformFunction"sv, false, [&] {
    // The name in capitals, compared without building the capitals.
    const std::u16string_view name = TrimSpaces(strFunction);
    auto is = [&](std::u16string_view upper) { return EqualsIgnoreCase(name, upper); };
    if (is(u"IF"sv)) return PerformIf(intInstance);
    if (is(u"FORMAT"sv)) return PerformFormat(intInstance);
    if (is(u"FORMATHL7DATETIME"sv)) return PerformFormatHL7DateTime(intInstance);
    if (is(u"REPLACE"sv)) return PerformReplace(intInstance);
    // IsFunction accepts any part of the list ("FORM", "DATE").
    RaiseOwn(code::kInvalidProcedureCall, u"PerformFunction"sv);
  });
}

void InterpreterCore::PushResult(Variant&& value, std::int16_t intInstance) {
  if (PushValueField(value, intInstance)) return;
  std::u16string name = CreateDataFieldFromVariant(std::move(value));
  HoldName(name, intInstance);
  StackOf(intInstance).Push(FetchNewField(name));
}

// Format -> FORMAT field "," format | FORMAT "(" field "," format ")"
bool InterpreterCore::PerformFormat(std::int16_t intInstance) {
  return Guarded(u"PerformFormat"sv, false, [&] {
    ObjectRef objDataField = NewDataField();  // placeholder
    std::u16string strFormat;
    GetFormatArguments(intInstance, objDataField, strFormat);
    PushResult(Variant(Format(FieldData(objDataField), strFormat, 1, 1)), intInstance);
    return true;
  });
}

bool InterpreterCore::GetFormatArguments(std::int16_t intInstance, ObjectRef& objDataField,
                                         std::u16string& strFormat) {
  return Guarded(u"GetFormatArguments"sv, false, [&] {
    std::u16string word;
    GetNextWordInto(intInstance, word);
    DropLast(word, u',');
    if (word == u"("sv) GetNextWordInto(intInstance, word);  // taken as it comes
    if (OwnFields()) {
      // Our own collection answers both questions with one lookup.
      ObjectRef found;
      if (!FindDataField(word, found))
        Raise(err::kWrongArguments, {}, std::u16string(kWrongArguments));
      objDataField = std::move(found);
    } else {
      if (!IsDataField(word)) Raise(err::kWrongArguments, {}, std::u16string(kWrongArguments));
      objDataField = FieldsMColItem(mobjDataFields, word);
    }

    GetNextWordInto(intInstance, word);
    if (word == u","sv) GetNextWordInto(intInstance, word);
    strFormat = IsDataField(word) ? CStr(FieldData(FieldsItem(mobjDataFields, word))) : word;
    DropLast(strFormat, u')');
    strFormat = RemoveStringDelimiters(strFormat);
    return true;
  });
}

// Replace -> REPLACE field "," find "," replacement ["," start ["," count ["," compare]]]
bool InterpreterCore::PerformReplace(std::int16_t intInstance) {
  return Guarded(u"PerformReplace"sv, false, [&] {
    ObjectRef objDataField = NewDataField();  // placeholder
    std::u16string strFind, strReplace;
    std::int32_t lngStart = 1, lngCount = -1, lngCompare = -1;
    GetReplaceArguments(intInstance, objDataField, strFind, strReplace, lngStart, lngCount,
                        lngCompare);
    const std::u16string text = CStr(FieldData(objDataField));
    PushResult(Variant(Replace(text, strFind, strReplace, lngStart, lngCount, lngCompare)),
               intInstance);
    return true;
  });
}

bool InterpreterCore::GetReplaceArguments(std::int16_t intInstance, ObjectRef& objDataField,
                                          std::u16string& strFind, std::u16string& strReplace,
                                          std::int32_t& lngStart, std::int32_t& lngCount,
                                          std::int32_t& lngCompare) {
  lngStart = 1;
  lngCount = -1;
  lngCompare = -1;
  return Guarded(u"GetReplaceArguments"sv, false, [&] {
    std::u16string word;
    GetNextWordInto(intInstance, word);
    DropLast(word, u',');
    if (word == u"("sv) GetNextWordInto(intInstance, word);
    if (!IsDataField(word)) Raise(err::kWrongArguments, {}, std::u16string(kWrongArguments));
    objDataField = FieldsMColItem(mobjDataFields, word);

    // A text argument: a field's Data as text, or the word as written.
    auto read_text = [&] {
      std::u16string w;
      GetNextWordInto(intInstance, w);
      if (w == u","sv) GetNextWordInto(intInstance, w);
      return IsDataField(w) ? CStr(FieldData(FieldsItem(mobjDataFields, w))) : w;
    };
    strFind = RemoveStringDelimiters(read_text());
    std::u16string replacement = read_text();
    DropLast(replacement, u')');
    strReplace = RemoveStringDelimiters(replacement);

    // A number argument; "<EOL>" or an empty word ends the reading. A
    // trailing comma stays: the number parser reads it as a separator.
    auto read_number = [&](std::int32_t& out) {
      std::u16string w;
      GetNextWordInto(intInstance, w);
      if (w == u","sv) GetNextWordInto(intInstance, w);
      DropLast(w, u')');
      if (w == u"<EOL>"sv || w.empty()) return false;
      Variant v = IsDataField(w) ? FieldData(FieldsItem(mobjDataFields, w)) : Variant(w);
      if (!IsNumeric(v)) Raise(err::kWrongArguments, {}, std::u16string(kWrongArguments));
      out = CLng(v);
      return true;
    };
    if (read_number(lngStart) && read_number(lngCount)) read_number(lngCompare);
    return true;
  });
}

}  // namespace tarn::detail
