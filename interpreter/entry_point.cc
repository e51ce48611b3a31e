// The entry point: a two-state parse loop. In OPERAND the next word must
// start an operand (a literal, a host field, a function or "("); in OPERATOR
// it must be an operator, ")" or blank. Operands and operators go onto the
// frame's stack as data fields; ")", a single "=" and the end of the text
// call the evaluator. Whatever happens, the clean-up removes every temporary
// field that the call created, and an error in the loop itself yields the
// "Error" data field instead of reaching the host.
#include "interpreter/interpreter_core.h"
#include "platform/number_text.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {
constexpr std::u16string_view kProc = u"RealizeRegularExpression"sv;

bool IsBlankWord(std::u16string_view w) { return w.empty() || w == u" "sv || w == u"<EOL>"sv; }

// Ends a call whose text was reported in strict mode, or whose answer would
// be no value: it gives the Error field.
struct StrictFault {};
}  // namespace

void InterpreterCore::CheckHiddenFunction(std::u16string_view word) noexcept {
  const std::u16string_view name = TrimSpaces(word);
  for (std::u16string_view function : kFunctionNames)
    if (EqualsIgnoreCase(name, function)) {
      std::u16string problem;
      try {
        problem = u"the host's field '" + std::u16string(name) + u"' hides the function " +
                  std::u16string(function);
      } catch (...) {
      }
      ReportStrict(kProc, problem);
      return;
    }
}

ObjectRef InterpreterCore::RealizeRegularExpression(std::u16string_view expression) {
  // The hold table has rows for sixteen nested frames; a deeper call is
  // refused before it opens one.
  if (depth_ >= kHoldRows) {
    last_was_error_ = true;
    return MakeErrorField();  // depth_ > 0: nothing pending can apply here
  }

  if (depth_ == 0) strict_fault_ = false;
  ObjectRef result;
  Frame* frame = nullptr;
  try {
    frame = AddInstance(expression);
    if (!frame) {
      last_was_error_ = true;
      ObjectRef error = MakeErrorField();
      ApplyPendingFields();
      return error;
    }
    Frame& f = *frame;
    bool operand = true;
    int open_parens = 0;
    bool at_last_position = false;
    while (f.position <= static_cast<long>(f.text.size())) {
      // The position cannot pass 32767: one more word there (whose read is
      // reported) ends a longer text.
      if (f.position >= kMaxPosition) {
        if (at_last_position) break;
        at_last_position = true;
      }
      std::u16string& word = f.word;
      GetNextWord(f, word);  // trimmed already
      if (operand) {
        operand = false;
        // The scanner attaches a ")" to the operand before it: give it back
        // so that it is read as a word of its own.
        while (word.size() > 1 && word.back() == u')') {
          word.pop_back();
          PutLastChar(f);
        }
        if (IsOpenParen(word)) {
          if (!CreateOperatorDataField(f, word)) RaiseOwn(code::kObjectRequired, kProc);
          ++open_parens;
          operand = true;
        } else if (IsStringLiteral(word)) {
          if (!CreateStringDataField(f, word)) RaiseOwn(code::kObjectRequired, kProc);
        } else if (IsDateLiteral(word)) {
          if (!CreateDateDataField(f, word)) RaiseOwn(code::kObjectRequired, kProc);
        } else if (const std::optional<double> number = ParseNumber(word)) {
          if (!CreateNumericDataField(f, *number)) RaiseOwn(code::kObjectRequired, kProc);
        } else if (ObjectRef field;
                   OnHost([&](auto& host) { return host.FindDataField(word, field, false); })) {
          if (strict_) [[unlikely]]
            CheckHiddenFunction(word);
          f.stack.Push(std::move(field));
        } else if (IsFunction(word)) {
          PerformFunction(word, f);
        } else if (IsBlankWord(word)) {
          operand = true;
        } else {
          RaiseOwn(code::kSyntaxError, kProc);
        }
      } else {
        operand = true;
        if (IsCloseParen(word)) {
          if (open_parens <= 0) RaiseOwn(code::kSyntaxError, kProc);
          EvaluateExpression(f);
          --open_parens;
          operand = false;
        } else if (IsOperator(word)) {
          const int next = PeekNextChar(f);
          if (IsOperatorChar(next)) word += GetNextChar(f);
          if (word == u"="sv) EvaluateExpression(f);
          if (!CreateOperatorDataField(f, word)) RaiseOwn(code::kObjectRequired, kProc);
        } else if (IsBlankWord(word)) {
          operand = false;
        } else {
          RaiseOwn(code::kSyntaxError, kProc);
        }
      }
    }
    EvaluateExpression(f);
    if (strict_fault_) [[unlikely]]
      throw StrictFault{};
    result = f.stack.Pop();
    if (strict_) [[unlikely]] {
      // The scanner stops at position 32767: a longer text was cut short,
      // and its value is not the text's.
      if (f.text.size() > static_cast<std::size_t>(kMaxPosition)) {
        ReportStrict(kProc, u"the text is longer than the 32767 characters that are read");
        throw StrictFault{};
      }
      // An operator or an unmatched "(" left on top (a text ending in an
      // operator, a failed step) is no value.
      if (result)
        for (const Object* o : f.operators)
          if (o == result.get()) {
            ReportStrict(kProc, u"the text leaves an operator without its operand");
            throw StrictFault{};
          }
    }
    last_was_error_ = false;
  } catch (...) {
    result = MakeErrorField();
    last_was_error_ = true;
  }
  if (frame) CleanUp(*frame);
  ApplyPendingFields();
  return result;
}

void InterpreterCore::CleanUp(Frame& f) noexcept {
  // Names are held at the row's top and below it, never above it.
  for (int i = f.held_top; i >= 0; --i) {
    NameText& name = f.held[static_cast<std::size_t>(i)];
    if (name.empty()) continue;
    OnHost([&](auto& host) { host.RemoveTemporary(name); });
    RemoveAutoDataFieldNameFromList(name);
    name.clear();
  }
  for (const NameText& given : f.given_names) RemoveAutoDataFieldNameFromList(given);
  f.given_names.clear();
  // The row starts over, so that it never fills up however many calls run.
  f.held_top = -1;
  --depth_;
  f.stack.EmptyStack();
}

ObjectRef InterpreterCore::MakeErrorField() noexcept {
  try {
    ObjectRef field = host_->NewField();
    host_->SetText(field, TextMember::Name, u"Error"sv);
    host_->SetText(field, TextMember::DataType, u"Boolean"sv);
    host_->SetData(field, Variant(false));
    return field;
  } catch (...) {
    return {};
  }
}

}  // namespace tarn::detail
