// The token lists and the classifiers. The lists are plain texts that are
// searched as a whole, so a test accepts any part of its list: "Form" is a
// function word and "= ==" an operator.
#include <optional>

#include "host/host_calls.h"
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "support/text_tools.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

bool InterpreterCore::AddFunction(std::u16string_view strList) {
  try {
    mstrFunctionList += u", "sv;
    mstrFunctionList += ProperCase(strList);
    mstrFunctionListUpper = UpperCase(mstrFunctionList);
    function_answer_ = -1;
    return true;
  } catch (...) {
    return false;
  }
}

bool InterpreterCore::AddOperator(std::u16string_view strList) {
  try {
    mstrOperatorList += u", "sv;
    mstrOperatorList += strList;
    for (char16_t c : mstrOperatorList)
      if (c < 128 && c != u' ') operator_chars_[c] = true;
    UpdateSpecialChars();
    return true;
  } catch (...) {
    return false;
  }
}

bool InterpreterCore::AddDelimiter(std::u16string_view strList) {
  try {
    mstrDelimiterList += u", "sv;
    mstrDelimiterList += strList;
    for (char16_t c : mstrDelimiterList)
      if (c < 128) delimiter_chars_[c] = true;
    UpdateSpecialChars();
    return true;
  } catch (...) {
    return false;
  }
}

void InterpreterCore::UpdateSpecialChars() noexcept {
  for (int c = 0; c < 128; ++c)
    special_chars_[c] = c == kEndOfText || c == u'\r' || c == u'\n' || c == u'(' || c == u',' ||
                        c == u')' || c == u'"' || c == u'#' ||
                        IsDelimiterChar(static_cast<char16_t>(c)) || IsOperatorChar(c);
}

bool InterpreterCore::IsFunction(std::u16string_view strWord) {
  return Guarded(u"IsFunction"sv, false, [&] {
    std::u16string_view w = TrimSpaces(strWord);
    if (w.empty()) return false;
    // The same words come on every call: the last answer is kept.
    if (function_answer_ >= 0 && SameText(w, function_word_)) return function_answer_ == 1;
    upper_word_.assign(w);  // the buffer is kept: asked for every operand word
    for (char16_t& c : upper_word_) c = UpperChar(c);
    const bool found = mstrFunctionListUpper.find(upper_word_) != std::u16string::npos;
    function_answer_ = -1;
    function_word_.assign(w);
    function_answer_ = found ? 1 : 0;
    return found;
  });
}

bool InterpreterCore::IsDelimiter(std::u16string_view strChar) {
  return Guarded(u"IsDelimiter"sv, false, [&] {
    return mstrDelimiterList.find(TrimSpaces(strChar)) != std::u16string::npos;
  });
}

bool InterpreterCore::IsOperator(std::u16string_view strWord) {
  return Guarded(u"IsOperator"sv, false, [&] {
    std::u16string_view w = TrimSpaces(strWord);
    if (w.size() == 1) return w[0] < 128 && operator_chars_[w[0]];
    // A part of the list has only the list's characters.
    for (char16_t c : w)
      if (c < 128 && c != u' ' && !operator_chars_[c]) return false;
    return !w.empty() && mstrOperatorList.find(w) != std::u16string::npos;
  });
}

namespace {
// Our own collection ignores case, so for a name in ASCII the proper-case
// form finds what the name itself (without its spaces) finds: the name to
// look up directly, or nothing when the proper case has to be made.
std::optional<std::u16string_view> DirectName(const DataFields* own,
                                              std::u16string_view strName) noexcept {
  if (!own) return std::nullopt;
  const std::u16string_view name = TrimSpaces(strName);
  for (char16_t c : name)
    if (c >= 0x80) return std::nullopt;
  return name;
}
}  // namespace

bool InterpreterCore::IsDataField(std::u16string_view strName) noexcept {
  try {
    if (const auto name = DirectName(OwnFields(), strName)) return OwnFields()->Exists(*name);
    thread_local std::u16string name;  // reused: asked for every word
    ProperCaseInto(strName, name);
    return FieldsExists(mobjDataFields, name);
  } catch (...) {
    return false;  // any failure of the host's collection counts as "no such field"
  }
}

bool InterpreterCore::FindDataField(std::u16string& strName, ObjectRef& found) {
  // One lookup answers both questions when the name is looked up directly.
  if (const auto name = DirectName(OwnFields(), strName)) {
    found = OwnFields()->Find(*name);
    if (found && name->size() != strName.size()) found = FieldsItem(mobjDataFields, strName);
    return static_cast<bool>(found);
  }
  if (!IsDataField(strName)) return false;
  found = FieldsItem(mobjDataFields, strName);
  return true;
}

}  // namespace tarn::detail
