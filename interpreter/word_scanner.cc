// The word scanner. A word ends at a space, at a line break, at "(", ","
// or ")" (which stay attached to its end), or where operator characters meet
// other characters; a run of operator characters is one word. String and
// date literals are read raw up to their closing delimiter. "<EOL>" stands
// for the end of the text and for a line that ends in a carriage return.
#include "interpreter/interpreter_core.h"
#include "platform/text.h"

namespace tarn::detail {

using namespace std::string_view_literals;

namespace {
constexpr std::u16string_view kEol = u"<EOL>"sv;
}

namespace {
bool AllSpaces(std::u16string_view s) noexcept {
  for (char16_t c : s)
    if (c != u' ') return false;
  return true;
}

// text[from, to) into the empty word (an append costs half an assignment).
inline void Take(std::u16string& word, const std::u16string& text, std::size_t from,
                 std::size_t to) {
  word.append(text.data() + from, to - from);
}

void TrimInPlace(std::u16string& s) {
  std::size_t e = s.size();
  while (e > 0 && s[e - 1] == u' ') --e;
  s.resize(e);
  std::size_t b = 0;
  while (b < s.size() && s[b] == u' ') ++b;
  if (b > 0) s.erase(0, b);
}
}  // namespace

// The shapes most words have, read as the loop below would read them: a
// run of ordinary characters or a literal ended by a space or by the end of
// the text, a lone operator character before a space, and the end of the
// text itself.
// A run ended otherwise is left in `word` with the position after it, for
// the loop to go on from.
bool InterpreterCore::ReadUsualWord(std::int16_t intInstance, std::u16string& word) {
  if (intInstance < 0 || static_cast<std::size_t>(intInstance) >= mintExpressionPtr.size() ||
      static_cast<std::size_t>(intInstance) >= mstrExpression.size())
    return false;
  std::int16_t& ptr = mintExpressionPtr[static_cast<std::size_t>(intInstance)];
  const std::u16string& text = mstrExpression[static_cast<std::size_t>(intInstance)];
  const std::size_t n = text.size();
  if (ptr < 0 || n >= static_cast<std::size_t>(kMaxPosition) - 1) return false;
  const auto p = static_cast<std::size_t>(ptr);
  if (p == n) {
    word.assign(kEol);
    ptr = static_cast<std::int16_t>(n + 1);
    return true;
  }
  if (p > n) return false;
  // Leading spaces are read and trimmed off again.
  std::size_t q = p;
  while (q < n && text[q] == u' ') ++q;
  if (q == n) return false;
  std::size_t at = q;
  while (at < n && !IsSpecialChar(text[at])) ++at;
  if (at > q) {
    if (at < n && text[at] != u' ') {
      if (q > p) return false;
      // The loop below goes on from the run as if it had read it itself.
      Take(word, text, q, at);
      ptr = static_cast<std::int16_t>(at);
      return false;
    }
    Take(word, text, q, at);
    ptr = static_cast<std::int16_t>(at + 1);  // past the space, or the end read
    return true;
  }
  const char16_t c = text[q];
  if (c == u'"' || c == u'#') {
    // A literal, read raw to its closing delimiter, ended by a space or by
    // the end of the text.
    std::size_t k = q + 1;
    while (k < n && text[k] != c && text[k] != kEndOfText) ++k;
    if (k == n || text[k] != c || (k + 1 < n && text[k + 1] != u' ')) return false;
    Take(word, text, q, k + 1);
    ptr = static_cast<std::int16_t>(k + 2);
    return true;
  }
  if (q + 1 < n && text[q + 1] == u' ' && IsOperatorChar(c) && !IsDelimiterChar(c) && c != u',' &&
      c != u'(' && c != u')' && c != u'"' && c != u'#' && c != u'\r' && c != u'\n' &&
      c != kEndOfText) {
    Take(word, text, q, q + 1);
    ptr = static_cast<std::int16_t>(q + 1);
    return true;
  }
  return false;
}

std::u16string InterpreterCore::GetNextWord(std::int16_t intInstance) {
  std::u16string word;
  GetNextWordInto(intInstance, word);
  return word;
}

void InterpreterCore::GetNextWordLate(std::int16_t intInstance, std::u16string& acc) {
  const bool read = Guarded(u"GetNextWord"sv, false, [&] {
    // Characters are read in place while the position is an ordinary one;
    // anything unusual goes through GetNextChar and PeekNextChar, which
    // report it.
    const bool slot = intInstance >= 0 &&
                      static_cast<std::size_t>(intInstance) < mintExpressionPtr.size() &&
                      static_cast<std::size_t>(intInstance) < mstrExpression.size();
    std::int16_t* ptr = slot ? &mintExpressionPtr[static_cast<std::size_t>(intInstance)] : nullptr;
    const std::u16string* text =
        slot ? &mstrExpression[static_cast<std::size_t>(intInstance)] : nullptr;
    auto next = [&]() -> char16_t {
      if (ptr && *ptr >= 0 && *ptr < kMaxPosition) {
        ++*ptr;
        return static_cast<std::size_t>(*ptr) <= text->size()
                   ? (*text)[static_cast<std::size_t>(*ptr) - 1]
                   : kEndOfText;
      }
      return GetNextChar(intInstance);
    };
    auto peek = [&]() -> int {
      if (ptr && *ptr >= 0 && *ptr < kMaxPosition)
        return static_cast<std::size_t>(*ptr) < text->size()
                   ? (*text)[static_cast<std::size_t>(*ptr)]
                   : kEndOfText;
      return PeekNextChar(intInstance);
    };

    bool done = false;
    do {
      // A run of ordinary characters (none that the loop below treats
      // specially) is taken from the text in one piece.
      if (ptr && *ptr >= 0) {
        const std::size_t from = static_cast<std::size_t>(*ptr);
        const std::size_t end = std::min<std::size_t>(text->size(), kMaxPosition);
        std::size_t at = from;
        while (at < end && !IsSpecialChar((*text)[at])) ++at;
        if (at > from) {
          acc.append(*text, from, at - from);
          *ptr = static_cast<std::int16_t>(at);
        }
      }
      const char16_t ch = next();
      if (ch == kEndOfText || ch == u'\r' || ch == u'(' || ch == u',' || ch == u')') {
        if (acc.empty() || ch != kEndOfText) acc += ch;
        break;
      }
      if (ch == u'"' || ch == u'#') {
        // Read raw up to the closing delimiter or the end of the text,
        // whose marker then stays in it.
        const std::size_t before = acc.size();
        try {
          acc += ch;
          for (;;) {
            const char16_t c = next();
            acc += c;
            if (c == ch || c == kEndOfText) break;
          }
        } catch (...) {
          acc.resize(before);
          ReportError(ch == u'"' ? u"GetLiteralString"sv : u"GetLiteralDate"sv, err::kOutOfMemory,
                      ErrorDescription(err::kOutOfMemory));
        }
        continue;
      }
      if (IsDelimiterChar(ch)) {
        done = !AllSpaces(acc);  // leading spaces are skipped
        // A space that ends a word would only be trimmed off again.
        if (!(done && ch == u' ')) acc += ch;
        continue;
      }
      if (ch == u'\n') break;
      if (IsOperatorChar(ch)) {
        bool kept = true;
        if (!AllSpaces(acc) && !IsOperator(acc)) {
          // An operand ends here; the operator character is read again next time.
          PutLastChar(intInstance);
          kept = false;
          done = true;
        }
        if (!IsOperatorChar(peek())) done = true;
        if (kept) acc += ch;
        continue;
      }
      acc += ch;
    } while (!done);
    if (acc.size() == 1 && (acc[0] == kEndOfText || acc[0] == u'\r'))
      acc.assign(kEol);
    else
      TrimInPlace(acc);
    return true;
  });
  if (!read) acc.clear();
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
  return Guarded(u"GetLiteralString"sv, std::u16string(),
                 [&] { return ReadLiteral(*this, intInstance, u'"'); });
}

std::u16string InterpreterCore::GetLiteralDate(std::int16_t intInstance) {
  return Guarded(u"GetLiteralDate"sv, std::u16string(),
                 [&] { return ReadLiteral(*this, intInstance, u'#'); });
}

bool InterpreterCore::PutLastWord(std::int16_t intInstance, const std::u16string& strWord) {
  return Guarded(u"PutLastWord"sv, false, [&] {
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
  return Guarded(u"PeekNextWord"sv, std::u16string(), [&] {
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
