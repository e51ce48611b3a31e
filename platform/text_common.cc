// The text tools that need no case table of the platform's: whole texts
// mapped a character at a time, search ignoring case, widening ASCII. Both
// text layers (ICU and the Windows one) share them.
#include "platform/text.h"

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
