// The text layer on Windows: the platform's own case mapping and UTF-8
// conversion take the place of ICU, which has no Windows build here.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "platform/text.h"

#include <windows.h>

#include "tarn/object.h"

namespace tarn::detail {

namespace {
// One character through LCMapStringEx; characters that would change length
// (or surrogate halves) stay as they are, as the platform's UCase keeps the
// length.
char16_t MapChar(char16_t c, DWORD how) noexcept {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  const wchar_t in = static_cast<wchar_t>(c);
  wchar_t out[4] = {};
  const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, how, &in, 1, out, 4, nullptr, nullptr, 0);
  return n == 1 ? static_cast<char16_t>(out[0]) : c;
}
}  // namespace

char16_t UpperCharSlow(char16_t c) noexcept {
  if (c < 0x80) return UpperChar(c);
  return MapChar(c, LCMAP_UPPERCASE);
}

char16_t LowerCharSlow(char16_t c) noexcept {
  if (c < 0x80) return LowerChar(c);
  return MapChar(c, LCMAP_LOWERCASE);
}

// Invalid sequences become U+FFFD in both directions (the flags are left
// without MB_ERR_INVALID_CHARS on purpose).
std::u16string FromUtf8Slow(std::string_view text) {
  if (text.empty()) return {};
  const int n = static_cast<int>(text.size());
  const int len = MultiByteToWideChar(CP_UTF8, 0, text.data(), n, nullptr, 0);
  if (len <= 0) return detail::Widen(text);
  std::u16string out(static_cast<std::size_t>(len), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), n, reinterpret_cast<wchar_t*>(out.data()), len);
  return out;
}

std::string ToUtf8Slow(std::u16string_view text) {
  if (text.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(text.data());
  const int n = static_cast<int>(text.size());
  const int len = WideCharToMultiByte(CP_UTF8, 0, w, n, nullptr, 0, nullptr, nullptr);
  if (len <= 0) return {};
  std::string out(static_cast<std::size_t>(len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w, n, out.data(), len, nullptr, nullptr);
  return out;
}

}  // namespace tarn::detail
