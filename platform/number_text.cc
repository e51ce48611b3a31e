// Placeholder: replaced by the full number parser and writer.
#include "platform/number_text.h"

#include <cstdlib>
#include <string>

#include "platform/text.h"
#include "tarn/value.h"

namespace tarn::detail {

std::optional<double> ParseNumber(std::u16string_view text) {
  std::string s = ToUtf8(TrimSpaces(text));
  if (s.empty()) return std::nullopt;
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  if (*end != '\0') return std::nullopt;
  return d;
}

std::u16string DoubleToText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  return Widen(buf);
}

std::u16string SingleToText(float v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.7G", static_cast<double>(v));
  return Widen(buf);
}

}  // namespace tarn::detail
