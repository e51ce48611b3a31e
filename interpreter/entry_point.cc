// The entry point: a two-state parse loop. In OPERAND the next word must
// start an operand (a literal, a host field, a function or "("); in OPERATOR
// it must be an operator, ")" or blank. Operands and operators go onto the
// instance's stack as data fields; ")", a single "=" and the end of the text
// call the evaluator. Whatever happens, the clean-up removes every temporary
// field that the call created, and an error in the loop itself yields the
// "Error" data field instead of reaching the host.
#include <algorithm>

#include "host/host_calls.h"
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
}  // namespace

ObjectRef InterpreterCore::RealizeRegularExpression(std::u16string& strExpression) {
  // The hold table has rows for sixteen nested instances; a deeper call is
  // refused before it opens an instance.
  if (mintInstance >= kHoldRows - 1) return MakeErrorField();

  ObjectRef result;
  std::int16_t intInstance = -1;
  try {
    if (const std::u16string_view t = TrimSpaces(strExpression); t.size() != strExpression.size())
      strExpression = std::u16string(t);
    intInstance = AddInstance(strExpression);
    const auto slot = static_cast<std::size_t>(intInstance);
    bool operand = true;
    int open_parens = 0;
    bool at_last_position = false;
    while (slot < mintExpressionPtr.size() &&
           mintExpressionPtr[slot] <= static_cast<long>(mstrExpression[slot].size())) {
      // The position cannot pass 32767: one more word there (whose read is
      // reported) ends a longer text.
      if (mintExpressionPtr[slot] >= kMaxPosition) {
        if (at_last_position) break;
        at_last_position = true;
      }
      std::u16string& word = word_buffers_[slot];
      GetNextWordInto(intInstance, word);  // trimmed already
      if (operand) {
        operand = false;
        // The scanner attaches a ")" to the operand before it: give it back
        // so that it is read as a word of its own.
        while (word.size() > 1 && word.back() == u')') {
          word.pop_back();
          PutLastChar(intInstance);
        }
        if (IsOpenParen(word)) {
          if (!PushWordField(u"Operator"sv, word, intInstance)) {
            std::u16string name = CreateOperatorDataField(word);
            if (name.empty()) RaiseOwn(code::kObjectRequired, kProc);
            PushHeld(name, intInstance);
          }
          ++open_parens;
          operand = true;
        } else if (IsStringLiteral(word)) {
          if (!PushWordField(u"String"sv, word, intInstance))
            PushHeld(CreateStringDataField(word), intInstance);
        } else if (IsDateLiteral(word)) {
          PushHeld(CreateDateDataField(word), intInstance);
        } else if (const std::optional<double> number = ParseNumber(word)) {
          if (!PushNumberField(*number, intInstance))
            PushHeld(CreateNumericDataField(number), intInstance);
        } else if (ObjectRef field; FindDataField(word, field)) {
          StackOf(intInstance).Push(field);
        } else if (IsFunction(word)) {
          PerformFunction(word, intInstance);
        } else if (IsBlankWord(word)) {
          operand = true;
        } else {
          RaiseOwn(code::kSyntaxError, kProc);
        }
      } else {
        operand = true;
        if (IsCloseParen(word)) {
          if (open_parens <= 0) RaiseOwn(code::kSyntaxError, kProc);
          EvaluateExpression(intInstance);
          --open_parens;
          operand = false;
        } else if (IsOperator(word)) {
          const int next = PeekNextChar(intInstance);
          if (IsOperatorChar(next)) word += GetNextChar(intInstance);
          if (word == u"="sv) EvaluateExpression(intInstance);
          if (!PushWordField(u"Operator"sv, word, intInstance))
            PushHeld(CreateOperatorDataField(word), intInstance);
        } else if (IsBlankWord(word)) {
          operand = false;
        } else {
          RaiseOwn(code::kSyntaxError, kProc);
        }
      }
    }
    EvaluateExpression(intInstance);
    result = StackOf(intInstance).Pop();
  } catch (...) {
    result = MakeErrorField();
  }
  if (intInstance >= 0) CleanUp(intInstance);
  return result;
}

void InterpreterCore::CleanUp(std::int16_t intInstance) noexcept {
  if (intInstance < kHoldRows) {
    auto& row = mstrHoldArray[static_cast<std::size_t>(intInstance)];
    DataFields* own = OwnFields();
    // Names are held at the row's pointer and below it, never above it.
    const std::size_t end = own ? static_cast<std::size_t>(std::clamp<int>(
                                      mintHoldArrayPtr[static_cast<std::size_t>(intInstance)] + 1,
                                      0, static_cast<int>(row.size())))
                                : row.size();
    for (std::size_t i = end; i-- > 0;) {
      if (row[i].empty()) continue;
      if (own) {
        // Our own collection calls nobody back: the name is used in place
        // and its buffer kept for the next call.
        // A name spelled as generated goes by its number, without the
        // collection reading the key again.
        const std::u16string_view name = row[i];
        if (const int g = row[i].generated(); g > 0) {
          own->EraseGenerated(g);
          if (!RemoveGeneratedName(g)) RemoveAutoDataFieldNameFromList(name);
        } else {
          if (const int n = GeneratedNameNumber(name);
              n > 0 && n <= kMaxPosition && name[6] != u'0')
            own->EraseGenerated(n);
          else
            own->Erase(name);
          RemoveAutoDataFieldNameFromList(name);
        }
        row[i].clear();
        continue;
      }
      std::u16string name = row[i].str();
      row[i].clear();
      std::u16string key = name;
      try {
        FieldsRemove(mobjDataFields, key);
      } catch (...) {
        // The host's collection refused; the name is freed all the same.
      }
      RemoveAutoDataFieldNameFromList(name);
    }
    // The row starts over, so that it never fills up however many calls run.
    mintHoldArrayPtr[static_cast<std::size_t>(intInstance)] = InitialHoldPtr(intInstance);
  }
  mintInstance = static_cast<std::int16_t>(mintInstance - 1);
  if (static_cast<std::size_t>(intInstance) < mobjStack.size() &&
      mobjStack[static_cast<std::size_t>(intInstance)])
    mobjStack[static_cast<std::size_t>(intInstance)]->EmptyStack();
}

ObjectRef InterpreterCore::MakeErrorField() noexcept {
  try {
    ObjectRef field = NewDataField(field_factory_);
    FieldSetText(field, TextMember::Name, u"Error"sv);
    FieldSetText(field, TextMember::DataType, u"Boolean"sv);
    FieldLetData(field, false);
    return field;
  } catch (...) {
    return {};
  }
}

}  // namespace tarn::detail
