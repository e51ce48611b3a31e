// The interpreter's internal view: its state and every procedure, one source
// file per concern:
//   interpreter.cc          creation, version properties, Init, late binding
//   entry_point.cc          RealizeRegularExpression: parse loop and clean-up
//   errors.cc               the reporting handler shared by all procedures
//   char_scanner.cc         frames, GetNextChar, PeekNextChar, PutLastChar
//   word_scanner.cc         GetNextWord, PutLastWord, PeekNextWord
//   classifiers.cc          the token lists and Is... tests
//   auto_fields.cc          temporary data fields, names and the hold table
//   evaluate.cc             EvaluateExpression
//   functions.cc            PerformFunction, Format, Replace
//   format_hl7_datetime.cc  FormatHL7DateTime
//   if_block.cc             IF blocks
// The host is reached only through HostAccess, chosen at Init.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "interpreter/constants.h"
#include "interpreter/name_text.h"
#include "interpreter/native_host.h"
#include "platform/text.h"
#include "stack/stack.h"
#include "tarn/host.h"
#include "tarn/interpreter.h"
#include "tarn/object.h"

namespace tarn::detail {

// The functions, in the order of the function list; the one list that the
// interpreter, strict mode and ClassifyWord read.
inline constexpr std::u16string_view kFunctionNames[] = {u"If", u"Format", u"FormatHL7DateTime",
                                                         u"Replace"};

// Raised errors of the interpreter's own: -2147221504 + 512 + the platform's
// number for that kind of error.
namespace code {
inline constexpr std::int32_t kSubscriptOutOfRange = -2147220983;
inline constexpr std::int32_t kDivisionByZero = -2147220981;
inline constexpr std::int32_t kInvalidProcedureCall = -2147220987;
inline constexpr std::int32_t kSyntaxError = -2147218559;
inline constexpr std::int32_t kObjectRequired = -2147220568;
}  // namespace code

// A 16-bit position or counter; raises Overflow beyond its range.
inline std::int16_t Checked16(int v) {
  if (v < -32768 || v > 32767) [[unlikely]]
    Raise(err::kOverflow);
  return static_cast<std::int16_t>(v);
}

// One nesting level of the entry point: its text and read position, the
// operand stack and the names of the temporary fields it made. Frames are
// kept between calls so that their buffers keep their room.
struct Frame {
  std::u16string text;
  std::int16_t position = 0;
  Stack stack;
  std::vector<NameText> held;  // the hold-table row
  std::int16_t held_top = -1;
  std::vector<NameText> given_names;     // names of fields the host keeps under keys of its own
  std::vector<const Object*> operators;  // the operator fields this frame made
  std::u16string word;                   // the parse loop's word
  std::u16string condition;              // PerformIf's condition
};

class InterpreterCore {
 public:
  InterpreterCore();
  ~InterpreterCore();
  InterpreterCore(const InterpreterCore&) = delete;  // frames hold per-call state
  InterpreterCore& operator=(const InterpreterCore&) = delete;

  // ---- Public members (interpreter.cc, entry_point.cc)
  static std::u16string Release();
  bool Init(ObjectRef data_fields, ObjectRef error, std::u16string& system,
            std::u16string& application);
  ObjectRef RealizeRegularExpression(std::u16string_view expression);
  void set_strExpression(std::int16_t index, std::u16string text);
  const ObjectRef& data_fields() const noexcept {
    return fields_pending_ ? pending_fields_ : host_->fields();
  }
  // While an evaluation runs (a host callback), the new collection waits
  // until the outermost call has cleaned up in the old one.
  void set_data_fields(ObjectRef fields);
  ObjectRef error_manager_;

  // The Error field for a call that has no text to evaluate.
  ObjectRef ErrorField() noexcept {
    last_was_error_ = true;
    return MakeErrorField();
  }
  // Whether the last call answered with the Error field (or could not
  // even make that).
  bool last_was_error() const noexcept { return last_was_error_; }
  // While set, every report is also appended here.
  std::vector<EvaluationReport>* collected_ = nullptr;

  // Strict mode: texts that evaluate to something nobody meant (a function
  // reading the end of the text as an argument, an IF block inside a
  // branch, a host field hiding a function, a malformed time zone) are
  // reported, and the whole evaluation gives the Error field.
  bool strict_ = false;
  // Reports one such text under `procedure`; the outermost call then
  // answers with the Error field.
  void ReportStrict(std::u16string_view procedure, std::u16string_view problem) noexcept;
  // A host field read as an operand under a function's name.
  void CheckHiddenFunction(std::u16string_view word) noexcept;
  // A branch just evaluated that gave the Error field.
  void CheckBranch(std::u16string_view branch) noexcept;
  // A text argument that keeps the comma after it.
  void CheckArgumentComma(std::u16string_view procedure, std::u16string_view word);
  // A number that becomes text in exponent form.
  void CheckExponent(std::u16string_view procedure, const Variant& v);

  // ---- Reporting (errors.cc)
  // Reports an error through ReportError under `procedure`; never throws.
  void ReportError(std::u16string_view procedure, std::int32_t number,
                   std::u16string_view description, bool peek_style = false) noexcept;
  // Runs `body`; a run-time error is reported under `procedure` and
  // `failure` returned instead.
  template <class R, class F>
  R Guarded(std::u16string_view procedure, R failure, F&& body) noexcept;
  [[noreturn]] static void RaiseOwn(std::int32_t number, std::u16string_view procedure);

  // ---- Frames and character scanner (char_scanner.cc)
  Frame* AddInstance(std::u16string_view expression);
  char16_t GetNextChar(Frame& f);
  int PeekNextChar(Frame& f);  // -1 for the empty text after a failure
  bool PutLastChar(Frame& f);

  // ---- Token lists and classifiers (classifiers.cc)
  bool AddFunction(std::u16string_view list);
  bool AddOperator(std::u16string_view list);
  bool AddDelimiter(std::u16string_view list);
  bool IsFunction(std::u16string_view word);
  bool IsDelimiter(std::u16string_view text);
  // IsDelimiter of one character: one character trims to itself, or to the
  // empty text (in every list).
  bool IsDelimiterChar(char16_t c) const noexcept {
    return c == u' ' || (c < 128 && delimiter_chars_[c]);
  }
  bool IsOperator(std::u16string_view word);
  // IsOperator of one character: it trims to itself unless it is a space;
  // -1 is the empty text.
  bool IsOperatorChar(int c) const noexcept {
    return c > 0 && c < 128 && c != u' ' && operator_chars_[c];
  }
  static bool IsStringLiteral(std::u16string_view word) noexcept {
    const std::u16string_view w = TrimSpaces(word);
    return !w.empty() && w.front() == u'"' && w.back() == u'"';
  }
  static bool IsDateLiteral(std::u16string_view word) noexcept {
    const std::u16string_view w = TrimSpaces(word);
    return !w.empty() && w.front() == u'#' && w.back() == u'#';
  }
  static bool IsOpenParen(std::u16string_view w) noexcept {
    return w == std::u16string_view(u"(", 1);
  }
  static bool IsCloseParen(std::u16string_view w) noexcept {
    return w == std::u16string_view(u")", 1);
  }
  bool IsDataField(std::u16string_view name) noexcept { return host_->IsDataField(name); }

  // ---- Word scanner (word_scanner.cc)
  // The next word, trimmed, into `word` (whose room is kept).
  void GetNextWord(Frame& f, std::u16string& word);
  bool PutLastWord(Frame& f, std::u16string_view word);
  std::u16string PeekNextWord(Frame& f);

  // ---- Automatic data fields (auto_fields.cc)
  // Each makes a temporary field, holds its name in the frame and pushes
  // it; false, reported, when that fails.
  bool CreateStringDataField(Frame& f, std::u16string_view word);
  bool CreateOperatorDataField(Frame& f, std::u16string_view word);
  bool CreateNumericDataField(Frame& f, double number);
  bool CreateDateDataField(Frame& f, std::u16string_view word);
  // A computed value (taken); an evaluation's result is fetched back through
  // the collection's inner collection.
  bool CreateDataFieldFromVariant(Frame& f, Variant& value, bool through_mcol = false);
  // The next free generated name, taken: its place in the name list, or -1
  // when none is left (reported).
  int GetNewDataFieldName();
  TARN_ALWAYS_INLINE bool NameTakenOrUndo(NameText& name) {
    if (native_ && name.generated() > 0) return native_->GeneratedTaken(name.generated());
    return AskHostOrUndo(name);
  }
  bool AskHostOrUndo(NameText& name);
  // After a host added a temporary field under a key of its own making.
  void FollowHostsKey(Frame& f, const NameText& held, int at) noexcept;
  TARN_ALWAYS_INLINE bool RemoveAutoDataFieldNameFromList(const NameText& name) {
    // Names are freed in the reverse order of their making: the last one
    // made is the usual one to go.
    const int top = names_top_;
    if (top >= 0 && static_cast<std::size_t>(top) < names_.size()) {
      NameText& last = names_[static_cast<std::size_t>(top)];
      if (name.generated() > 0 ? last.generated() == name.generated() : SameText(last, name)) {
        last.clear();
        names_top_ = static_cast<std::int16_t>(top - 1);
        return true;
      }
    }
    return RemoveNameBelowTop(name);
  }
  TARN_ALWAYS_INLINE bool AddNameToHoldArray(Frame& f, const NameText& name) {
    const int c = f.held_top;
    if (c < kMaxPosition && c + 1 < static_cast<int>(f.held.size())) {  // the row has room
      f.held_top = static_cast<std::int16_t>(c + 1);
      f.held[static_cast<std::size_t>(c + 1)].assign(name);
      return true;
    }
    return GrowHoldRow(f, name);
  }
  // Pushes a function's or an IF block's value as a temporary field.
  void PushResult(Frame& f, Variant&& value);

  // ---- Evaluation (evaluate.cc)
  bool EvaluateExpression(Frame& f);

  // ---- Functions (functions.cc, format_hl7_datetime.cc, if_block.cc)
  bool PerformFunction(std::u16string_view function, Frame& f);
  // An argument word: a host field's Data (as text), or the word as written.
  std::u16string TextArgument(std::u16string& word);
  Variant ValueArgument(std::u16string& word);
  bool PerformFormat(Frame& f);
  bool GetFormatArguments(Frame& f, ObjectRef& field, std::u16string& format);
  bool PerformReplace(Frame& f);
  bool GetReplaceArguments(Frame& f, ObjectRef& field, std::u16string& find,
                           std::u16string& replacement, std::int32_t& start, std::int32_t& count,
                           std::int32_t& compare);
  bool PerformFormatHL7DateTime(Frame& f);
  // A date field's value in the date range comes back in `date_value`
  // instead of as its text in `date`.
  bool PerformGetHL7DateTimeFormatArguments(Frame& f, std::u16string& date,
                                            std::optional<double>& date_value, std::u16string& time,
                                            std::u16string& separator, bool& include_time,
                                            bool& include_time_zone, std::u16string& time_zone);
  bool PerformIf(Frame& f);
  void GetIfCondition(Frame& f, std::u16string& condition);
  std::u16string GetStatements(Frame& f, std::int16_t& type);
  bool RemoveEndIf(Frame& f);

  // Calls `call` on the host strategy: the library's own by its final type,
  // so that its members inline, any other through the interface.
  template <class F>
  TARN_ALWAYS_INLINE decltype(auto) OnHost(F&& call) {
    if (native_) return call(*native_);
    return call(*host_);
  }

  // ---- State
  std::unique_ptr<HostAccess> host_;
  NativeHost* native_ = nullptr;                // host_, when it is the library's own
  std::vector<std::unique_ptr<Frame>> frames_;  // the slots; frames_[depth_ - 1] is the innermost
  int depth_ = 0;                               // open frames
  std::u16string function_list_;
  std::u16string function_list_upper_;  // cached for IsFunction
  std::u16string delimiter_list_;
  std::u16string operator_list_;
  std::vector<NameText> names_;  // generated names in use
  std::int16_t names_top_ = 0;
  std::u16string system_;
  std::u16string application_;
  std::u16string class_name_;

 private:
  // Makes, holds and pushes one temporary field; reports under `procedure`.
  bool PushTemporary(Frame& f, std::u16string_view procedure, std::u16string_view type,
                     const TemporaryValue& value, bool through_mcol = false) noexcept;
  bool RemoveNameBelowTop(const NameText& name);  // the name list's search
  bool GrowHoldRow(Frame& f, const NameText& name);
  void CleanUp(Frame& f) noexcept;
  ObjectRef MakeErrorField() noexcept;
  // Characters the word scanner stops at: the fixed ones and those of the
  // operator and delimiter lists.
  bool IsSpecialChar(char16_t c) const noexcept { return c < 128 && special_chars_[c]; }
  void UpdateSpecialChars() noexcept;
  // The general reading of GetNextWord, from what `word` holds already.
  void ReadWordGeneral(Frame& f, std::u16string& word);

  // Called when the outermost evaluation has returned.
  void ApplyPendingFields() noexcept;

  ObjectRef pending_fields_;
  bool fields_pending_ = false;
  int report_depth_ = 0;  // ReportError calls on the stack (a host may re-enter)
  bool last_was_error_ = false;
  bool strict_fault_ = false;  // a strict report was made during this call
  std::u16string if_word_;     // GetIfCondition's word
  bool special_chars_[128] = {};
  bool operator_chars_[128] = {};  // characters of the operator list
  std::u16string upper_word_;      // IsFunction's capitals
  // IsFunction's last words and their answers (-1: none): a text names
  // a few functions over and over.
  struct FunctionAnswer {
    std::u16string word;
    int answer = -1;
  };
  std::array<FunctionAnswer, 4> function_answers_;
  unsigned function_next_ = 0;
  bool delimiter_chars_[128] = {};  // characters of the delimiter list
};

// The HL7 text of FormatHL7DateTime's six values; writes "/" into an empty
// separator. Errors reach the caller.
std::u16string GetHL7DateTime(std::u16string date, std::u16string time, std::u16string& separator,
                              bool& include_time, bool& include_time_zone,
                              std::u16string& time_zone);

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
