// Function calls. A function name is one word; its arguments are the words
// that follow it, read by the function's own argument reader, which decides
// how many words it consumes. Each function pushes one temporary field with
// its result. An argument error is reported once by the reader, and the
// function still runs with what was read.
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;
using namespace std::string_literals;

namespace {
constexpr std::u16string_view kWrongArguments =
    u"Wrong number of arguments or invalid property assignment"sv;

void DropLast(std::u16string& w, char16_t c) {
  if (!w.empty() && w.back() == c) w.pop_back();
}

std::u16string WithoutQuotes(std::u16string_view text) {
  std::u16string_view t = TrimSpaces(text);
  if (!t.empty() && t.front() == u'"') {
    t.remove_prefix(1);
    if (!t.empty() && t.back() == u'"') t.remove_suffix(1);
  }
  return std::u16string(t);
}
}  // namespace

std::u16string InterpreterCore::TextArgument(std::u16string& word) {
  ObjectRef field;
  if (!host_->FindDataField(word, field, false)) return word;
  Variant store;
  return CStr(host_->Data(field, store));
}

Variant InterpreterCore::ValueArgument(std::u16string& word) {
  ObjectRef field;
  if (!host_->FindDataField(word, field, false)) return Variant(word);
  Variant store;
  return host_->Data(field, store);
}

void InterpreterCore::CheckArgumentComma(std::u16string_view procedure, std::u16string_view word) {
  if (word.size() < 2 || word.back() != u',') return;
  const std::u16string w(word);
  ReportStrict(procedure, u"the argument " + w +
                              u" keeps the comma written against it, so the "
                              u"comma becomes part of its value; write a space before the comma"s);
}

bool InterpreterCore::PerformFunction(std::u16string_view function, Frame& f) {
  return Guarded(u"PerformFunction"sv, false, [&] {
    // The name in capitals, compared without building the capitals.
    const std::u16string_view name = TrimSpaces(function);
    auto is = [&](std::u16string_view upper) { return EqualsIgnoreCase(name, upper); };
    if (is(u"IF"sv)) return PerformIf(f);
    if (is(u"FORMAT"sv)) return PerformFormat(f);
    if (is(u"FORMATHL7DATETIME"sv)) return PerformFormatHL7DateTime(f);
    if (is(u"REPLACE"sv)) return PerformReplace(f);
    // IsFunction accepts any part of the list ("FORM", "DATE").
    RaiseOwn(code::kInvalidProcedureCall, u"PerformFunction"sv);
  });
}

// Format -> FORMAT field "," format | FORMAT "(" field "," format ")"
bool InterpreterCore::PerformFormat(Frame& f) {
  return Guarded(u"PerformFormat"sv, false, [&] {
    ObjectRef field = host_->NewField();  // placeholder
    std::u16string format;
    GetFormatArguments(f, field, format);
    Variant store;
    const Variant& data = host_->Data(field, store);
    std::u16string text = Format(data, format, 1, 1);
    // A format may ask for an exponent; one that does not only falls back to it.
    if (strict_ && text.find(u'E') != std::u16string::npos &&
        format.find_first_of(u"Ee") == std::u16string::npos) [[unlikely]]
      CheckExponent(u"PerformFormat"sv, data);
    PushResult(f, Variant(std::move(text)));
    return true;
  });
}

bool InterpreterCore::GetFormatArguments(Frame& f, ObjectRef& field, std::u16string& format) {
  return Guarded(u"GetFormatArguments"sv, false, [&] {
    std::u16string word;
    GetNextWord(f, word);
    DropLast(word, u',');
    if (word == u"("sv) GetNextWord(f, word);  // taken as it comes
    if (!host_->FindDataField(word, field, /*through_mcol=*/true))
      Raise(err::kWrongArguments, {}, std::u16string(kWrongArguments));

    GetNextWord(f, word);
    if (word == u","sv) GetNextWord(f, word);
    if (strict_) [[unlikely]] {
      if (word == u"<EOL>"sv)
        ReportStrict(u"GetFormatArguments"sv,
                     u"Format has no format argument: the end of the text was read in its place"sv);
      CheckArgumentComma(u"GetFormatArguments"sv, word);
    }
    format = TextArgument(word);
    DropLast(format, u')');
    format = WithoutQuotes(format);
    return true;
  });
}

// Replace -> REPLACE field "," find "," replacement ["," start ["," count ["," compare]]]
bool InterpreterCore::PerformReplace(Frame& f) {
  return Guarded(u"PerformReplace"sv, false, [&] {
    ObjectRef field = host_->NewField();  // placeholder
    std::u16string find, replacement_text;
    std::int32_t start = 1, count = -1, compare = -1;
    GetReplaceArguments(f, field, find, replacement_text, start, count, compare);
    Variant store;
    if (strict_) [[unlikely]]
      CheckExponent(u"PerformReplace"sv, host_->Data(field, store));
    const std::u16string text = CStr(host_->Data(field, store));
    PushResult(f, Variant(Replace(text, find, replacement_text, start, count, compare)));
    return true;
  });
}

bool InterpreterCore::GetReplaceArguments(Frame& f, ObjectRef& field, std::u16string& find,
                                          std::u16string& replacement_text, std::int32_t& start,
                                          std::int32_t& count, std::int32_t& compare) {
  start = 1;
  count = -1;
  compare = -1;
  return Guarded(u"GetReplaceArguments"sv, false, [&] {
    std::u16string word;
    GetNextWord(f, word);
    DropLast(word, u',');
    if (word == u"("sv) GetNextWord(f, word);
    if (!host_->FindDataField(word, field, /*through_mcol=*/true))
      Raise(err::kWrongArguments, {}, std::u16string(kWrongArguments));

    // A text argument: a field's Data as text, or the word as written.
    bool ran_out = false;
    auto read_text = [&] {
      std::u16string w;
      GetNextWord(f, w);
      if (w == u","sv) GetNextWord(f, w);
      if (w == u"<EOL>"sv) ran_out = true;
      if (strict_) [[unlikely]]
        CheckArgumentComma(u"GetReplaceArguments"sv, w);
      return TextArgument(w);
    };
    find = WithoutQuotes(read_text());
    std::u16string replacement = read_text();
    if (strict_ && ran_out) [[unlikely]]
      ReportStrict(u"GetReplaceArguments"sv,
                   u"Replace needs a text to find and its replacement: the end of the text was "
                   u"read in their place"sv);
    DropLast(replacement, u')');
    replacement_text = WithoutQuotes(replacement);

    // A number argument; "<EOL>" or an empty word ends the reading. A
    // trailing comma stays: the number parser reads it as a separator.
    auto read_number = [&](std::int32_t& out) {
      std::u16string w;
      GetNextWord(f, w);
      if (w == u","sv) GetNextWord(f, w);
      DropLast(w, u')');
      if (w == u"<EOL>"sv || w.empty()) return false;
      Variant v = ValueArgument(w);
      if (!IsNumeric(v)) Raise(err::kWrongArguments, {}, std::u16string(kWrongArguments));
      out = CLng(v);
      return true;
    };
    if (read_number(start) && read_number(count)) read_number(compare);
    return true;
  });
}

}  // namespace tarn::detail
