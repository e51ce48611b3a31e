// The text layer on Linux and macOS: ICU maps letter case and converts
// UTF-8.
#include "platform/text.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "tarn/object.h"

namespace tarn::detail {

char16_t UpperCharSlow(char16_t c) noexcept {
  if (c < 0x80) return UpperChar(c);
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_toupper(c);
  return u <= 0xFFFF ? char16_t(u) : c;
}

char16_t LowerCharSlow(char16_t c) noexcept {
  if (c < 0x80) return LowerChar(c);
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_tolower(c);
  return u <= 0xFFFF ? char16_t(u) : c;
}

std::u16string FromUtf8Slow(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &len, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return detail::Widen(text);
  out.resize(static_cast<std::size_t>(len));
  return out;
}

std::string ToUtf8Slow(std::u16string_view text) {
  std::string out(text.size() * 3, '\0');
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &len, text.data(),
                     static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<std::size_t>(len));
  return out;
}

}  // namespace tarn::detail
