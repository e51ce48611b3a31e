// The token lists and the classifiers. The lists are plain texts that are
// searched as a whole, so a test accepts any part of its list: "Form" is a
// function word and "= ==" an operator.
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "support/text_tools.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

bool InterpreterCore::AddFunction(std::u16string_view list) {
  try {
    function_list_ += u", "sv;
    function_list_ += ProperCase(list);
    function_list_upper_ = UpperCase(function_list_);
    for (FunctionAnswer& a : function_answers_) a.answer = -1;
    return true;
  } catch (...) {
    return false;
  }
}

namespace {
// Appends a part to a token list and marks the list's characters (spaces
// too when `with_space`) in `chars`.
bool AppendToList(std::u16string& list, std::u16string_view part, bool (&chars)[128],
                  bool with_space) noexcept {
  try {
    list += u", "sv;
    list += part;
  } catch (...) {
    return false;
  }
  for (char16_t c : list)
    if (c < 128 && (with_space || c != u' ')) chars[c] = true;
  return true;
}
}  // namespace

bool InterpreterCore::AddOperator(std::u16string_view list) {
  if (!AppendToList(operator_list_, list, operator_chars_, false)) return false;
  UpdateSpecialChars();
  return true;
}

bool InterpreterCore::AddDelimiter(std::u16string_view list) {
  if (!AppendToList(delimiter_list_, list, delimiter_chars_, true)) return false;
  UpdateSpecialChars();
  return true;
}

void InterpreterCore::UpdateSpecialChars() noexcept {
  for (int c = 0; c < 128; ++c)
    special_chars_[c] = c == kEndOfText || c == u'\r' || c == u'\n' || c == u'(' || c == u',' ||
                        c == u')' || c == u'"' || c == u'#' ||
                        IsDelimiterChar(static_cast<char16_t>(c)) || IsOperatorChar(c);
}

bool InterpreterCore::IsFunction(std::u16string_view word) {
  return Guarded(u"IsFunction"sv, false, [&] {
    std::u16string_view w = TrimSpaces(word);
    if (w.empty()) return false;
    // The same words come on every call: the last answer is kept.
    for (const FunctionAnswer& a : function_answers_)
      if (a.answer >= 0 && SameText(w, a.word)) return a.answer == 1;
    upper_word_.assign(w);  // the buffer is kept: asked for every operand word
    for (char16_t& c : upper_word_) c = UpperChar(c);
    const bool found = function_list_upper_.find(upper_word_) != std::u16string::npos;
    FunctionAnswer& kept = function_answers_[function_next_++ % function_answers_.size()];
    kept.answer = -1;
    kept.word.assign(w);
    kept.answer = found ? 1 : 0;
    return found;
  });
}

bool InterpreterCore::IsDelimiter(std::u16string_view text) {
  return Guarded(u"IsDelimiter"sv, false,
                 [&] { return delimiter_list_.find(TrimSpaces(text)) != std::u16string::npos; });
}

bool InterpreterCore::IsOperator(std::u16string_view word) {
  return Guarded(u"IsOperator"sv, false, [&] {
    std::u16string_view w = TrimSpaces(word);
    if (w.size() == 1) return w[0] < 128 && operator_chars_[w[0]];
    // A part of the list has only the list's characters.
    for (char16_t c : w)
      if (c < 128 && c != u' ' && !operator_chars_[c]) return false;
    return !w.empty() && operator_list_.find(w) != std::u16string::npos;
  });
}

}  // namespace tarn::detail

namespace tarn {

WordKind ClassifyWord(std::u16string_view word) {
  using detail::EqualsIgnoreCase;
  // True and False are words that the functions' arguments read.
  static constexpr std::u16string_view kKeywords[] = {u"IF",  u"THEN",  u"ELSEIF", u"ELSE",
                                                      u"END", u"ENDIF", u"True",   u"False"};
  for (std::u16string_view k : kKeywords)
    if (EqualsIgnoreCase(word, k)) return WordKind::Keyword;
  for (std::u16string_view f : detail::kFunctionNames)
    if (EqualsIgnoreCase(word, f)) return WordKind::Function;
  return WordKind::Name;
}

}  // namespace tarn
