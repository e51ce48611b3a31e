#include "support/text_tools.h"

#include "platform/text.h"

namespace tarn::detail {

void ProperCaseInto(std::u16string_view text, std::u16string& out) {
  out.assign(TrimSpaces(text));
  bool start = true;
  for (auto& c : out) {
    c = start ? UpperChar(c) : LowerChar(c);
    start = c == u' ';
  }
}

std::u16string ProperCase(std::u16string_view text) {
  std::u16string out;
  ProperCaseInto(text, out);
  return out;
}

namespace {
thread_local CharConstants t_constants;
}

void InitConstants() {
  auto fill = [](int from, int to) {
    for (int c = from; c <= to; ++c) t_constants.code[c] = static_cast<char16_t>(c);
  };
  fill(1, 7);
  fill(14, 47);
  fill(91, 96);
  fill(123, 127);
  t_constants.filled = true;
}

const CharConstants& Constants() noexcept { return t_constants; }

}  // namespace tarn::detail
