// Rows of a tab-separated table under tests/data whose first line that is
// not a comment ('#') names the columns. Each row knows where it came
// from, for the message of a failed check.
#pragma once

#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace tarn::testing {

struct DataRow {
  std::string where;  // "file:line: the row's text"
  std::map<std::string, std::string, std::less<>> cells;

  const std::string& operator[](std::string_view column) const {
    const auto it = cells.find(column);
    if (it == cells.end()) throw std::out_of_range(where + ": no column " + std::string(column));
    return it->second;
  }
};

// \r, \n, \t and \xHH (a byte) are escapes; any other backslash stands
// for itself, as registry paths and files are full of them.
inline std::string UnescapeBytes(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char next = i + 1 < s.size() ? s[i + 1] : '\0';
    if (s[i] == '\\' && next == 'x' && i + 3 < s.size()) {
      out += static_cast<char>(std::stoi(std::string(s.substr(i + 2, 2)), nullptr, 16));
      i += 3;
    } else if (s[i] == '\\' && (next == 'r' || next == 'n' || next == 't')) {
      out += next == 'r' ? '\r' : next == 'n' ? '\n' : '\t';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

// The rows of tests/data/<name>; a file that cannot be read is one row
// without cells, so that the first check names it.
inline std::vector<DataRow> ReadDataRows(const std::string& name) {
  const std::string path = std::string(TARN_SOURCE_DIR) + "/tests/data/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) return {DataRow{path + ": cannot be read", {}}};
  std::vector<std::string> columns;
  std::vector<DataRow> rows;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> cells = Split(line, '\t');
    if (columns.empty()) {
      columns = cells;
      continue;
    }
    DataRow row{"tests/data/" + name + ":" + std::to_string(number) + ": " + line, {}};
    for (std::size_t i = 0; i < columns.size(); ++i)
      row.cells[columns[i]] = i < cells.size() ? cells[i] : std::string();
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace tarn::testing
