#include "platform/text.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "tarn/object.h"

namespace tarn::detail {

std::u16string_view TrimSpaces(std::u16string_view s) noexcept {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.substr(b, e - b);
}

char16_t UpperChar(char16_t c) noexcept {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_toupper(c);
  return u <= 0xFFFF ? char16_t(u) : c;
}

char16_t LowerChar(char16_t c) noexcept {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_tolower(c);
  return u <= 0xFFFF ? char16_t(u) : c;
}

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

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
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

std::u16string FromUtf8(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &len, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return detail::Widen(text);
  out.resize(static_cast<std::size_t>(len));
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  std::string out(text.size() * 3, '\0');
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &len, text.data(),
                     static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<std::size_t>(len));
  return out;
}

}  // namespace tarn
