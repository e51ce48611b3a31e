// Scratch folders and file contents for tests that write files.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tarn::testing {

// A new, empty folder below the system's temporary folder; emptied first,
// as a process id seen before may name an old one.
inline std::filesystem::path TempDir(const std::string& name) {
  static std::atomic<int> counter{0};
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("tarn-" + std::to_string(::getpid()) + "-" + name + "-" + std::to_string(counter++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace tarn::testing
