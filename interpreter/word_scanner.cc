// The word scanner. A word ends at a space, at a line break, at "(", ","
// or ")" (which stay attached to its end), or where operator characters meet
// other characters; a run of operator characters is one word. String and
// date literals are read raw up to their closing delimiter. "<EOL>" stands
// for the end of the text and for a line that ends in a carriage return.
#include "interpreter/interpreter_core.h"
#include "platform/text.h"

namespace tarn::detail {

namespace {
constexpr std::u16string_view kEol = u"<EOL>";
}

std::u16string InterpreterCore::GetNextWord(std::int16_t intInstance) {
  return Guarded(u"GetNextWord", std::u16string(), [&] {
    std::u16string acc;
    bool done = false;
    do {
      const char16_t ch = GetNextChar(intInstance);
      std::u16string literal;
      enum { kChar, kEmpty, kLiteral } c = kChar;
      if (ch == kEndOfText || ch == u'\r' || ch == u'(' || ch == u',' || ch == u')') {
        done = true;
      } else if (ch == u'"') {
        literal = GetLiteralString(intInstance);
        c = kLiteral;
      } else if (ch == u'#') {
        literal = GetLiteralDate(intInstance);
        c = kLiteral;
      } else if (IsDelimiterChar(ch)) {
        done = !TrimSpaces(acc).empty();  // leading spaces are skipped
      } else if (ch == u'\n') {
        done = true;
        c = kEmpty;
      } else if (IsOperatorChar(ch)) {
        if (!TrimSpaces(acc).empty() && !IsOperator(acc)) {
          // An operand ends here; the operator character is read again next time.
          PutLastChar(intInstance);
          c = kEmpty;
          done = true;
        }
        if (!IsOperatorChar(PeekNextChar(intInstance))) done = true;
      }
      if (!acc.empty()) {
        if (c == kLiteral)
          acc += literal;
        else if (c == kChar && ch != kEndOfText)
          acc += ch;
      } else if (c == kLiteral) {
        acc = std::move(literal);
      } else if (c == kChar) {
        acc.assign(1, ch);
      }
    } while (!done);
    if (acc.size() == 1 && (acc[0] == kEndOfText || acc[0] == u'\r')) return std::u16string(kEol);
    return std::u16string(TrimSpaces(acc));
  });
}

// A literal read raw up to its closing delimiter, or up to the end of the
// text, whose marker then stays in it.
static std::u16string ReadLiteral(InterpreterCore& core, std::int16_t instance,
                                  char16_t delimiter) {
  std::u16string result(1, delimiter);
  for (;;) {
    const char16_t c = core.GetNextChar(instance);
    result += c;
    if (c == delimiter || c == kEndOfText) return result;
  }
}

std::u16string InterpreterCore::GetLiteralString(std::int16_t intInstance) {
  return Guarded(u"GetLiteralString", std::u16string(),
                 [&] { return ReadLiteral(*this, intInstance, u'"'); });
}

std::u16string InterpreterCore::GetLiteralDate(std::int16_t intInstance) {
  return Guarded(u"GetLiteralDate", std::u16string(),
                 [&] { return ReadLiteral(*this, intInstance, u'#'); });
}

bool InterpreterCore::PutLastWord(std::int16_t intInstance, const std::u16string& strWord) {
  return Guarded(u"PutLastWord", false, [&] {
    if (strWord.empty()) return true;
    if (intInstance < 0 || static_cast<std::size_t>(intInstance) >= mintExpressionPtr.size())
      Raise(err::kSubscriptOutOfRange);
    std::int16_t& ptr = mintExpressionPtr[static_cast<std::size_t>(intInstance)];
    const long moved = long{ptr} - static_cast<long>(strWord.size()) - 1;
    if (moved < -32768) Raise(err::kOverflow);
    ptr = static_cast<std::int16_t>(moved);
    return true;
  });
}

// Restores the exact position from before the read, so that the next
// GetNextWord returns the peeked word whatever character ended it.
std::u16string InterpreterCore::PeekNextWord(std::int16_t intInstance) {
  return Guarded(u"PeekNextWord", std::u16string(), [&] {
    if (intInstance < 0 || static_cast<std::size_t>(intInstance) >= mintExpressionPtr.size())
      Raise(err::kSubscriptOutOfRange);
    const std::int16_t saved = mintExpressionPtr[static_cast<std::size_t>(intInstance)];
    std::u16string w = GetNextWord(intInstance);
    if (!w.empty() && w.back() == u'\r') w.pop_back();
    if (w == kEol) return std::u16string();
    mintExpressionPtr[static_cast<std::size_t>(intInstance)] = saved;
    return w;
  });
}

}  // namespace tarn::detail
