// Module-level text tools and the per-thread one-character constants.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn::detail {

// Trim, lower-case, then upper-case the first character and each character
// after a space: "  patient NAME  " -> "Patient Name".
std::u16string ProperCase(std::u16string_view text);
// The same into `out`, reusing its storage.
void ProperCaseInto(std::u16string_view text, std::u16string& out);

// Whether a growable array has not been created yet.
template <class T>
bool IsArrayNotDimensioned(const std::vector<T>& array) noexcept {
  return array.empty();
}

// One-character texts for the codes 1-7, 14-47, 91-96 and 123-127, one copy
// per thread; InitConstants fills them.
struct CharConstants {
  bool filled = false;
  char16_t code[128] = {};
};
void InitConstants();
const CharConstants& Constants() noexcept;

}  // namespace tarn::detail
