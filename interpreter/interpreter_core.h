// The interpreter's internal view: the object's fields and every private
// procedure, one source file per concern:
//   interpreter.cc          creation, version properties, Init, late binding
//   entry_point.cc          RealizeRegularExpression: parse loop and clean-up
//   errors.cc               the reporting handler shared by all procedures
//   char_scanner.cc         instances, GetNextChar, PeekNextChar, PutLastChar
//   word_scanner.cc         GetNextWord, literals, PutLastWord, PeekNextWord
//   classifiers.cc          the token lists and Is... tests
//   auto_fields.cc          temporary data fields, names and the hold table
//   evaluate.cc             EvaluateExpression
//   functions.cc            PerformFunction, Format, Replace
//   format_hl7_datetime.cc  FormatHL7DateTime
//   if_block.cc             IF blocks
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_calls.h"
#include "interpreter/name_text.h"
#include "platform/class_table.h"
#include "platform/text.h"
#include "stack/stack.h"
#include "support/constants.h"
#include "tarn/host.h"
#include "tarn/object.h"

namespace tarn::detail {

// Raised errors of the interpreter's own: -2147221504 + 512 + the platform's
// number for that kind of error.
namespace code {
inline constexpr std::int32_t kSubscriptOutOfRange = -2147220983;
inline constexpr std::int32_t kDivisionByZero = -2147220981;
inline constexpr std::int32_t kInvalidProcedureCall = -2147220987;
inline constexpr std::int32_t kSyntaxError = -2147218559;
inline constexpr std::int32_t kObjectRequired = -2147220568;
}  // namespace code

class InterpreterCore {
 public:
  // Class_Initialize.
  InterpreterCore();
  ~InterpreterCore();
  InterpreterCore(const InterpreterCore&) = delete;  // instances hold per-call state
  InterpreterCore& operator=(const InterpreterCore&) = delete;

  // ---- Public members (interpreter.cc, entry_point.cc)
  static std::u16string Release();
  bool Init(ObjectRef objDataFields, ObjectRef objError, std::u16string& strSystem,
            std::u16string& strApplication);
  ObjectRef RealizeRegularExpression(std::u16string& strExpression);
  void set_strExpression(std::int16_t intIndex, std::u16string text);

  ObjectRef mobjDataFields;
  ObjectRef mobjError;
  // The host's collection when it is the library's own, which is called
  // directly; else null.
  DataFields* OwnFields() const noexcept { return NativeFields(mobjDataFields); }

  // ---- Reporting (errors.cc)
  // Reports an error through ReportError under `procedure`; never throws.
  void ReportError(std::u16string_view procedure, std::int32_t number,
                   std::u16string_view description, bool peek_style = false) noexcept;
  // Runs `body`; a run-time error is reported under `procedure` and
  // `failure` returned instead.
  template <class R, class F>
  R Guarded(std::u16string_view procedure, R failure, F&& body) noexcept;
  [[noreturn]] static void RaiseOwn(std::int32_t number, std::u16string_view procedure);

  // ---- Instances and character scanner (char_scanner.cc)
  std::int16_t AddInstance(const std::u16string& strExpression);
  char16_t GetNextChar(std::int16_t intInstance);
  // The next character, or -1 for the empty text after a failure.
  int PeekNextChar(std::int16_t intInstance) {
    // The usual case, inside the text, needs no reading and putting back.
    if (intInstance >= 0 && static_cast<std::size_t>(intInstance) < mintExpressionPtr.size() &&
        static_cast<std::size_t>(intInstance) < mstrExpression.size()) {
      const std::int16_t ptr = mintExpressionPtr[static_cast<std::size_t>(intInstance)];
      const std::u16string& text = mstrExpression[static_cast<std::size_t>(intInstance)];
      if (ptr >= 0 && ptr < kMaxPosition)
        return static_cast<std::size_t>(ptr) < text.size() ? text[static_cast<std::size_t>(ptr)]
                                                           : kEndOfText;
    }
    return PeekNextCharLate(intInstance);
  }
  int PeekNextCharLate(std::int16_t intInstance);
  bool PutLastChar(std::int16_t intInstance);

  // ---- Token lists and classifiers (classifiers.cc)
  bool AddFunction(std::u16string_view strList);
  bool AddOperator(std::u16string_view strList);
  bool AddDelimiter(std::u16string_view strList);
  bool IsFunction(std::u16string_view strWord);
  bool IsDelimiter(std::u16string_view strChar);
  // IsDelimiter of one character: one character trims to itself, or to the
  // empty text (in every list).
  bool IsDelimiterChar(char16_t c) const noexcept {
    return c == u' ' || (c < 128 && delimiter_chars_[c]);
  }
  bool IsOperator(std::u16string_view strWord);
  // IsOperator of one character: it trims to itself unless it is a space;
  // -1 is the empty text.
  bool IsOperatorChar(int c) const noexcept {
    return c > 0 && c < 128 && c != u' ' && operator_chars_[c];
  }
  static bool IsStringLiteral(std::u16string_view strWord) noexcept {
    const std::u16string_view w = TrimSpaces(strWord);
    return !w.empty() && w.front() == u'"' && w.back() == u'"';
  }
  static bool IsDateLiteral(std::u16string_view strWord) noexcept {
    const std::u16string_view w = TrimSpaces(strWord);
    return !w.empty() && w.front() == u'#' && w.back() == u'#';
  }
  static bool IsOpenParen(std::u16string_view w) noexcept {
    return w == std::u16string_view(u"(", 1);
  }
  static bool IsCloseParen(std::u16string_view w) noexcept {
    return w == std::u16string_view(u")", 1);
  }
  bool IsDataField(std::u16string_view strName) noexcept;
  // IsDataField, and when it holds the host's field by that name (Item).
  bool FindDataField(std::u16string& strName, ObjectRef& found);

  // ---- Word scanner (word_scanner.cc)
  std::u16string GetNextWord(std::int16_t intInstance);
  // GetNextWord into a buffer that keeps its room between words.
  void GetNextWordInto(std::int16_t intInstance, std::u16string& word) {
    word.clear();
    if (read_usual_words_ && ReadUsualWord(intInstance, word)) return;
    GetNextWordLate(intInstance, word);
  }
  void GetNextWordLate(std::int16_t intInstance, std::u16string& word);  // the general loop
  bool ReadUsualWord(std::int16_t intInstance, std::u16string& word);    // word empty
  bool read_usual_words_ = true;  // off only to compare with the general loop
  std::u16string GetLiteralString(std::int16_t intInstance);
  std::u16string GetLiteralDate(std::int16_t intInstance);
  bool PutLastWord(std::int16_t intInstance, const std::u16string& strWord);
  std::u16string PeekNextWord(std::int16_t intInstance);

  // ---- Automatic data fields (auto_fields.cc)
  std::u16string CreateStringDataField(std::u16string& strWord);
  std::u16string CreateOperatorDataField(std::u16string& strWord);
  std::u16string CreateNumericDataField(std::u16string& strWord);
  // With the word read already (ParseNumber of it).
  std::u16string CreateNumericDataField(std::optional<double> parsed);
  std::u16string CreateDateDataField(std::u16string& strWord);
  std::u16string CreateDataFieldFromVariant(const Variant& varValue);
  std::u16string CreateDataFieldFromVariant(Variant&& varValue);  // may take its text
  std::u16string GetNewDataFieldName();
  bool RemoveAutoDataFieldNameFromList(std::u16string_view strName) {
    // Names are freed in the reverse order of their making: the last one
    // made is the usual one to go.
    const int ptr = mintAutoDataFieldNamePtr;
    if (ptr >= 0 && static_cast<std::size_t>(ptr) < mstrAutoDataFieldNameList.size()) {
      NameText& top = mstrAutoDataFieldNameList[static_cast<std::size_t>(ptr)];
      if (SameText(top, strName)) {
        top.clear();
        mintAutoDataFieldNamePtr = static_cast<std::int16_t>(ptr - 1);
        return true;
      }
    }
    return RemoveNameLate(strName);
  }
  bool RemoveNameLate(std::u16string_view strName);
  // The usual case of freeing the generated name "Autodf<n>": it is the last
  // one made. False, with nothing changed, otherwise.
  bool RemoveGeneratedName(int n) noexcept {
    const int ptr = mintAutoDataFieldNamePtr;
    if (ptr < 0 || static_cast<std::size_t>(ptr) >= mstrAutoDataFieldNameList.size()) return false;
    NameText& top = mstrAutoDataFieldNameList[static_cast<std::size_t>(ptr)];
    if (top.generated() != n) return false;
    top.clear();
    mintAutoDataFieldNamePtr = static_cast<std::int16_t>(ptr - 1);
    return true;
  }
  std::u16string AddNameToHoldArray(const std::u16string& strName, std::int16_t intInstance);
  // AddNameToHoldArray without the copy back.
  bool HoldName(std::u16string_view strName, std::int16_t intInstance) {
    if (intInstance >= 0 && intInstance < kHoldRows) {
      // The usual case: the row has room and the slot a buffer large enough.
      const auto row = static_cast<std::size_t>(intInstance);
      const int c = mintHoldArrayPtr[row];
      if (c < kMaxPosition && c + 1 < static_cast<int>(mstrHoldArray[row].size()) &&
          c + 1 < static_cast<int>(mstrHoldArray[0].size())) {
        if (strName.size() <= NameText::kInline) {
          mintHoldArrayPtr[row] = static_cast<std::int16_t>(c + 1);
          mstrHoldArray[row][static_cast<std::size_t>(c + 1)].assign(strName);
          return true;
        }
      }
    }
    return HoldNameLate(strName, intInstance);
  }
  bool HoldNameLate(std::u16string_view strName, std::int16_t intInstance);
  // The usual case of a temporary field, made, held and pushed in one step:
  // the library's own collection and fields, the next generated name free,
  // and room for it in the name list, the hold-table row and the
  // collection. False, with nothing changed, when any of that does not
  // hold; the caller then takes the general procedures, which report what
  // goes wrong.
  bool PushWordField(std::u16string_view type, std::u16string_view word,
                     std::int16_t intInstance);  // an operator or a string literal
  bool PushNumberField(double d, std::int16_t intInstance);
  // A computed value, taken only when pushed; gives the number of the new
  // name ("Autodf<n>"), 0 when not pushed.
  int PushValueField(Variant& value, std::int16_t intInstance);
  template <class Fill>
  int PushTemporary(std::u16string_view type, std::int16_t intInstance, Fill&& fill);
  static std::u16string RemoveStringDelimiters(std::u16string_view text);
  static std::u16string RemoveDateDelimiters(std::u16string_view text);

  // ---- Evaluation (evaluate.cc)
  bool EvaluateExpression(std::int16_t intInstance);

  // ---- Functions (functions.cc, format_hl7_datetime.cc, if_block.cc)
  bool PerformFunction(const std::u16string& strFunction, std::int16_t intInstance);
  bool PerformFormat(std::int16_t intInstance);
  bool GetFormatArguments(std::int16_t intInstance, ObjectRef& objDataField,
                          std::u16string& strFormat);
  bool PerformReplace(std::int16_t intInstance);
  bool GetReplaceArguments(std::int16_t intInstance, ObjectRef& objDataField,
                           std::u16string& strFind, std::u16string& strReplace,
                           std::int32_t& lngStart, std::int32_t& lngCount,
                           std::int32_t& lngCompare);
  bool PerformFormatHL7DateTime(std::int16_t intInstance);
  bool PerformGetHL7DateTimeFormatArguments(std::int16_t intInstance, std::u16string& strDate,
                                            std::u16string& strTime, std::u16string& strSeparator,
                                            bool& blnIncludeTime, bool& blnIncludeTimeZone,
                                            std::u16string& strTimeZone);
  bool PerformIf(std::int16_t intInstance);
  std::u16string GetIfCondition(std::int16_t intInstance);
  void GetIfConditionInto(std::int16_t intInstance, std::u16string& condition);
  std::array<std::u16string, kHoldRows> if_conditions_;  // PerformIf's, per instance
  std::u16string if_words_;                              // GetIfCondition's word
  std::u16string GetStatements(std::int16_t intInstance, std::int16_t& intType);
  bool RemoveEndIf(std::int16_t intInstance);

  // The field that a temporary name was just given: the library's own
  // collection hands back the object that was added under that name, so it
  // is taken without a lookup; any other collection is asked by name.
  ObjectRef FetchNewField(const std::u16string& name, bool through_mcol = false) {
    ObjectRef made = std::move(last_new_field_);
    if (made && OwnFields() && NativeField(made) && SameName(made, name)) return made;
    return FetchNewFieldLate(name, through_mcol);
  }
  ObjectRef FetchNewFieldLate(const std::u16string& name, bool through_mcol);
  static bool SameName(const ObjectRef& field, const std::u16string& name) noexcept {
    return SameText(static_cast<const DataField*>(field.get())->name(), name);
  }
  ObjectRef last_new_field_;                            // the field that was added last
  std::array<std::u16string, kHoldRows> word_buffers_;  // the parse loop's, per instance
  FactoryCache field_factory_;                          // "ZellDFld.DataField"
  // The number of the name GetNewDataFieldName just gave when it is a
  // generated "Autodf<n>" free in the library's own collection, else 0.
  int last_name_number_ = 0;

  // Pushes a function's or an IF block's value as a temporary field held by
  // the instance.
  void PushResult(Variant&& value, std::int16_t intInstance);
  // Pushes the field of a new temporary name and holds the name.
  void PushHeld(const std::u16string& strName, std::int16_t intInstance);
  Stack& StackOf(std::int16_t intInstance) {  // raises 9 outside the array
    if (intInstance >= 0 && static_cast<std::size_t>(intInstance) < mobjStack.size())
      if (Stack* s = mobjStack[static_cast<std::size_t>(intInstance)].get()) return *s;
    return StackOfLate(intInstance);
  }
  Stack& StackOfLate(std::int16_t intInstance);

  // ---- State (names as the object's fields)
  std::vector<std::u16string> mstrExpression;
  std::vector<std::int16_t> mintExpressionPtr;
  std::int16_t mintInstance = -1;
  std::u16string mstrFunctionList;
  std::u16string mstrFunctionListUpper;  // cached for IsFunction
  std::u16string mstrDelimiterList;
  std::u16string mstrOperatorList;
  std::vector<std::unique_ptr<Stack>> mobjStack;
  std::vector<NameText> mstrAutoDataFieldNameList;
  std::int16_t mintAutoDataFieldNamePtr = 0;
  std::array<std::vector<NameText>, kHoldRows> mstrHoldArray;
  std::array<std::int16_t, kHoldRows> mintHoldArrayPtr{};
  std::u16string mstrSystem;
  std::u16string mstrApplication;
  std::u16string mstrClassName;

 private:
  void CleanUp(std::int16_t intInstance) noexcept;
  ObjectRef MakeErrorField() noexcept;
  // Characters the word scanner stops at: the fixed ones and those of the
  // operator and delimiter lists.
  bool IsSpecialChar(char16_t c) const noexcept { return c < 128 && special_chars_[c]; }
  void UpdateSpecialChars() noexcept;
  bool special_chars_[128] = {};
  bool operator_chars_[128] = {};   // characters of the operator list
  std::u16string upper_word_;       // IsFunction's capitals
  std::u16string function_word_;    // IsFunction's last word ...
  int function_answer_ = -1;        // ... and its answer (-1: none)
  bool delimiter_chars_[128] = {};  // characters of the delimiter list
};

// The HL7 text of FormatHL7DateTime's six values; writes "/" into an empty
// separator. Errors reach the caller.
std::u16string GetHL7DateTime(std::u16string strDate, std::u16string strTime,
                              std::u16string& strSeparator, bool& blnIncludeTime,
                              bool& blnIncludeTimeZone, std::u16string& strTimeZone);

// The number of a name spelled "Autodf<digits>" (up to five), or -1.
inline int GeneratedNameNumber(std::u16string_view name) noexcept {
  if (name.size() < 7 || name.size() > 11 ||
      std::memcmp(name.data(), u"Autodf", 6 * sizeof(char16_t)) != 0)
    return -1;
  int n = 0;
  for (std::size_t i = 6; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c < u'0' || c > u'9') return -1;
    n = n * 10 + (c - u'0');
  }
  return n;
}

// The generated name "Autodf<n>".
std::u16string GeneratedName(int n);

// Initial entry of a hold-table row: rows 0 to 10 start at -1, the rest at 0.
constexpr std::int16_t InitialHoldPtr(int row) noexcept { return row <= 10 ? -1 : 0; }

template <class R, class F>
R InterpreterCore::Guarded(std::u16string_view procedure, R failure, F&& body) noexcept {
  try {
    return body();
  } catch (const RuntimeError& e) {
    ReportError(procedure, e.number(), e.description());
  } catch (const std::bad_alloc&) {
    ReportError(procedure, err::kOutOfMemory, ErrorDescription(err::kOutOfMemory));
  } catch (...) {
    ReportError(procedure, 51, u"Internal error");
  }
  return failure;
}

}  // namespace tarn::detail
