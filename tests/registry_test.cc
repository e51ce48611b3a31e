// Registry access: ReadRegistryString over the registry layer, the
// in-memory backend, registry files (tests/data/registry.tsv) and the
// backend selection.
#include "support/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/data_rows.h"
#include "support/temp_files.h"
#include "tarn/convert.h"
#include "tarn/object.h"
#include "tarn/registry.h"

namespace {

namespace fs = std::filesystem;
using tarn::MemoryRegistry;
using tarn::RegistryKey;
using tarn::RegistryValue;
using tarn::ScopedRegistryBackend;
using tarn::Variant;
using tarn::testing::DataRow;
using tarn::testing::ReadDataRows;
using tarn::testing::TempDir;
using tarn::testing::UnescapeBytes;

constexpr std::u16string_view kKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmont\\Test";

constexpr std::int32_t kLocalMachine = tarn::detail::kHKeyLocalMachine;

std::u16string Read(std::u16string sub_key, Variant name, std::int32_t root = kLocalMachine) {
  return tarn::detail::ReadRegistryString(root, sub_key, std::move(name));
}

// ---- Registry files and ReadRegistryString, as rows of tests/data/registry.tsv ----

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

std::optional<RegistryValue> ExpectedValue(const std::string& text) {
  if (text == "-") return std::nullopt;
  const std::size_t colon = text.find(':');
  const std::string type = text.substr(0, colon), data = text.substr(colon + 1);
  if (type == "sz") return RegistryValue::String(tarn::FromUtf8(data));
  if (type == "expand") return RegistryValue::ExpandString(tarn::FromUtf8(data));
  if (type == "dword") return RegistryValue::Dword(std::stoul(data, nullptr, 16));
  std::vector<std::uint8_t> bytes;  // hex(TYPE):BYTES
  for (const std::string& b : tarn::testing::Split(data, ','))
    if (!b.empty()) bytes.push_back(static_cast<std::uint8_t>(std::stoi(b, nullptr, 16)));
  return RegistryValue::Raw(std::stoul(type.substr(4)), std::move(bytes));
}

std::string FileBytes(const DataRow& row) {
  const std::string text = UnescapeBytes(row["file"]);
  if (row["form"] == "raw") return text;
  if (row["form"] != "utf16") return std::string(kHeader) + text;
  std::string bytes = "\xFF\xFE";
  for (char16_t ch : tarn::FromUtf8(std::string(kHeader) + text)) {
    bytes += static_cast<char>(ch & 0xFF);
    bytes += static_cast<char>(ch >> 8);
  }
  return bytes;
}

// A `read` row: ReadRegistryString's text, or "error N".
std::string ReadRow(const DataRow& row) {
  const std::string& key = row["key"];
  const std::size_t slash = key.find('\\');
  const std::string root_name = key.substr(0, slash);
  const std::int32_t root = root_name == "HKLM"   ? kLocalMachine
                            : root_name == "HKCU" ? static_cast<std::int32_t>(0x80000001u)
                                                  : std::stoi(root_name);
  const std::string& name = row["name"];
  Variant name_value = name == "(null)" ? Variant::Null()
                       : name.starts_with("(integer)")
                           ? Variant(static_cast<std::int16_t>(std::stoi(name.substr(9))))
                           : Variant(tarn::FromUtf8(name));
  try {
    return tarn::ToUtf8(Read(tarn::FromUtf8(key.substr(slash + 1)), name_value, root));
  } catch (const tarn::RuntimeError& e) {
    return "error " + std::to_string(e.number());
  }
}

TEST(RegistryRows, ReadBackAsTheTableSays) {
  for (const DataRow& row : ReadDataRows("registry.tsv")) {
    SCOPED_TRACE(row.where);
    auto m = std::make_shared<MemoryRegistry>();
    const bool imported = m->ImportBytes(FileBytes(row));
    const std::string& query = row["query"];
    const std::u16string key = tarn::FromUtf8(row["key"]);
    if (query == "import") {
      EXPECT_EQ(imported ? "yes" : "no", row["expected"]);
      EXPECT_FALSE(!key.empty() && m->KeyExists(key));
      continue;
    }
    ASSERT_TRUE(imported);
    if (query == "read") {
      ScopedRegistryBackend scope(m);
      EXPECT_EQ(ReadRow(row), row["expected"]);
    } else if (query == "value") {
      EXPECT_EQ(m->FindValue(key, tarn::FromUtf8(row["name"])), ExpectedValue(row["expected"]));
    } else {
      ASSERT_EQ(query, "key");
      EXPECT_EQ(m->KeyExists(key) ? "yes" : "no", row["expected"]);
    }
  }
}

// The reader's buffer: 255 characters and their terminating zero.
TEST(RegistryRead, BufferOfTheReaderAndOpenKeyAsRoot) {
  auto mem = std::make_shared<MemoryRegistry>();
  ScopedRegistryBackend scope(mem);
  mem->SetString(kKey, u"A", std::u16string(255, u'x'));
  mem->SetString(kKey, u"B", std::u16string(256, u'x'));
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"A"), std::u16string(255, u'x'));
  EXPECT_EQ(Read(u"SOFTWARE\\Quillmont\\Test", u"B"), u"");
  // A key this backend opened serves as the root.
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

// ---- Registry file backends ----

class RegistryFileBackend : public ::testing::Test {
 protected:
  void TearDown() override { fs::remove_all(dir); }
  // The test key's value "A" in the file, and as read.
  void WriteA(const std::string& value) {
    std::ofstream(file, std::ios::binary)
        << kHeader << "[HKLM\\SOFTWARE\\Quillmont\\Test]\r\n\"A\"=\"" << value << "\"\r\n";
  }
  static std::u16string ReadA() { return Read(u"SOFTWARE\\Quillmont\\Test", u"A"); }

  fs::path dir = TempDir("file");
  fs::path file = dir / "settings.reg";
};

TEST_F(RegistryFileBackend, ReadsTheFileAndItsLaterEdits) {
  ScopedRegistryBackend scope(tarn::MakeRegistryFileBackend(file));
  EXPECT_EQ(ReadA(), u"");  // no file yet
  WriteA("1");
  EXPECT_EQ(ReadA(), u"1");
  EXPECT_EQ(ReadA(), u"1");  // from the cache
  WriteA("22");
  EXPECT_EQ(ReadA(), u"22");
  std::ofstream(file, std::ios::binary) << "not a registry file\r\n";
  EXPECT_EQ(ReadA(), u"");
  fs::remove(file);
  EXPECT_EQ(ReadA(), u"");
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
  EXPECT_EQ(ReadA(), u"");
  WriteA("env");
  ::setenv("TARNINTR_REGISTRY", file.c_str(), 1);
  EXPECT_EQ(ReadA(), u"env");
  ::setenv("TARNINTR_REGISTRY", (dir / "missing.reg").c_str(), 1);
  EXPECT_EQ(ReadA(), u"");
  if (saved)
    ::setenv("TARNINTR_REGISTRY", saved_value.c_str(), 1);
  else
    ::unsetenv("TARNINTR_REGISTRY");
}
#endif

}  // namespace
