// Turns JSON Lines, JSON arrays and CSV into records of typed fields and
// lists; a record that cannot be used carries its reason instead.
#include "hl7/records.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::hl7 {

namespace {

using nlohmann::json;

struct RecordError {
  std::string reason;
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

class Converter {
 public:
  explicit Converter(const RecordOptions& options) : options_(options) {}

  bool IsDateMember(const std::string& name) const {
    for (const auto& d : options_.dates)
      if (SameName(d, name)) return true;
    return false;
  }

  // A scalar as a field: the explicit type word if any, a --dates name, or
  // the kind of the value itself.
  Field Make(const std::string& name, const json& value, const std::string& type_word) const {
    Field f{FromUtf8(name), u"String", Variant(std::u16string())};
    if (value.is_boolean()) {
      f = {f.name, u"Boolean", Variant(value.get<bool>())};
    } else if (value.is_number()) {
      const double d = value.get<double>();
      if (std::trunc(d) == d && d >= INT32_MIN && d <= INT32_MAX)
        f = {f.name, u"Long", Variant(static_cast<std::int32_t>(d))};
      else
        f = {f.name, u"Double", Variant(d)};
    } else if (value.is_string()) {
      f.value = FromUtf8(value.get<std::string>());
    } else if (!value.is_null()) {
      throw RecordError{"member '" + name + "' holds " + std::string(value.type_name()) +
                        ", which is no field value"};
    }
    return Typed(std::move(f), value.is_string() ? value.get<std::string>() : value.dump(),
                 type_word);
  }

  Field Typed(Field f, const std::string& shown, const std::string& type_word) const {
    const std::string name = ToUtf8(f.name);
    if (!type_word.empty()) {
      try {
        f.value = type_word == "String" ? Variant(CStr(f.value))
                                        : ConvertByTypeWord(FromUtf8(type_word), f.value);
      } catch (const RuntimeError& e) {
        throw RecordError{"member '" + name + "': \"" + shown + "\" does not convert to " +
                          type_word + " (" + ToUtf8(e.description()) + ")"};
      }
      f.type = FromUtf8(type_word);
      return f;
    }
    if (IsDateMember(name) && f.value.is_string() && !f.value.string().empty()) {
      const auto serial = ReadRecordDate(shown, options_.date_order);
      if (!serial) throw RecordError{"member '" + name + "': \"" + shown + "\" is no date"};
      f.value = Date{*serial};
      f.type = u"Date";
    }
    return f;
  }

 private:
  const RecordOptions& options_;
};

std::string TypeWord(const json& types, const std::string& name) {
  if (!types.is_object()) return {};
  for (const auto& [k, v] : types.items())
    if (SameName(k, name)) {
      if (!v.is_string()) throw RecordError{"\"types\" entry '" + k + "' is no type word"};
      return v.get<std::string>();
    }
  return {};
}

// Nested objects flatten to "Outer_Inner"; arrays become lists, and arrays
// inside a list's elements the lists that groups inside "@each" walk.
void AddMembers(const Converter& conv, const json& obj, const std::string& prefix,
                const json& types, std::vector<Field>& fields, std::vector<List>* lists) {
  for (const auto& [key, value] : obj.items()) {
    if (prefix.empty() && key == "types") continue;
    const std::string name = prefix.empty() ? key : prefix + "_" + key;
    if (value.is_array()) {
      if (!lists) continue;
      List list{FromUtf8(name), {}, {}};
      for (const auto& element : value) {
        std::vector<Field> members;
        std::vector<List> inner;
        if (element.is_object()) {
          const json element_types = element.value("types", json());
          AddMembers(conv, element, {}, element_types, members, &inner);
        } else {
          members.push_back(conv.Make("Value", element, {}));
        }
        list.elements.push_back(std::move(members));
        list.element_lists.push_back(std::move(inner));
      }
      lists->push_back(std::move(list));
    } else if (value.is_object()) {
      AddMembers(conv, value, name, types, fields, lists);
    } else {
      fields.push_back(conv.Make(name, value, TypeWord(types, name)));
    }
  }
}

void FillFromJson(const Converter& conv, const json& obj, Record& r) {
  if (!obj.is_object()) throw RecordError{"a record is a JSON object"};
  const json types = obj.value("types", json());
  if (!types.is_null() && !types.is_object()) throw RecordError{"\"types\" is no object"};
  AddMembers(conv, obj, {}, types, r.fields, &r.lists);
}

template <class Fill>
void Complete(Record& r, Fill fill) {
  try {
    fill();
  } catch (const RecordError& e) {
    r.fields.clear();
    r.lists.clear();
    r.error = e.reason;
  } catch (const json::exception& e) {
    r.fields.clear();
    r.lists.clear();
    r.error = std::string("not a JSON object: ") + e.what();
  }
}

std::vector<Record> ParseJsonArray(const Converter& conv, const std::string& text) {
  std::vector<Record> out;
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("not a JSON array of records: ") + e.what());
  }
  for (const auto& item : doc) {
    Record r;
    r.number = out.size() + 1;
    r.source = item.dump();
    Complete(r, [&] { FillFromJson(conv, item, r); });
    out.push_back(std::move(r));
  }
  return out;
}

std::vector<Record> ParseJsonLines(const Converter& conv, const std::string& text) {
  std::vector<Record> out;
  std::size_t line_no = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(start, nl - start);
    start = nl + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    Record r;
    r.number = out.size() + 1;
    r.line = line_no;
    r.source = line;
    Complete(r, [&] { FillFromJson(conv, json::parse(line), r); });
    out.push_back(std::move(r));
  }
  return out;
}

struct CsvRow {
  std::size_t line = 0;
  std::string source;
  std::vector<std::string> cells;
};

// RFC 4180: quoted cells may hold commas, doubled quotes and line breaks.
std::vector<CsvRow> SplitCsv(const std::string& text) {
  std::vector<CsvRow> rows;
  std::size_t i = 0, line = 1;
  while (i < text.size()) {
    CsvRow row;
    row.line = line;
    const std::size_t begin = i;
    std::string cell;
    bool quoted = false, end_of_row = false;
    while (i < text.size() && !end_of_row) {
      const char c = text[i++];
      if (quoted) {
        if (c == '"' && i < text.size() && text[i] == '"') {
          cell += '"';
          ++i;
        } else if (c == '"') {
          quoted = false;
        } else {
          if (c == '\n') ++line;
          cell += c;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == ',') {
        row.cells.push_back(std::move(cell));
        cell.clear();
      } else if (c == '\n' || c == '\r') {
        if (c == '\r' && i < text.size() && text[i] == '\n') ++i;
        ++line;
        end_of_row = true;
      } else {
        cell += c;
      }
    }
    row.cells.push_back(std::move(cell));
    row.source = text.substr(begin, i - begin);
    while (!row.source.empty() && (row.source.back() == '\n' || row.source.back() == '\r'))
      row.source.pop_back();
    if (row.source.find_first_not_of(" \t") == std::string::npos) continue;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<Record> ParseCsv(const Converter& conv, const std::string& text) {
  std::vector<CsvRow> rows = SplitCsv(text);
  std::vector<Record> out;
  if (rows.empty()) return out;
  // A header cell "Name:Type" gives the column a type word.
  std::vector<std::pair<std::string, std::string>> columns;
  for (const auto& h : rows.front().cells) {
    const auto colon = h.find(':');
    columns.emplace_back(h.substr(0, colon), colon == std::string::npos ? "" : h.substr(colon + 1));
  }
  for (std::size_t k = 1; k < rows.size(); ++k) {
    Record r;
    r.number = out.size() + 1;
    r.line = rows[k].line;
    r.source = rows[k].source;
    Complete(r, [&] {
      if (rows[k].cells.size() != columns.size())
        throw RecordError{"the row has " + std::to_string(rows[k].cells.size()) +
                          " cells, the header " + std::to_string(columns.size())};
      for (std::size_t c = 0; c < columns.size(); ++c) {
        Field f{FromUtf8(columns[c].first), u"String", Variant(FromUtf8(rows[k].cells[c]))};
        r.fields.push_back(conv.Typed(std::move(f), rows[k].cells[c], columns[c].second));
      }
    });
    out.push_back(std::move(r));
  }
  return out;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  return SameName(std::string_view(s).substr(s.size() - suffix.size()), suffix);
}

}  // namespace

RecordFormat DetectFormat(const std::string& path, const std::string& text) {
  if (EndsWith(path, ".jsonl") || EndsWith(path, ".json") || EndsWith(path, ".ndjson"))
    return RecordFormat::JsonLines;
  if (EndsWith(path, ".csv")) return RecordFormat::Csv;
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && (text[first] == '{' || text[first] == '['))
    return RecordFormat::JsonLines;
  return RecordFormat::Csv;
}

std::vector<Record> ParseRecords(const std::string& text, const RecordOptions& options) {
  const Converter conv(options);
  RecordFormat format = options.format;
  if (format == RecordFormat::Auto) format = DetectFormat({}, text);
  if (format == RecordFormat::Csv) return ParseCsv(conv, text);
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && text[first] == '[') return ParseJsonArray(conv, text);
  return ParseJsonLines(conv, text);
}

std::vector<Record> LoadRecords(const std::string& path, RecordOptions options) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot be read");
  std::ostringstream ss;
  ss << in.rdbuf();
  const std::string text = ss.str();
  if (options.format == RecordFormat::Auto) options.format = DetectFormat(path, text);
  return ParseRecords(text, options);
}

}  // namespace tarn::hl7
