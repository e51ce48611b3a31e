// The text tools that need no case table of the platform's: whole texts
// mapped a character at a time, search ignoring case, widening ASCII, UTF-8
// of ASCII texts. Both text layers (ICU and the Windows one) share them.
#include "platform/text.h"
#include "tarn/value.h"

namespace tarn::detail {

std::u16string UpperCase(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) c = UpperChar(c);
  return r;
}

std::u16string LowerCase(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) c = LowerChar(c);
  return r;
}

std::size_t FindIgnoreCase(std::u16string_view hay, std::u16string_view needle,
                           std::size_t from) noexcept {
  if (needle.size() > hay.size()) return std::u16string_view::npos;
  for (std::size_t i = from; i + needle.size() <= hay.size(); ++i)
    if (EqualsIgnoreCase(hay.substr(i, needle.size()), needle)) return i;
  return std::u16string_view::npos;
}

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace tarn::detail

namespace tarn {

// Nearly every text is ASCII, which needs no converter: it is copied a
// character at a time until the first character beyond it.
std::u16string FromUtf8(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) return detail::FromUtf8Slow(text);
    out[i] = c;
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0x80) return detail::ToUtf8Slow(text);
    out[i] = static_cast<char>(text[i]);
  }
  return out;
}

}  // namespace tarn
