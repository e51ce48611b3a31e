// Registry files in the format the Windows registry editor exports, and the
// backend that reads one.
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unicode/ustring.h>
#endif

#include <fstream>
#include <iterator>
#include <sstream>

#include "support/registry.h"

namespace tarn::detail {

namespace {

namespace fs = std::filesystem;

// Windows-1252 for the bytes 0x80-0x9F (the rest is Latin-1).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t FromCp1252(unsigned char b) {
  return (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
}

std::u16string DecodeUtf16(std::string_view bytes, bool big_endian) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    out[i] = static_cast<char16_t>(big_endian ? (a << 8 | b) : (b << 8 | a));
  }
  return out;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimBlanks(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (IsBlank(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
  return s.size() >= prefix.size() && FoldCase(s.substr(0, prefix.size())) == FoldCase(prefix);
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// A hexadecimal number of 1 to `max_digits` digits.
std::optional<std::uint32_t> ParseHex(std::u16string_view s, std::size_t max_digits) {
  if (s.empty() || s.size() > max_digits) return std::nullopt;
  std::uint32_t v = 0;
  for (char16_t c : s) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v << 4 | static_cast<std::uint32_t>(d);
  }
  return v;
}

// A quoted text starting at s[0] == '"', with \" and \\ escapes (any other
// backslash is kept as it stands). Sets `end` past the closing quote.
std::optional<std::u16string> ParseQuoted(std::u16string_view s, std::size_t& end) {
  std::u16string out;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c == u'"') {
      end = i + 1;
      return out;
    }
    if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'"' || s[i + 1] == u'\\')) {
      out += s[++i];
      continue;
    }
    out += c;
  }
  return std::nullopt;  // no closing quote
}

// "01,02, ab" -> bytes.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::u16string_view s) {
  std::vector<std::uint8_t> out;
  std::u16string digits;
  auto flush = [&]() -> bool {
    if (digits.empty()) return true;
    const auto v = ParseHex(digits, 2);
    if (!v) return false;
    out.push_back(static_cast<std::uint8_t>(*v));
    digits.clear();
    return true;
  };
  bool any = false;
  for (char16_t c : s) {
    if (IsBlank(c) || c == u'\r' || c == u'\n') continue;
    if (c == u',') {
      if (digits.empty() || !flush()) return std::nullopt;
      any = false;
      continue;
    }
    digits += c;
    any = true;
  }
  if (any && !flush()) return std::nullopt;
  return out;
}

bool IsTextType(std::uint32_t type) {
  return type == reg::kSz || type == reg::kExpandSz || type == reg::kMultiSz;
}

}  // namespace

std::u16string DecodeRegistryFileBytes(std::string_view bytes) {
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE)
    return DecodeUtf16(bytes.substr(2), false);
  if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF)
    return DecodeUtf16(bytes.substr(2), true);
  if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
    return FromUtf8(bytes.substr(3));
  if (bytes.size() >= 2 && at(0) != 0 && at(1) == 0) return DecodeUtf16(bytes, false);
  // UTF-8 when valid, else Windows-1252.
  std::u16string out(bytes.size(), u'\0');
#if defined(_WIN32)
  const int len = bytes.empty() ? 0
                                : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                                      static_cast<int>(bytes.size()),
                                                      reinterpret_cast<wchar_t*>(out.data()),
                                                      static_cast<int>(out.size()));
  if (len > 0 || bytes.empty()) {
#else
  int32_t len = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &len, bytes.data(),
                static_cast<int32_t>(bytes.size()), &status);
  if (U_SUCCESS(status)) {
#endif
    out.resize(static_cast<std::size_t>(len));
    return out;
  }
  out.clear();
  for (char b : bytes) out += FromCp1252(static_cast<unsigned char>(b));
  return out;
}

bool ApplyRegistryText(std::u16string_view text, RegistryTree& tree) {
  if (!text.empty() && text.front() == u'\xFEFF') text.remove_prefix(1);
  std::vector<std::u16string_view> lines;
  for (std::size_t i = 0; i <= text.size();) {
    std::size_t j = text.find(u'\n', i);
    if (j == std::u16string_view::npos) j = text.size();
    lines.push_back(text.substr(i, j - i));
    i = j + 1;
  }

  std::size_t n = 0;
  while (n < lines.size() && TrimBlanks(lines[n]).empty()) ++n;
  if (n == lines.size()) return false;
  const std::u16string_view header = TrimBlanks(lines[n]);
  const bool regedit4 = header == u"REGEDIT4";
  if (!regedit4 && header != u"Windows Registry Editor Version 5.00") return false;

  std::optional<std::u16string> current;  // the key of the last key line
  for (++n; n < lines.size(); ++n) {
    const std::u16string_view line = TrimBlanks(lines[n]);
    if (line.empty() || line.front() == u';') continue;

    if (line.front() == u'[') {
      current.reset();
      const std::size_t close = line.rfind(u']');
      if (close == std::u16string_view::npos || close < 1) continue;
      std::u16string_view inner = line.substr(1, close - 1);
      const bool remove = !inner.empty() && inner.front() == u'-';
      if (remove) inner.remove_prefix(1);
      const auto path = NormaliseKeyPath(inner);
      if (!path) continue;
      if (remove) {
        tree.DeleteKey(*path);
      } else {
        tree.CreateKey(*path);
        current = *path;
      }
      continue;
    }

    // A value line: "Name"=data or @=data.
    std::u16string name;
    std::size_t pos = 0;
    if (line.front() == u'@') {
      pos = 1;
    } else if (line.front() == u'"') {
      auto quoted = ParseQuoted(line, pos);
      if (!quoted) continue;
      name = std::move(*quoted);
    } else {
      continue;
    }
    std::u16string_view rest = TrimBlanks(line.substr(pos));
    if (rest.empty() || rest.front() != u'=') continue;
    rest = TrimBlanks(rest.substr(1));

    std::optional<RegistryValue> value;
    bool remove = false;
    if (!rest.empty() && rest.front() == u'"') {
      std::size_t end = 0;
      if (auto s = ParseQuoted(rest, end)) value = RegistryValue::String(*s);
    } else if (rest == u"-") {
      remove = true;
    } else if (StartsWithNoCase(rest, u"dword:")) {
      if (auto v = ParseHex(TrimBlanks(rest.substr(6)), 8)) value = RegistryValue::Dword(*v);
    } else if (StartsWithNoCase(rest, u"hex")) {
      // hex:..., hex(n):..., with "\" at the end of a line continuing it.
      std::u16string data(rest);
      while (!data.empty() && data.back() == u'\\' && n + 1 < lines.size()) {
        data.pop_back();
        data += TrimBlanks(lines[++n]);
      }
      std::optional<std::uint32_t> type;
      std::u16string_view d(data);
      d.remove_prefix(3);
      if (!d.empty() && d.front() == u':') {
        type = reg::kBinary;
        d.remove_prefix(1);
      } else if (!d.empty() && d.front() == u'(') {
        const std::size_t close = d.find(u')');
        if (close != std::u16string_view::npos && close + 1 < d.size() && d[close + 1] == u':') {
          type = ParseHex(d.substr(1, close - 1), 8);
          d.remove_prefix(close + 2);
        }
      }
      if (type) {
        if (auto bytes = ParseHexBytes(d)) {
          if (regedit4 && IsTextType(*type)) {
            // REGEDIT4 writes text types in the ANSI code page.
            std::vector<std::uint8_t> wide;
            for (std::uint8_t b : *bytes) {
              const char16_t c = FromCp1252(b);
              wide.push_back(static_cast<std::uint8_t>(c & 0xFF));
              wide.push_back(static_cast<std::uint8_t>(c >> 8));
            }
            bytes = std::move(wide);
          }
          value = RegistryValue::Raw(*type, std::move(*bytes));
        }
      }
    }
    if (!current) continue;
    if (remove) {
      if (auto it = tree.keys.find(*current); it != tree.keys.end())
        it->second.erase(FoldCase(name));
    } else if (value) {
      tree.keys[*current].insert_or_assign(FoldCase(name), std::move(*value));
    }
  }
  return true;
}

std::shared_ptr<const RegistryTree> RegistryFileCache::Get(const fs::path& file) {
  std::error_code ec;
  const auto stamp = fs::last_write_time(file, ec);
  const std::uintmax_t size = ec ? 0 : fs::file_size(file, ec);
  std::lock_guard lock(mu_);
  if (ec) {
    valid_ = false;
    tree_.reset();
    return nullptr;
  }
  if (valid_ && path_ == file && stamp_ == stamp && size_ == size) return tree_;

  std::ifstream in(file, std::ios::binary);
  if (!in) {
    valid_ = false;
    tree_.reset();
    return nullptr;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto tree = std::make_shared<RegistryTree>();
  tree_ = ApplyRegistryText(DecodeRegistryFileBytes(bytes), *tree) ? std::move(tree) : nullptr;
  path_ = file;
  stamp_ = stamp;
  size_ = size;
  valid_ = true;
  return tree_;
}

}  // namespace tarn::detail

namespace tarn {

namespace {

class FileRegistry final : public RegistryBackend {
 public:
  explicit FileRegistry(std::filesystem::path file) : file_(std::move(file)) {}

  std::int32_t OpenKey(RegistryKey root, std::string_view sub_key, std::uint32_t,
                       RegistryKey& key) override {
    return keys_.Open(root, sub_key, key, [this] { return cache_.Get(file_); });
  }
  std::int32_t QueryValue(RegistryKey key, std::string_view name, std::uint32_t& type,
                          std::uint8_t* data, std::uint32_t& size) override {
    return keys_.Query(key, name, type, data, size);
  }
  std::int32_t CloseKey(RegistryKey key) override { return keys_.Close(key); }

 private:
  const std::filesystem::path file_;
  detail::SnapshotKeys keys_;
  detail::RegistryFileCache cache_;
};

}  // namespace

std::shared_ptr<RegistryBackend> MakeRegistryFileBackend(std::filesystem::path file) {
  return std::make_shared<FileRegistry>(std::move(file));
}

}  // namespace tarn
