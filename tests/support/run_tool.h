// Runs a built program with arguments and optional standard input, and
// gives back its exit status, standard output and standard error.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace tarn::testing {

struct ToolResult {
  int status = -1;
  std::string out, err;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// `redirect` is appended to the command as it stands (e.g. ">/dev/full"), and
// `shell` put before it (e.g. "ulimit -f 1;").
inline ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                          const std::string& input = {}, const std::string& redirect = {},
                          const std::string& shell = {}) {
  static int counter = 0;
  const std::string base = ::testing::TempDir() + "run_tool_" + std::to_string(::getpid()) + "_" +
                           std::to_string(counter++);
  const std::string in_path = base + ".in", err_path = base + ".err";
  std::ofstream(in_path, std::ios::binary) << input;
  std::string cmd = shell + " exec " + ShellQuote(program);
  for (const auto& a : args) cmd += " " + ShellQuote(a);
  cmd += " <" + ShellQuote(in_path) + " 2>" + ShellQuote(err_path) + " " + redirect;
  ToolResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  while (std::size_t n = fread(buf, 1, sizeof buf, p)) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.err = ReadAll(err_path);
  std::remove(in_path.c_str());
  std::remove(err_path.c_str());
  return r;
}

}  // namespace tarn::testing
