// Finds the names of an expression as the interpreter cuts words (spaces,
// line breaks, "(),", runs of operator characters; "..." and #...# read
// whole) and measures how far a name is from the fields that exist.
#include "hl7/names.h"

#include <algorithm>

#include "tarn/interpreter.h"
#include "tarn/value.h"

namespace tarn::hl7 {

namespace {

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

bool Ends(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'(' || c == u')' ||
         c == u',' || c == u'"' || c == u'#' ||
         std::u16string_view(u"+-*/\\<>=&!").find(c) != std::u16string_view::npos;
}

bool IsKeyword(std::u16string_view w) { return ClassifyWord(w) != WordKind::Name; }

// Optimal string alignment distance, letter case ignored: a swap of two
// neighbours counts as one edit, as it is one slip of the fingers.
std::size_t Distance(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::size_t> prev2(m + 1), prev(m + 1), cur(m + 1);
  for (std::size_t j = 0; j <= m; ++j) prev[j] = j;
  for (std::size_t i = 1; i <= n; ++i) {
    cur[0] = i;
    for (std::size_t j = 1; j <= m; ++j) {
      const bool same = Upper(a[i - 1]) == Upper(b[j - 1]);
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && Upper(a[i - 1]) == Upper(b[j - 2]) &&
          Upper(a[i - 2]) == Upper(b[j - 1]))
        cur[j] = std::min(cur[j], prev2[j - 2] + 1);
    }
    prev2.swap(prev);
    prev.swap(cur);
  }
  return prev[m];
}

}  // namespace

bool SameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Upper(x) == Upper(y); });
}

std::vector<std::u16string> UnknownNames(std::u16string_view expression,
                                         const std::function<bool(std::u16string_view)>& is_field) {
  std::vector<std::u16string> out;
  std::size_t i = 0;
  while (i < expression.size()) {
    const char16_t c = expression[i];
    if (c == u'"' || c == u'#') {
      const std::size_t close = expression.find(c, i + 1);
      i = close == std::u16string_view::npos ? expression.size() : close + 1;
      continue;
    }
    if (Ends(c)) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < expression.size() && !Ends(expression[end])) ++end;
    const std::u16string_view word = expression.substr(i, end - i);
    i = end;
    if ((word[0] >= u'0' && word[0] <= u'9') || word[0] == u'.') continue;  // a number
    if (IsKeyword(word) || is_field(word)) continue;
    if (std::none_of(out.begin(), out.end(), [&](const auto& w) { return SameName(w, word); }))
      out.emplace_back(word);
  }
  return out;
}

bool IsNameAlone(std::u16string_view expression) {
  const auto letter = [](char16_t c) { return (c | 0x20) >= u'a' && (c | 0x20) <= u'z'; };
  if (expression.empty() || !letter(expression[0])) return false;
  for (const char16_t c : expression)
    if (!letter(c) && !(c >= u'0' && c <= u'9') && c != u'_') return false;
  // A field under a function's name is refused in strict mode.
  return !IsKeyword(expression);
}

std::u16string NearestName(std::u16string_view name,
                           const std::vector<std::u16string>& candidates) {
  const std::size_t allowed = name.size() <= 4 ? 1 : name.size() <= 8 ? 2 : 3;
  std::u16string best;
  std::size_t best_distance = allowed + 1;
  // Of names as near, the first in a fixed order: the collection's order
  // depends on what the builder met before.
  const auto before = [](std::u16string_view a, std::u16string_view b) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c | 0x20) : c; };
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
      if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]);
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  };
  for (const auto& c : candidates) {
    const std::size_t d = Distance(name, c);
    if (d < best_distance || (d == best_distance && !best.empty() && before(c, best))) {
      best_distance = d;
      best = c;
    }
  }
  return best;
}

std::string NoFieldMessage(std::u16string_view name,
                           const std::vector<std::u16string>& candidates) {
  std::string message = "no field '" + ToUtf8(std::u16string(name)) + "'";
  const std::u16string near = NearestName(name, candidates);
  if (!near.empty()) message += "; did you mean '" + ToUtf8(near) + "'?";
  return message;
}

}  // namespace tarn::hl7
