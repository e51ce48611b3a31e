// Registry access: ReadRegistryString over the registry layer,
// the in-memory backend, registry files and the backend selection.
#include "support/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_files.h"
#include "tarn/object.h"
#include "tarn/registry.h"

namespace {

namespace fs = std::filesystem;
using tarn::MemoryRegistry;
using tarn::RegistryKey;
using tarn::RegistryValue;
using tarn::ScopedRegistryBackend;
using tarn::Variant;
using tarn::testing::TempDir;

constexpr std::u16string_view kKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmont\\Test";

std::u16string Read(std::u16string sub_key, Variant name,
                    std::int32_t root = tarn::detail::kHKeyLocalMachine) {
  return tarn::detail::ReadRegistryString(root, sub_key, std::move(name));
}

// Any error number raised by the read, or nothing.
std::optional<std::int32_t> ReadError(std::u16string sub_key, Variant name) {
  try {
    Read(std::move(sub_key), std::move(name));
  } catch (const tarn::RuntimeError& e) {
    return e.number();
  }
  return std::nullopt;
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

class RegistryTest : public ::testing::Test {
 protected:
  std::shared_ptr<MemoryRegistry> mem = std::make_shared<MemoryRegistry>();
  ScopedRegistryBackend scope{mem};
};

// ---- ReadRegistryString ----

constexpr std::int32_t kLocalMachine = tarn::detail::kHKeyLocalMachine;

struct ReadCase {
  const char* label;
  std::optional<RegistryValue> value;  // stored as "Value" under kKey; nothing: no value
  std::u16string expected;
  std::u16string sub_key = u"SOFTWARE\\Quillmont\\Test";
  Variant name = Variant(u"Value");
  std::int32_t root = kLocalMachine;
};

const std::u16string kText = u"hello";

TEST_F(RegistryTest, ReadRegistryStringReadsAsSpecified) {
  const ReadCase cases[] = {
      ReadCase{"Text", RegistryValue::String(kText), kText},
      ReadCase{"Chars255", RegistryValue::String(std::u16string(255, u'x')),
               std::u16string(255, u'x')},
      ReadCase{"Chars256", RegistryValue::String(std::u16string(256, u'x')), u""},
      ReadCase{"Dword", RegistryValue::Dword(1), u""},
      ReadCase{"MultiSz", RegistryValue::Raw(tarn::reg::kMultiSz, {0x41, 0, 0, 0, 0, 0}), u""},
      ReadCase{"MissingValue", std::nullopt, u""},
      // Stored without a terminating zero: the last character is lost, as
      // the first (size - 1) characters are taken.
      ReadCase{"NoTerminator", RegistryValue::Raw(tarn::reg::kSz, {'a', 0, 'b', 0}), u"a"},
      ReadCase{"MissingKey", RegistryValue::String(kText), u"", u"SOFTWARE\\Nowhere"},
      ReadCase{"KeyAndNameIgnoreCaseAndTrailingBackslash", RegistryValue::String(kText), kText,
               u"software\\QUILLMONT\\test\\", Variant(u"vALUE")},
      ReadCase{"EmptyNameIsTheDefaultValue", std::nullopt, u"default", u"SOFTWARE\\Quillmont\\Test",
               Variant(u"")},
      ReadCase{"NameConvertedToText", std::nullopt, u"five", u"SOFTWARE\\Quillmont\\Test",
               Variant(std::int16_t{5})},
      ReadCase{"OtherRoot", RegistryValue::String(kText), u"user", u"SOFTWARE\\Quillmont\\Test",
               Variant(u"Value"), static_cast<std::int32_t>(0x80000001u)},
      ReadCase{"RootThatIsNoHandle", RegistryValue::String(kText), u"",
               u"SOFTWARE\\Quillmont\\Test", Variant(u"Value"), 12345},
  };
  mem->CreateKey(kKey);
  mem->SetString(u"HKCU\\SOFTWARE\\Quillmont\\Test", u"Value", u"user");
  mem->SetString(kKey, u"5", u"five");
  mem->SetString(kKey, u"", u"default");
  for (const ReadCase& c : cases) {
    if (c.value)
      mem->SetValue(kKey, u"Value", *c.value);
    else
      mem->DeleteValue(kKey, u"Value");
    EXPECT_EQ(Read(c.sub_key, c.name, c.root), c.expected) << c.label;
  }
}

TEST_F(RegistryTest, ZeroByteStringOrNullNameRaises) {
  mem->SetValue(kKey, u"Empty", RegistryValue::Raw(tarn::reg::kSz, {}));
  EXPECT_EQ(ReadError(u"SOFTWARE\\Quillmont\\Test", u"Empty"), 5);
  EXPECT_EQ(ReadError(u"SOFTWARE\\Quillmont\\Test", Variant::Null()), 94);
}

TEST_F(RegistryTest, OpenKeyHandleServesAsRoot) {
  mem->SetString(kKey, u"A", u"below");
  RegistryKey key = 0;
  ASSERT_EQ(
      mem->OpenKey(tarn::reg::kLocalMachine, "SOFTWARE\\Quillmont", tarn::reg::kKeyQueryValue, key),
      0);
  std::int32_t root = static_cast<std::int32_t>(key);
  EXPECT_EQ(Read(u"Test", u"A", root), u"below");
  EXPECT_EQ(mem->CloseKey(key), 0);
  EXPECT_EQ(mem->CloseKey(key), tarn::reg::kInvalidHandle);
}

// ---- Registry file parsing ----

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

struct ParseCase {
  const char* label;
  std::string body;  // after the header and a key line for kKey
  const char16_t* name;
  std::optional<RegistryValue> expected;
};

TEST(RegistryFile, ValuesAreParsed) {
  const ParseCase cases[] = {
      ParseCase{"String", "\"A\"=\"text\"\r\n", u"A", RegistryValue::String(u"text")},
      ParseCase{"Escapes", "\"A\"=\"say \\\"hi\\\" C:\\\\Logs\\\\\"\r\n", u"A",
                RegistryValue::String(u"say \"hi\" C:\\Logs\\")},
      ParseCase{"UnknownEscapeKept", "\"A\"=\"C:\\Logs\"\r\n", u"A",
                RegistryValue::String(u"C:\\Logs")},
      ParseCase{"Dword", "\"A\"=dword:ffffffff\r\n", u"A", RegistryValue::Dword(0xFFFFFFFFu)},
      ParseCase{"BadDwordSkipped", "\"A\"=dword:xyz\r\n", u"A", std::nullopt},
      ParseCase{"ExpandSz", "\"A\"=hex(2):25,00,54,00,25,00,00,00\r\n", u"A",
                RegistryValue::ExpandString(u"%T%")},
      ParseCase{"Binary", "\"A\"=hex:01,02,ff\r\n", u"A",
                RegistryValue::Raw(tarn::reg::kBinary, {1, 2, 0xFF})},
      ParseCase{"Continuation", "\"A\"=hex:01,02,\\\r\n  03,04\r\n\"B\"=\"after\"\r\n", u"A",
                RegistryValue::Raw(tarn::reg::kBinary, {1, 2, 3, 4})},
      ParseCase{"AfterContinuation", "\"A\"=hex(2):41,00,\\\r\n  00,00\r\n\"B\"=\"after\"\r\n",
                u"B", RegistryValue::String(u"after")},
      ParseCase{"HexSz", "\"A\"=hex(1):41,00,00,00\r\n", u"A", RegistryValue::String(u"A")},
      ParseCase{"ZeroByteSz", "\"A\"=hex(1):\r\n", u"A", RegistryValue::Raw(tarn::reg::kSz, {})},
      ParseCase{"BadHexSkipped", "\"A\"=hex:1g\r\n", u"A", std::nullopt},
      ParseCase{"CommentsAndBlanks", "; comment\r\n\r\n   ; indented\r\n\"A\"=\"x\"\r\n", u"A",
                RegistryValue::String(u"x")},
      ParseCase{"LastWins", "\"A\"=\"1\"\r\n\"a\"=\"2\"\r\n", u"A", RegistryValue::String(u"2")},
      ParseCase{"DeleteValue", "\"A\"=\"1\"\r\n\"A\"=-\r\n", u"A", std::nullopt},
      ParseCase{"Utf8", "\"A\"=\"M\xc3\xbcller\"\r\n", u"A", RegistryValue::String(u"M\u00fcller")},
      ParseCase{"Unterminated", "\"A\"=\"abc\r\n", u"A", std::nullopt},
      ParseCase{"Garbage", "A=1\r\nnonsense\r\n\"B\"=\"ok\"\r\n", u"B",
                RegistryValue::String(u"ok")},
  };
  for (const ParseCase& c : cases) {
    MemoryRegistry m;
    ASSERT_TRUE(m.ImportBytes(std::string(kHeader) +
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmont\\Test]\r\n" + c.body));
    EXPECT_EQ(m.FindValue(kKey, c.name), c.expected) << c.label;
  }
}

std::vector<std::uint8_t> Utf16(std::u16string_view s, bool zero = true) {
  std::vector<std::uint8_t> out;
  for (char16_t ch : s) {
    out.push_back(static_cast<std::uint8_t>(ch & 0xFF));
    out.push_back(static_cast<std::uint8_t>(ch >> 8));
  }
  if (zero) out.insert(out.end(), {0, 0});
  return out;
}

TEST(RegistryFile, HeadersAndKeys) {
  MemoryRegistry m;
  EXPECT_FALSE(m.ImportBytes("[HKEY_LOCAL_MACHINE\\X]\r\n\"A\"=\"1\"\r\n"));
  EXPECT_FALSE(m.KeyExists(u"HKLM\\X"));
  EXPECT_FALSE(m.ImportBytes(""));
  EXPECT_FALSE(m.ImportBytes("Windows Registry Editor Version 4.00\r\n"));
  EXPECT_TRUE(
      m.ImportBytes("\r\n  REGEDIT4\r\n\r\n[hkey_local_machine\\Software\\X]\r\n\"A\"=\"1\"\r\n"));
  EXPECT_EQ(m.FindValue(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\x", u"a"), RegistryValue::String(u"1"));
  // A value before any key line, and values below an unknown root, go nowhere.
  EXPECT_TRUE(m.ImportBytes(std::string(kHeader) +
                            "\"B\"=\"1\"\r\n[HKEY_NOWHERE\\X]\r\n\"C\"=\"1\"\r\n[HKLM\\Y]\r\n"));
  EXPECT_TRUE(m.KeyExists(u"HKLM\\Y"));
  EXPECT_TRUE(m.KeyExists(u"HKLM\\Software\\X"));
  // Deleting a key deletes what is below it.
  EXPECT_TRUE(m.ImportBytes(std::string(kHeader) + "[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n"));
  EXPECT_FALSE(m.KeyExists(u"HKLM\\Software\\X"));
  EXPECT_TRUE(m.KeyExists(u"HKLM\\Y"));
}

TEST(RegistryFile, Utf16WithByteOrderMark) {
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmont\\Test]\r\n"
      u"\"Path\"=\"C:\\\\Logs\\\\\u00c5se\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (auto b : Utf16(text, false)) bytes += static_cast<char>(b);
  MemoryRegistry m;
  ASSERT_TRUE(m.ImportBytes(bytes));
  EXPECT_EQ(m.FindValue(kKey, u"Path"), RegistryValue::String(u"C:\\Logs\\\u00c5se"));
}

TEST(RegistryFile, Utf8ByteOrderMarkAndWindows1252) {
  MemoryRegistry m;
  ASSERT_TRUE(m.ImportBytes(std::string("\xEF\xBB\xBF") + kHeader +
                            "[HKLM\\SOFTWARE\\Quillmont\\Test]\r\n\"A\"=\"1\"\r\n"));
  EXPECT_EQ(m.FindValue(kKey, u"A"), RegistryValue::String(u"1"));
  ASSERT_TRUE(m.ImportBytes(
      "REGEDIT4\r\n[HKLM\\SOFTWARE\\Quillmont\\Test]\r\n\"B\"=\"M\xfcller \x80\"\r\n"));
  EXPECT_EQ(m.FindValue(kKey, u"B"), RegistryValue::String(u"M\u00fcller \u20ac"));
}

TEST(RegistryFile, Regedit4HexTextIsAnsi) {
  MemoryRegistry m;
  ASSERT_TRUE(m.ImportBytes(
      "REGEDIT4\r\n\r\n[HKLM\\SOFTWARE\\Quillmont\\Test]\r\n\"A\"=hex(2):25,54,25,00\r\n"));
  EXPECT_EQ(m.FindValue(kKey, u"A"), RegistryValue::ExpandString(u"%T%"));
}

TEST(RegistryFile, ParseRegistryFileOnText) {
  MemoryRegistry m;
  EXPECT_TRUE(tarn::ParseRegistryFile(
      u"Windows Registry Editor Version 5.00\n[HKLM\\SOFTWARE\\Quillmont\\Test]\n@=\"x\"\n", m));
  EXPECT_EQ(m.FindValue(kKey, u""), RegistryValue::String(u"x"));
}

// ---- Registry file backends ----

class RegistryFileBackend : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir = TempDir("file");
  fs::path file = dir / "settings.reg";
};

TEST_F(RegistryFileBackend, ReadsTheFileAndItsLaterEdits) {
  ScopedRegistryBackend scope(tarn::MakeRegistryFileBackend(file));
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"");  // no file yet

  WriteFile(file, std::string(kHeader) + "[HKLM\\SOFTWARE\\Quillmont\\Test]\r\n\"A\"=\"1\"\r\n");
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"1");
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"1");  // from the cache

  WriteFile(file, std::string(kHeader) + "[HKLM\\SOFTWARE\\Quillmont\\Test]\r\n\"A\"=\"22\"\r\n");
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"22");

  WriteFile(file, "not a registry file\r\n");
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"");

  fs::remove(file);
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"");
}

TEST_F(RegistryFileBackend, ExampleFileSwitchesTheLogOn) {
  ScopedRegistryBackend scope(
      tarn::MakeRegistryFileBackend(fs::path(TARN_SOURCE_DIR) / "examples/registry/debug-log.reg"));
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Interfaces\\Upload\\Debug\\", u"WriteDebugLog"), u"1");
  EXPECT_NE(Read(u"SOFTWARE\\Quillmont\\Interfaces\\Upload\\Debug\\", u"DebugLogPath"), u"");
}

#if !defined(_WIN32)  // Windows reads its own registry
TEST_F(RegistryFileBackend, SystemDefaultFollowsTheEnvironmentVariable) {
  ScopedRegistryBackend scope(nullptr);  // the system default
  const char* saved = std::getenv("TARNINTR_REGISTRY");
  const std::string saved_value = saved ? saved : "";

  ::unsetenv("TARNINTR_REGISTRY");
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"");

  WriteFile(file, std::string(kHeader) + "[HKLM\\SOFTWARE\\Quillmont\\Test]\r\n\"A\"=\"env\"\r\n");
  ::setenv("TARNINTR_REGISTRY", file.c_str(), 1);
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"env");

  ::setenv("TARNINTR_REGISTRY", (dir / "missing.reg").c_str(), 1);
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), u"");

  if (saved)
    ::setenv("TARNINTR_REGISTRY", saved_value.c_str(), 1);
  else
    ::unsetenv("TARNINTR_REGISTRY");
}
#endif

}  // namespace
