// Where the library reads its registry settings from.
//
// The library only reads the registry (the debug log's switches, see
// docs/debug-log.md), through a small layer with three operations that
// mirror the Windows API: open a key below a root for querying, query a
// value's type and data into a caller's buffer, close the key. A host can
// choose what stands behind that layer:
//
//   * the system default (SetRegistryBackend(nullptr) or UseSystemRegistry()):
//     on Windows the Windows registry itself; elsewhere the registry file
//     named by the environment variable TARNINTR_REGISTRY, read again
//     whenever it changes (no variable or no file: every key is missing);
//   * a registry file in the format that the Windows registry editor exports
//     (UseRegistryFile);
//   * an in-memory registry that the host fills itself (UseMemoryRegistry),
//     for tests and for hosts that keep their settings elsewhere;
//   * any RegistryBackend of the host's own.
//
// The choice is process-wide: every thread and every Interpreter reads the
// backend installed last. Installing one is safe while other threads read;
// a read that has already started finishes with the previous backend.
// Tests can install a backend for one test with ScopedRegistryBackend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarn/export.h"

namespace tarn {

// A handle of an open key or a predefined root, as wide as a pointer. The
// predefined roots are the Windows values, sign-extended.
using RegistryKey = std::uintptr_t;

namespace reg {
constexpr RegistryKey Root(std::uint32_t value) noexcept {
  return static_cast<RegistryKey>(static_cast<std::intptr_t>(static_cast<std::int32_t>(value)));
}
inline constexpr RegistryKey kClassesRoot = Root(0x80000000u);
inline constexpr RegistryKey kCurrentUser = Root(0x80000001u);
inline constexpr RegistryKey kLocalMachine = Root(0x80000002u);
inline constexpr RegistryKey kUsers = Root(0x80000003u);
inline constexpr RegistryKey kCurrentConfig = Root(0x80000005u);

// Value types.
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kSz = 1;
inline constexpr std::uint32_t kExpandSz = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;
inline constexpr std::uint32_t kMultiSz = 7;
inline constexpr std::uint32_t kQword = 11;

// Status codes (Windows error numbers).
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kFileNotFound = 2;
inline constexpr std::int32_t kInvalidHandle = 6;
inline constexpr std::int32_t kInvalidParameter = 87;
inline constexpr std::int32_t kMoreData = 234;

// KEY_QUERY_VALUE, the only access right the library asks for.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
}  // namespace reg

// A value as the registry stores it: its type and its bytes. Text types hold
// UTF-16LE code units with the terminating zero, as Windows stores them.
struct TARN_API RegistryValue {
  std::uint32_t type = reg::kNone;
  std::vector<std::uint8_t> data;

  static RegistryValue String(std::u16string_view text);        // REG_SZ
  static RegistryValue ExpandString(std::u16string_view text);  // REG_EXPAND_SZ
  static RegistryValue Dword(std::uint32_t value);              // REG_DWORD
  static RegistryValue Raw(std::uint32_t type, std::vector<std::uint8_t> bytes);

  friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

// The three registry operations. Names and texts cross the layer in the
// system's ANSI code page as the Windows "A" functions take them (UTF-8 on
// systems other than Windows). Implementations must be safe to call from
// several threads at once.
class TARN_API RegistryBackend {
 public:
  virtual ~RegistryBackend();

  // Opens `sub_key` below `root` (a predefined root or a key that this
  // backend opened); an empty `sub_key` opens `root` again. kSuccess or an
  // error number (kFileNotFound for a missing key).
  virtual std::int32_t OpenKey(RegistryKey root, std::string_view sub_key, std::uint32_t access,
                               RegistryKey& key) = 0;
  // Like RegQueryValueExA: sets `type`, copies the data into `data` when
  // `size` bytes suffice and sets `size` to the data's length. When they do
  // not, returns kMoreData and leaves `data` as it was. Text values come back
  // converted to the ANSI code page, with their terminating zero. An empty
  // name is the key's default value.
  virtual std::int32_t QueryValue(RegistryKey key, std::string_view name, std::uint32_t& type,
                                  std::uint8_t* data, std::uint32_t& size) = 0;
  virtual std::int32_t CloseKey(RegistryKey key) = 0;
};

// A registry held in memory. Key paths start with the root's name
// ("HKEY_LOCAL_MACHINE\\SOFTWARE\\..." or the short form "HKLM\\...");
// keys and value names compare without regard to letter case. Changes are
// seen by keys opened after them.
class TARN_API MemoryRegistry final : public RegistryBackend {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;

  // Creates the key and its parents; false for a path without a known root.
  bool CreateKey(std::u16string_view key);
  // Creates the key as needed and sets the value ("" is the default value).
  bool SetValue(std::u16string_view key, std::u16string_view name, RegistryValue value);
  bool SetString(std::u16string_view key, std::u16string_view name, std::u16string_view text) {
    return SetValue(key, name, RegistryValue::String(text));
  }
  bool DeleteValue(std::u16string_view key, std::u16string_view name);
  // Deletes the key with everything below it.
  bool DeleteKey(std::u16string_view key);
  void Clear();
  bool KeyExists(std::u16string_view key) const;
  // The value, or nothing when the key or the value is missing.
  std::optional<RegistryValue> FindValue(std::u16string_view key, std::u16string_view name) const;

  // Applies a registry file's text (see ParseRegistryFile) on top of the
  // present contents. False, with nothing changed, when the text does not
  // start with a registry editor header.
  bool Import(std::u16string_view text);
  // The same for the bytes of a file: UTF-16LE with its byte order mark (as
  // the registry editor writes version 5.00 files), UTF-8 (with or without
  // a mark) or, when not valid UTF-8, Windows-1252.
  bool ImportBytes(std::string_view bytes);

  std::int32_t OpenKey(RegistryKey root, std::string_view sub_key, std::uint32_t access,
                       RegistryKey& key) override;
  std::int32_t QueryValue(RegistryKey key, std::string_view name, std::uint32_t& type,
                          std::uint8_t* data, std::uint32_t& size) override;
  std::int32_t CloseKey(RegistryKey key) override;

  struct Impl;  // opaque

 private:
  std::unique_ptr<Impl> impl_;
};

// A backend over a registry file (see ParseRegistryFile for the format).
// The file is read when a key is opened and only when its time stamp or
// size changed since the last read; a missing or unreadable file, or one
// without a registry editor header, makes every key missing.
TARN_API std::shared_ptr<RegistryBackend> MakeRegistryFileBackend(std::filesystem::path file);

// The system default: on Windows the Windows registry; elsewhere the
// registry file named by TARNINTR_REGISTRY at the time each key is opened.
TARN_API std::shared_ptr<RegistryBackend> MakeSystemRegistryBackend();

// Installs `backend` for the whole process (null: the system default) and
// returns the one installed before (null when that was the default).
TARN_API std::shared_ptr<RegistryBackend> SetRegistryBackend(
    std::shared_ptr<RegistryBackend> backend);
// The backend in use (never null).
TARN_API std::shared_ptr<RegistryBackend> CurrentRegistryBackend();

inline void UseSystemRegistry() { SetRegistryBackend(nullptr); }
inline void UseRegistryFile(std::filesystem::path file) {
  SetRegistryBackend(MakeRegistryFileBackend(std::move(file)));
}
inline void UseMemoryRegistry(std::shared_ptr<MemoryRegistry> registry) {
  SetRegistryBackend(std::move(registry));
}

// Installs a backend for the lifetime of the object and puts the previous
// one back afterwards.
class ScopedRegistryBackend {
 public:
  explicit ScopedRegistryBackend(std::shared_ptr<RegistryBackend> backend)
      : previous_(SetRegistryBackend(std::move(backend))) {}
  ~ScopedRegistryBackend() { SetRegistryBackend(std::move(previous_)); }
  ScopedRegistryBackend(const ScopedRegistryBackend&) = delete;
  ScopedRegistryBackend& operator=(const ScopedRegistryBackend&) = delete;

 private:
  std::shared_ptr<RegistryBackend> previous_;
};

// Registry file format (what the Windows registry editor exports):
//
//   Windows Registry Editor Version 5.00      (or REGEDIT4)
//
//   ; a comment
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Quillmont\Interfaces\Upload\Debug]
//   "WriteDebugLog"="1"                       REG_SZ; \" and \\ escapes
//   @="text"                                  the key's default value
//   "Count"=dword:0000001f                    REG_DWORD (hexadecimal)
//   "Path"=hex(2):25,00,54,00,00,00           REG_EXPAND_SZ (UTF-16LE bytes)
//   "Blob"=hex:01,02,\                        REG_BINARY; a line ending in
//     03,04                                   "\" continues on the next
//   "Other"=hex(b):...                        any type number in hexadecimal
//   "Gone"=-                                  deletes a value
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]        deletes a key
//
// Lines that do not parse are skipped. Returns false when the first
// non-blank line is not one of the two headers.
TARN_API bool ParseRegistryFile(std::u16string_view text, MemoryRegistry& into);

}  // namespace tarn
