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

// Most words have one of a few shapes, read here at once: a run of
// ordinary characters or a literal ended by a space or by the end of the
// text, a run ended by a comma, a lone operator character before a space,
// and the end of the text itself. Anything else goes on in the general loop, from a run of ordinary
// characters already taken where there is one.
void InterpreterCore::GetNextWord(Frame& f, std::u16string& word) {
  word.clear();
  const std::u16string& text = f.text;
  const std::size_t n = text.size();
  if (f.position >= 0 && n < static_cast<std::size_t>(kMaxPosition) - 1) {
    const auto p = static_cast<std::size_t>(f.position);
    if (p == n) {
      word.assign(kEol);
      f.position = static_cast<std::int16_t>(n + 1);
      return;
    }
    // Leading spaces are read and trimmed off again.
    std::size_t q = p;
    while (q < n && text[q] == u' ') ++q;
    if (p < n && q < n) {
      std::size_t at = q;
      while (at < n && !IsSpecialChar(text[at])) ++at;
      const char16_t c = text[q];
      if (at > q) {
        if (at == n || text[at] == u' ') {
          Take(word, text, q, at);
          f.position = static_cast<std::int16_t>(at + 1);  // past the space, or the end read
          return;
        }
        if (text[at] == u',') {  // an argument: the comma stays attached
          Take(word, text, q, at + 1);
          f.position = static_cast<std::int16_t>(at + 1);
          return;
        }
        if (q == p) {
          Take(word, text, q, at);
          f.position = static_cast<std::int16_t>(at);
        }
      } else if (c == u'"' || c == u'#') {
        // A literal, read raw to its closing delimiter.
        std::size_t k = q + 1;
        while (k < n && text[k] != c && text[k] != kEndOfText) ++k;
        if (k < n && text[k] == c && (k + 1 == n || text[k + 1] == u' ')) {
          Take(word, text, q, k + 1);
          f.position = static_cast<std::int16_t>(k + 2);
          return;
        }
      } else if (q + 1 < n && text[q + 1] == u' ' && IsOperatorChar(c) && !IsDelimiterChar(c) &&
                 c != u',' && c != u'(' && c != u')' && c != u'"' && c != u'#' && c != u'\r' &&
                 c != u'\n' && c != kEndOfText) {
        Take(word, text, q, q + 1);
        f.position = static_cast<std::int16_t>(q + 1);
        return;
      }
    }
  }
  ReadWordGeneral(f, word);
}

void InterpreterCore::ReadWordGeneral(Frame& f, std::u16string& acc) {
  const bool read = Guarded(u"GetNextWord"sv, false, [&] {
    // Characters are read in place while the position is an ordinary one;
    // anything unusual goes through GetNextChar and PeekNextChar, which
    // report it.
    const std::u16string& text = f.text;
    auto next = [&]() -> char16_t { return GetNextChar(f); };
    auto peek = [&]() -> int { return PeekNextChar(f); };

    bool done = false;
    do {
      // A run of ordinary characters (none that the loop below treats
      // specially) is taken from the text in one piece.
      if (f.position >= 0) {
        const auto from = static_cast<std::size_t>(f.position);
        const std::size_t end = std::min<std::size_t>(text.size(), kMaxPosition);
        std::size_t at = from;
        while (at < end && !IsSpecialChar(text[at])) ++at;
        if (at > from) {
          acc.append(text, from, at - from);
          f.position = static_cast<std::int16_t>(at);
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
          PutLastChar(f);
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

bool InterpreterCore::PutLastWord(Frame& f, std::u16string_view word) {
  return Guarded(u"PutLastWord"sv, false, [&] {
    if (word.empty()) return true;
    const long moved = long{f.position} - static_cast<long>(word.size()) - 1;
    if (moved < -32768) Raise(err::kOverflow);
    f.position = static_cast<std::int16_t>(moved);
    return true;
  });
}

// Restores the exact position from before the read, so that the next
// GetNextWord returns the peeked word whatever character ended it.
std::u16string InterpreterCore::PeekNextWord(Frame& f) {
  return Guarded(u"PeekNextWord"sv, std::u16string(), [&] {
    const std::int16_t saved = f.position;
    std::u16string w;
    GetNextWord(f, w);
    if (!w.empty() && w.back() == u'\r') w.pop_back();
    if (w == kEol) return std::u16string();
    f.position = saved;
    return w;
  });
}

}  // namespace tarn::detail
