// Reads the tables of tests/data (*.tsv): expressions and their results,
// which the GoogleTest runner and the Windows test host both run; rows of
// five columns, evaluated by default and in strict mode; and the rows under
// "@call" (conversions, the scanner, the collection's keys), which only the
// GoogleTest runner runs. Plain standard C++ on UTF-8 texts, so that a host
// without the library can use it too.
#pragma once

#include <charconv>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "temp_files.h"

namespace tarn::table {

struct Field {
  std::string name, type_word, value;  // value as "<Kind> <text>"
};

struct Row {
  int line = 0;
  std::string text, result, reports;
  bool check_reports = false;
  std::vector<Field> fields;  // the fields in effect at the row
  // Under "@call": what is applied to `text` (a value), and its settings.
  std::vector<std::string> call;
  std::string argument;  // its second argument (a format), when it takes one
  // A row of five columns: the procedure of strict mode's first report
  // (empty: strict mode gives the default's value) and a part of its
  // description.
  bool strict = false;
  std::string strict_procedure, strict_problem;
};

struct Table {
  std::vector<Field> fields;  // those before the first row
  std::vector<Row> rows;
};

// Tabs, carriage returns, line feeds and backslashes are written \t, \r,
// \n and \\; a backslash before any other character stands for it.
constexpr std::string_view kPlain = "\t\r\n\\", kEscaped = "trn\\";

inline std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const std::size_t at = kEscaped.find(s[++i]);
    out += at == std::string_view::npos ? s[i] : kPlain[at];
  }
  return out;
}

// The table, or an empty one with `error` set.
inline Table Read(const std::string& path, std::string& error) {
  Table t;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return t;
  }
  std::string line;
  std::vector<std::string> call;
  std::vector<Field> fields;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> parts = tarn::testing::Split(line, '\t');
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (parts[0] == "@call") {
      call.assign(parts.begin() + 1, parts.end());
      continue;
    }
    for (std::string& part : parts) part = Unescape(part);
    if (parts[0] == "@field") {
      if (parts.size() != 4) {
        error = where + "a field needs name, type word and value";
        return {};
      }
      // A field of the same name is replaced from here on.
      std::erase_if(fields, [&](const Field& f) { return f.name == parts[1]; });
      fields.push_back({parts[1], parts[2], parts[3]});
      if (t.rows.empty()) t.fields = fields;
      continue;
    }
    if (parts.size() < 2 || parts.size() == 4 || parts.size() > 5) {
      error = where + "a row is text, result[, reports[, strict report]]";
      return {};
    }
    Row r;
    r.line = number;
    r.text = parts[0];
    r.result = parts[1];
    r.fields = fields;
    r.call = call;
    if (!call.empty() && parts.size() == 3) {  // value, argument, result
      r.argument = parts[1];
      r.result = parts[2];
    } else if (parts.size() >= 3) {
      r.check_reports = true;
      r.reports = parts[2];
    }
    if (parts.size() == 5) {
      r.strict = true;
      r.strict_procedure = parts[3];
      r.strict_problem = parts[4];
    }
    t.rows.push_back(std::move(r));
  }
  return t;
}

// "<Kind> <text>" split at the first space.
inline void SplitValue(const std::string& value, std::string& kind, std::string& text) {
  const std::size_t space = value.find(' ');
  kind = value.substr(0, space);
  text = space == std::string::npos ? std::string() : value.substr(space + 1);
}

// The shortest text that reads back as the same double.
inline std::string NumberText(double d) {
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof(buffer), d);
  return std::string(buffer, r.ptr);
}

inline double ParseNumber(const std::string& text) {
  double d = 0;
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  in >> d;
  return d;
}

// Escapes a result text back into the table's form, for messages.
inline std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    const std::size_t at = kPlain.find(c);
    if (at == std::string_view::npos)
      out += c;
    else
      out += {'\\', kEscaped[at]};
  }
  return out;
}

}  // namespace tarn::table
