// The platform's string replacement: the text from `start` on, with the
// first `count` non-overlapping occurrences replaced, found left to right.
#include "platform/text.h"
#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn {

std::u16string Replace(std::u16string_view text, std::u16string_view find,
                       std::u16string_view replacement, std::int32_t start, std::int32_t count,
                       std::int32_t compare) {
  if (start < 1 || count < -1) Raise(err::kInvalidProcedureCall);
  if (static_cast<std::size_t>(start) > text.size()) return {};
  std::u16string_view rest = text.substr(static_cast<std::size_t>(start) - 1);
  if (find.empty() || count == 0) return std::u16string(rest);
  const bool ignore_case = compare == 1;  // 0 and -1 (no Option Compare) are binary
  std::u16string out;
  out.reserve(rest.size());
  std::size_t pos = 0;
  std::int32_t done = 0;
  while (count == -1 || done < count) {
    std::size_t hit = ignore_case ? detail::FindIgnoreCase(rest, find, pos) : rest.find(find, pos);
    if (hit == std::u16string_view::npos) break;
    out.append(rest.substr(pos, hit - pos));
    out.append(replacement);
    pos = hit + find.size();
    ++done;
  }
  out.append(rest.substr(pos));
  return out;
}

}  // namespace tarn
