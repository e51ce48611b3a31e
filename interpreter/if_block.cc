// IF blocks. A block is an expression whose value is that of the chosen
// branch, or the condition's own value when no branch is chosen:
//
//   IfBlock -> IF cond THEN body {ELSEIF cond THEN body} [ELSE body] (END IF | ENDIF)
//
// The condition and the chosen branch are evaluated by nested calls of the
// entry point, each in an instance of its own; the branch words are joined
// without separators, the condition words with single spaces. Every reader
// here drops a carriage return at the end of a word before looking at it.
#include "host/host_calls.h"
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {
constexpr std::u16string_view kEol = u"<EOL>"sv;

// The next word into `w`, without a carriage return at its end.
void ReadWord(InterpreterCore& core, std::int16_t instance, std::u16string& w) {
  core.GetNextWordInto(instance, w);
  if (!w.empty() && w.back() == u'\r') w.pop_back();
}

// The value of an evaluation, read through the result's default member
// (the library's own field gives its value directly).
Variant ValueOf(const ObjectRef& result) {
  if (const DataField* df = NativeField(result); df && !df->data().is_object()) return df->data();
  return DefaultValue(Variant(result));
}

}  // namespace

std::u16string InterpreterCore::GetIfCondition(std::int16_t intInstance) {
  std::u16string condition;
  GetIfConditionInto(intInstance, condition);
  return condition;
}

void InterpreterCore::GetIfConditionInto(std::int16_t intInstance, std::u16string& condition) {
  condition.clear();
  const bool read = Guarded(u"GetIfCondition"sv, false, [&] {
    std::u16string& w = if_words_;
    ReadWord(*this, intInstance, w);
    while (!EqualsIgnoreCase(TrimSpaces(w), u"THEN"sv) && w != kEol) {
      if (!condition.empty()) condition += u' ';
      condition += w;
      ReadWord(*this, intInstance, w);
    }
    return true;
  });
  if (!read) condition.clear();
}

std::u16string InterpreterCore::GetStatements(std::int16_t intInstance, std::int16_t& intType) {
  return Guarded(u"GetStatements"sv, std::u16string(), [&] {
    std::u16string branch, w;
    bool first = true;
    for (;; first = false) {
      ReadWord(*this, intInstance, w);
      // The keywords in capitals, compared without building the capitals.
      const std::u16string_view word = TrimSpaces(w);
      auto key_is = [&](std::u16string_view k) { return EqualsIgnoreCase(word, k); };
      if (key_is(u"ELSE"sv)) {
        if (first) continue;  // "THEN ELSE" loses the ELSE
        intType = kBranchEndElse;
        PutLastWord(intInstance, w);
        return branch;
      }
      if (key_is(u"ELSEIF"sv)) {
        intType = kBranchEndElseIf;
        PutLastWord(intInstance, u"IF");  // the chain goes on as a block of its own
        return branch;
      }
      if (key_is(u"ENDIF"sv)) {
        PutLastWord(intInstance, w);
        return branch;
      }
      if (key_is(u"END"sv)) {
        if (TrimSpaces(PeekNextWord(intInstance)) != u"IF"sv)
          RaiseOwn(code::kSyntaxError, u"PerformIf"sv);
        PutLastWord(intInstance, w);
        return branch;
      }
      if (key_is(kEol)) RaiseOwn(code::kSyntaxError, u"PerformIf"sv);
      branch += w;
    }
  });
}

bool InterpreterCore::RemoveEndIf(std::int16_t intInstance) {
  return Guarded(u"RemoveEndIf"sv, false, [&] {
    std::u16string w, next;
    ReadWord(*this, intInstance, w);
    for (;;) {
      const std::u16string_view t = TrimSpaces(w);
      if (SameText(t, u"END IF"sv) || SameText(w, kEol) || SameText(w, u"ENDIF"sv)) break;
      if (SameText(t, u"END"sv)) {
        ReadWord(*this, intInstance, next);
        if (!SameText(TrimSpaces(next), u"IF"sv)) RaiseOwn(code::kSyntaxError, u"PerformIf"sv);
        break;  // "END IF"
      }
      ReadWord(*this, intInstance, w);
    }
    return true;
  });
}

bool InterpreterCore::PerformIf(std::int16_t intInstance) {
  return Guarded(u"PerformIf"sv, false, [&] {
    std::int16_t intType = 0;
    // Read into the instance's own buffer, which keeps its room between calls.
    std::u16string local;
    std::u16string& condition = intInstance >= 0 && intInstance < kHoldRows
                                    ? if_conditions_[static_cast<std::size_t>(intInstance)]
                                    : local;
    GetIfConditionInto(intInstance, condition);
    if (const std::u16string_view t = TrimSpaces(condition); t.size() != condition.size())
      condition = std::u16string(t);
    if (condition.compare(0, 3, u"IF "sv) == 0) condition.erase(0, 3);  // after an ELSEIF
    Variant value = ValueOf(RealizeRegularExpression(condition));
    if (value.kind() != Kind::Boolean && value.kind() != Kind::Date && IsNumeric(value))
      value = CDbl(value) != 0;

    // Numbers are Booleans by now; any other value (a text that is no number,
    // a date, Null) counts as not true.
    if (value.kind() == Kind::Boolean && value.boolean()) {
      std::u16string branch = GetStatements(intInstance, intType);
      value = ValueOf(RealizeRegularExpression(branch));
    } else {
      GetStatements(intInstance, intType);
      if (intType == kBranchEndElseIf) {
        if (PerformIf(intInstance)) value = ValueOf(StackOf(intInstance).Pop());
      } else if (intType == kBranchEndElse) {
        // An ELSE with no words would be read again and again: stop once the
        // reading no longer moves, and let the block be False.
        std::u16string branch;
        const auto slot = static_cast<std::size_t>(intInstance);
        for (;;) {
          const std::int16_t before = mintExpressionPtr[slot];
          branch = std::u16string(TrimSpaces(GetStatements(intInstance, intType)));
          if (!branch.empty()) break;
          const std::int16_t after = mintExpressionPtr[slot];
          if (after == before || after > static_cast<long>(mstrExpression[slot].size())) break;
        }
        value = branch.empty() ? Variant(false) : ValueOf(RealizeRegularExpression(branch));
      }
    }
    RemoveEndIf(intInstance);
    PushResult(std::move(value), intInstance);
    return true;
  });
}

}  // namespace tarn::detail
