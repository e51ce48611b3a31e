// Scratch folders and file contents for tests that write files.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

// The pieces of a text between separators (a last empty piece included).
inline std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at; (at = s.find(sep, start)) != std::string::npos; start = at + 1)
    out.push_back(s.substr(start, at - start));
  out.push_back(s.substr(start));
  return out;
}

}  // namespace tarn::testing
