// Text helpers shared by the platform layer and the interpreter.
#pragma once

#include <string>
#include <string_view>

namespace tarn::detail {

// Removes the space character (code 32 only) from both ends.
std::u16string_view TrimSpaces(std::u16string_view s) noexcept;

// The platform's UCase / LCase: letters only, the length never changes.
std::u16string UpperCase(std::u16string_view s);
std::u16string LowerCase(std::u16string_view s);
char16_t UpperChar(char16_t c) noexcept;
char16_t LowerChar(char16_t c) noexcept;

// Whether two texts are equal without regard to letter case.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) noexcept;

// Position of `needle` in `hay` from `from`, without regard to case; npos if
// absent.
std::size_t FindIgnoreCase(std::u16string_view hay, std::u16string_view needle,
                           std::size_t from = 0) noexcept;

// ASCII text to 16-bit characters (for literals built at run time).
std::u16string Widen(std::string_view ascii);

}  // namespace tarn::detail
