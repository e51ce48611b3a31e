// IF blocks. A block is an expression whose value is that of the chosen
// branch, or the condition's own value when no branch is chosen:
//
//   IfBlock -> IF cond THEN body {ELSEIF cond THEN body} [ELSE body] (END IF | ENDIF)
//
// The condition and the chosen branch are evaluated by nested calls of the
// entry point, each in an instance of its own; the branch words are joined
// without separators, the condition words with single spaces. Every reader
// here drops a carriage return at the end of a word before looking at it.
#include "interpreter/interpreter_core.h"
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/host.h"

namespace tarn::detail {

using namespace std::string_view_literals;
using namespace std::string_literals;

namespace {
constexpr std::u16string_view kEol = u"<EOL>"sv;
constexpr std::u16string_view kNestedIf =
    u"an IF block inside a branch cannot be evaluated; nest it through a field or use ELSEIF"sv;

// Whether a branch word, appended to the branch without a space, runs into
// the word before it: a word's last character meets one that goes on a word
// or opens a call, so that two operands become one ("FormatHL7DateTime" and
// "DeathTime", "1" and "2").
bool RunsTogether(std::u16string_view branch, std::u16string_view word) {
  if (branch.empty() || word.empty()) return false;
  constexpr std::u16string_view kEnds = u"+-*/\\<>=!&(), "sv;
  constexpr std::u16string_view kStarts = u"+-*/\\<>=!&), "sv;
  return kEnds.find(branch.back()) == std::u16string_view::npos &&
         kStarts.find(word.front()) == std::u16string_view::npos;
}

// The next word into `w`, without a carriage return at its end.
void ReadWord(InterpreterCore& core, Frame& f, std::u16string& w) {
  core.GetNextWord(f, w);
  if (!w.empty() && w.back() == u'\r') w.pop_back();
}

}  // namespace

void InterpreterCore::GetIfCondition(Frame& f, std::u16string& condition) {
  condition.clear();
  const bool read = Guarded(u"GetIfCondition"sv, false, [&] {
    std::u16string& w = if_word_;
    ReadWord(*this, f, w);
    while (!EqualsIgnoreCase(TrimSpaces(w), u"THEN"sv) && w != kEol) {
      if (!condition.empty()) condition += u' ';
      condition += w;
      ReadWord(*this, f, w);
    }
    return true;
  });
  if (!read) condition.clear();
}

std::u16string InterpreterCore::GetStatements(Frame& f, std::int16_t& type) {
  return Guarded(u"GetStatements"sv, std::u16string(), [&] {
    std::u16string branch, w;
    std::size_t last_start = 0;  // of the last word in the branch
    bool first = true;
    for (;; first = false) {
      ReadWord(*this, f, w);
      // The keywords in capitals, compared without building the capitals.
      const std::u16string_view word = TrimSpaces(w);
      auto key_is = [&](std::u16string_view k) { return EqualsIgnoreCase(word, k); };
      if (key_is(u"ELSE"sv)) {
        if (first) continue;  // "THEN ELSE" loses the ELSE
        type = kBranchEndElse;
        PutLastWord(f, w);
        return branch;
      }
      if (key_is(u"ELSEIF"sv)) {
        type = kBranchEndElseIf;
        PutLastWord(f, u"IF");  // the chain goes on as a block of its own
        return branch;
      }
      if (key_is(u"ENDIF"sv)) {
        PutLastWord(f, w);
        return branch;
      }
      if (key_is(u"END"sv)) {
        if (TrimSpaces(PeekNextWord(f)) != u"IF"sv) RaiseOwn(code::kSyntaxError, u"PerformIf"sv);
        PutLastWord(f, w);
        return branch;
      }
      if (key_is(kEol)) RaiseOwn(code::kSyntaxError, u"PerformIf"sv);
      if (strict_) [[unlikely]] {
        if (key_is(u"IF"sv)) {
          ReportStrict(u"GetStatements"sv, kNestedIf);
        } else if (RunsTogether(branch, w)) {
          const std::u16string before = branch.substr(last_start);
          ReportStrict(u"GetStatements"sv, u"a branch's words are joined without spaces, so \"" +
                                               before + u"\" and \"" + w +
                                               u"\" run together into \"" + before + w +
                                               u"\"; compute the value in a field of its own"s);
        }
      }
      last_start = branch.size();
      branch += w;
    }
  });
}

bool InterpreterCore::RemoveEndIf(Frame& f) {
  return Guarded(u"RemoveEndIf"sv, false, [&] {
    std::u16string w, next;
    ReadWord(*this, f, w);
    for (bool after_end = true;;) {
      const std::u16string_view t = TrimSpaces(w);
      if (SameText(t, u"END IF"sv) || SameText(w, kEol) || SameText(w, u"ENDIF"sv)) break;
      if (SameText(t, u"END"sv)) {
        ReadWord(*this, f, next);
        if (!SameText(TrimSpaces(next), u"IF"sv)) RaiseOwn(code::kSyntaxError, u"PerformIf"sv);
        break;  // "END IF"
      }
      // The first word may be the IF that an ELSEIF left behind, and an END
      // in other letters than capitals is skipped here with its IF.
      if (strict_) [[unlikely]] {
        if (!after_end && EqualsIgnoreCase(t, u"IF"sv)) ReportStrict(u"RemoveEndIf"sv, kNestedIf);
        after_end = EqualsIgnoreCase(t, u"END"sv);
      }
      ReadWord(*this, f, w);
    }
    return true;
  });
}

void InterpreterCore::CheckBranch(std::u16string_view branch) noexcept {
  if (!last_was_error_ || strict_fault_) return;
  try {
    ReportStrict(u"PerformIf"sv, u"the branch \"" + std::u16string(branch) +
                                     u"\" cannot be evaluated (it gives the Error field)");
  } catch (...) {
    ReportStrict(u"PerformIf"sv, u"a branch cannot be evaluated"sv);
  }
}

bool InterpreterCore::PerformIf(Frame& f) {
  return Guarded(u"PerformIf"sv, false, [&] {
    std::int16_t type = 0;
    // Read into the frame's own buffer, which keeps its room between calls.
    std::u16string& condition = f.condition;
    GetIfCondition(f, condition);
    if (const std::u16string_view t = TrimSpaces(condition); t.size() != condition.size())
      condition = std::u16string(t);
    if (condition.compare(0, 3, u"IF "sv) == 0) condition.erase(0, 3);  // after an ELSEIF
    Variant value = host_->Value(RealizeRegularExpression(condition));
    if (strict_ && last_was_error_ && !strict_fault_) [[unlikely]]
      ReportStrict(u"PerformIf"sv, u"the condition \"" + condition +
                                       u"\" cannot be evaluated (it gives the Error field)");
    if (value.kind() != Kind::Boolean && value.kind() != Kind::Date && IsNumeric(value))
      value = CDbl(value) != 0;

    // Numbers are Booleans by now; any other value (a text that is no number,
    // a date, Null) counts as not true.
    if (value.kind() == Kind::Boolean && value.boolean()) {
      std::u16string branch = GetStatements(f, type);
      value = host_->Value(RealizeRegularExpression(branch));
      if (strict_) [[unlikely]]
        CheckBranch(branch);
    } else {
      GetStatements(f, type);
      if (type == kBranchEndElseIf) {
        if (PerformIf(f)) value = host_->Value(f.stack.Pop());
      } else if (type == kBranchEndElse) {
        // An ELSE with no words would be read again and again: stop once the
        // reading no longer moves, and let the block be False.
        std::u16string branch;
        for (;;) {
          const std::int16_t before = f.position;
          branch = std::u16string(TrimSpaces(GetStatements(f, type)));
          if (!branch.empty()) break;
          const std::int16_t after = f.position;
          if (after == before || after > static_cast<long>(f.text.size())) break;
        }
        value = branch.empty() ? Variant(false) : host_->Value(RealizeRegularExpression(branch));
        if (strict_ && !branch.empty()) [[unlikely]]
          CheckBranch(branch);
      }
    }
    RemoveEndIf(f);
    PushResult(f, std::move(value));
    return true;
  });
}

}  // namespace tarn::detail
