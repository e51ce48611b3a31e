// A text of the name list and the hold table. Names come and go several
// times per evaluation, and nearly all are generated ("Autodf1"): those are
// kept in place, without the general string's out-of-line growth; a longer
// name (a host's field may rename itself) goes to a string kept for reuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "tarn/export.h"

namespace tarn::detail {

class NameText {
 public:
  static constexpr std::size_t kInline = 12;  // "Autodf" and five digits, in 64 bytes

  NameText() noexcept = default;
  explicit NameText(std::u16string_view v) { assign(v); }

  bool empty() const noexcept { return size_ == 0; }
  std::size_t size() const noexcept { return size_; }
  const char16_t* data() const noexcept { return size_ <= kInline ? inline_ : long_.data(); }
  char16_t operator[](std::size_t i) const noexcept { return data()[i]; }
  operator std::u16string_view() const noexcept { return {data(), size_}; }
  std::u16string str() const { return std::u16string(data(), size_); }

  // n when the text is known to be the generated name "Autodf<n>", else 0.
  int generated() const noexcept { return generated_; }

  void clear() noexcept {
    size_ = 0;
    generated_ = 0;
  }
  // The generated name "Autodf<n>", spelled in `v`.
  TARN_ALWAYS_INLINE void assign_generated(std::u16string_view v, int n) noexcept {
    CopyShortText(inline_, v.data(), v.size());  // at most eleven characters
    size_ = static_cast<std::uint32_t>(v.size());
    generated_ = n;
  }
  TARN_ALWAYS_INLINE void assign(std::u16string_view v) {
    generated_ = 0;
    if (v.size() <= kInline) {
      CopyShortText(inline_, v.data(), v.size());
      size_ = static_cast<std::uint32_t>(v.size());
      return;
    }
    long_.assign(v);
    size_ = static_cast<std::uint32_t>(v.size());
  }
  TARN_ALWAYS_INLINE void assign(const NameText& o) {
    if (o.generated_ > 0)
      assign_generated(o, o.generated_);
    else
      assign(std::u16string_view(o));
  }
  NameText& operator=(std::u16string_view v) {
    assign(v);
    return *this;
  }

 private:
  std::uint32_t size_ = 0;
  std::int32_t generated_ = 0;
  char16_t inline_[kInline] = {};
  std::u16string long_;
};

// The number of a name spelled "Autodf<digits>" (up to five), or -1.
inline int GeneratedNameNumber(std::u16string_view name) noexcept {
  if (name.size() < 7 || name.size() > 11 ||
      std::memcmp(name.data(), u"Autodf", 6 * sizeof(char16_t)) != 0)
    return -1;
  int n = 0;
  for (std::size_t i = 6; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c < u'0' || c > u'9') return -1;
    n = n * 10 + (c - u'0');
  }
  return n;
}

}  // namespace tarn::detail
