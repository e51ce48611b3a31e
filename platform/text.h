// Text helpers shared by the platform layer and the interpreter.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "tarn/export.h"

namespace tarn::detail {

// Removes the space character (code 32 only) from both ends.
inline std::u16string_view TrimSpaces(std::u16string_view s) noexcept {
  if (s.empty() || (s.front() != u' ' && s.back() != u' ')) return s;  // the usual case
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return std::u16string_view(s.data() + b, e - b);
}

// The platform's UCase / LCase: letters only, the length never changes.
std::u16string UpperCase(std::u16string_view s);
std::u16string LowerCase(std::u16string_view s);
char16_t UpperCharSlow(char16_t c) noexcept;  // beyond ASCII
char16_t LowerCharSlow(char16_t c) noexcept;
inline char16_t UpperChar(char16_t c) noexcept {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  return UpperCharSlow(c);
}
inline char16_t LowerChar(char16_t c) noexcept {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  return LowerCharSlow(c);
}

// Whether `bytes` bytes (between one and two words of W) are equal, read as
// a word from each end.
template <class W>
bool SameBytesFromBothEnds(const unsigned char* p, const unsigned char* q,
                           std::size_t bytes) noexcept {
  W x0, x1, y0, y1;
  std::memcpy(&x0, p, sizeof(W));
  std::memcpy(&y0, q, sizeof(W));
  std::memcpy(&x1, p + bytes - sizeof(W), sizeof(W));
  std::memcpy(&y1, q + bytes - sizeof(W), sizeof(W));
  return ((x0 ^ y0) | (x1 ^ y1)) == 0;
}

// Whether two texts are equal, compared as memory (the standard traits
// compare 16-bit characters one pair at a time). Short texts, the usual
// names and type words, are compared in two overlapping loads.
inline bool SameText(std::u16string_view a, std::u16string_view b) noexcept {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(a.data());
  const auto* q = reinterpret_cast<const unsigned char*>(b.data());
  const std::size_t bytes = n * sizeof(char16_t);
  if (bytes >= 8 && bytes <= 16) return SameBytesFromBothEnds<std::uint64_t>(p, q, bytes);
  if (bytes >= 4 && bytes < 8) return SameBytesFromBothEnds<std::uint32_t>(p, q, bytes);
  if (bytes == 2) return a[0] == b[0];
  return bytes == 0 || std::memcmp(p, q, bytes) == 0;
}

// Copies `n` (at most 16) characters as overlapping 8-byte words, without a
// call.
TARN_ALWAYS_INLINE void CopyShortText(char16_t* to, const char16_t* from, std::size_t n) noexcept {
  if (n >= 4) {
    std::uint64_t a, b, c, d;
    std::memcpy(&a, from, 8);
    std::memcpy(&b, from + n - 4, 8);
    if (n > 8) {
      std::memcpy(&c, from + 4, 8);
      std::memcpy(&d, from + n - 8, 8);
      std::memcpy(to + 4, &c, 8);
      std::memcpy(to + n - 8, &d, 8);
    }
    std::memcpy(to, &a, 8);
    std::memcpy(to + n - 4, &b, 8);
  } else if (n >= 2) {
    std::uint32_t a, b;
    std::memcpy(&a, from, 4);
    std::memcpy(&b, from + n - 2, 4);
    std::memcpy(to, &a, 4);
    std::memcpy(to + n - 2, &b, 4);
  } else if (n == 1) {
    to[0] = from[0];
  }
}

// Whether two texts are equal without regard to letter case.
inline bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

// Position of `needle` in `hay` from `from`, without regard to case; npos if
// absent.
std::size_t FindIgnoreCase(std::u16string_view hay, std::u16string_view needle,
                           std::size_t from = 0) noexcept;

// ASCII text to 16-bit characters (for literals built at run time).
std::u16string Widen(std::string_view ascii);

// UTF-8 conversion by the platform's own converter; FromUtf8 and ToUtf8
// call them only for texts beyond ASCII.
std::u16string FromUtf8Slow(std::string_view text);
std::string ToUtf8Slow(std::u16string_view text);

}  // namespace tarn::detail
