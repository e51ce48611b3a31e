// Text format sections: "@" (a character or a space), "&" (a character or
// nothing), "<" / ">" (whole result lower / upper case; the first one
// written wins), "!" (fill left to right), "\x" and "text" literals.
//
// Placeholders are filled right to left by default: with fewer characters
// than placeholders the first placeholders get the padding. With more
// characters than placeholders, the placeholders take the first characters
// and the surplus is appended to the result. The second section serves ""
// and Null.
#include <string>
#include <vector>

#include "platform/format.h"
#include "platform/text.h"

namespace tarn::detail {

namespace {

struct TextItem {
  char16_t placeholder;  // '@' or '&', 0 for a literal
  std::u16string_view literal;
};

}  // namespace

std::u16string FormatText(std::u16string_view text, bool is_null, const FormatSections& sections) {
  std::u16string_view f = sections.section[0];
  if ((is_null || text.empty()) && sections.count >= 2)
    f = sections.section[1];
  else if (is_null)
    return {};

  std::vector<TextItem> items;
  char16_t case_mode = 0;
  bool left_to_right = false;
  int places = 0;
  for (std::size_t i = 0; i < f.size(); ++i) {
    char16_t c = f[i];
    if (c == u'@' || c == u'&') {
      items.push_back({c, {}});
      ++places;
    } else if (c == u'<' || c == u'>') {
      if (case_mode == 0) case_mode = c;
    } else if (c == u'!') {
      left_to_right = true;
    } else if (c == u'\\') {
      if (i + 1 < f.size()) items.push_back({0, f.substr(++i, 1)});
    } else if (c == u'"') {
      auto q = f.find(u'"', i + 1);
      if (q == std::u16string_view::npos) q = f.size();
      items.push_back({0, f.substr(i + 1, q - i - 1)});
      i = q;
    } else {
      items.push_back({0, f.substr(i, 1)});
    }
  }

  const int len = static_cast<int>(text.size());
  // Placeholders before `first_char` get padding (right-to-left fill).
  int pad_before = (!left_to_right && len < places) ? places - len : 0;
  std::u16string out;
  int slot = 0, next = 0;
  for (const TextItem& it : items) {
    if (it.placeholder == 0) {
      out += it.literal;
      continue;
    }
    bool pad = slot < pad_before || next >= len;
    if (pad) {
      if (it.placeholder == u'@') out += u' ';
    } else {
      out += text[static_cast<std::size_t>(next++)];
    }
    ++slot;
  }
  if (next < len) out += text.substr(static_cast<std::size_t>(next));
  if (case_mode == u'<') return LowerCase(out);
  if (case_mode == u'>') return UpperCase(out);
  return out;
}

}  // namespace tarn::detail
