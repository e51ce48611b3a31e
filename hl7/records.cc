// Turns JSON Lines, JSON arrays and CSV into records of typed fields and
// lists, one record at a time; a record that cannot be used carries its
// reason instead. Nothing here recurses as deep as the input nests.
#include "hl7/records.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "hl7/io.h"
#include "hl7/names.h"
#include "tarn/convert.h"
#include "tarn/object.h"

namespace tarn::hl7 {

namespace {

namespace dom = simdjson::dom;
using nlohmann::json;

struct RecordError {
  std::string reason;
};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// A text into `out`: an ASCII one, the usual name or value, keeps the room
// the text had.
void AssignText(std::u16string& out, std::string_view utf8) {
  out.resize(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c >= 0x80) {
      out = FromUtf8(utf8);
      return;
    }
    out[i] = c;
  }
}

// Fills a vector from the front, reusing the elements there (and the room
// of their texts), and drops the rest when done.
template <class T>
class Refill {
 public:
  explicit Refill(std::vector<T>& v) : v_(v) {}
  Refill(const Refill&) = delete;
  Refill& operator=(const Refill&) = delete;
  ~Refill() { v_.resize(used_); }
  T& Next() {
    if (used_ == v_.size()) v_.emplace_back();
    return v_[used_++];
  }
  std::size_t used() const { return used_; }

 private:
  std::vector<T>& v_;
  std::size_t used_ = 0;
};

using Members = std::vector<std::pair<std::string_view, dom::element>>;

// The positions of an object's members in the order Sorted gives them, for
// the last few orders of names seen: records of one source name their
// members alike, and comparing the names costs less than sorting them.
class SortedOrders {
 public:
  const std::vector<std::uint32_t>* Find(const Members& members) const {
    for (const Entry& e : entries_)
      if (e.names.size() == members.size() &&
          std::equal(e.names.begin(), e.names.end(), members.begin(),
                     [](const std::string& n, const auto& m) { return n == m.first; }))
        return &e.order;
    return nullptr;
  }
  void Remember(const Members& members, std::vector<std::uint32_t> order) {
    Entry& e = entries_[next_++ % entries_.size()];
    e.names.assign(members.size(), {});
    for (std::size_t i = 0; i < members.size(); ++i) e.names[i].assign(members[i].first);
    e.order = std::move(order);
  }

 private:
  struct Entry {
    std::vector<std::string> names;  // as the object gives them
    std::vector<std::uint32_t> order;
  };
  std::array<Entry, 8> entries_;
  std::size_t next_ = 0;
};

// An object's members as records have always been read: in byte order of
// their names, and of a name given twice only the last.
Members Sorted(dom::object obj) {
  Members all;
  all.reserve(obj.size());
  for (const dom::key_value_pair member : obj) all.emplace_back(member.key, member.value);
  thread_local SortedOrders orders;
  Members out;
  out.reserve(all.size());
  if (const auto* order = orders.Find(all)) {
    for (const std::uint32_t i : *order) out.push_back(all[i]);
    return out;
  }
  std::vector<std::uint32_t> order(all.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  // Stable, so that of a name given twice the last comes last.
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return all[a].first < all[b].first; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < order.size(); ++i)
    if (i + 1 == order.size() || all[order[i + 1]].first != all[order[i]].first)
      order[kept++] = order[i];
  order.resize(kept);
  for (const std::uint32_t i : order) out.push_back(all[i]);
  orders.Remember(all, std::move(order));
  return out;
}

// The member `name` of an object (the last of that name), if any.
std::optional<dom::element> Member(dom::element obj, std::string_view name) {
  std::optional<dom::element> found;
  if (obj.is_object())
    for (const dom::key_value_pair member : dom::object(obj))
      if (member.key == name) found = member.value;
  return found;
}

// A scalar as JSON writes it, for messages.
std::string Shown(dom::element value) {
  switch (value.type()) {
    case dom::element_type::STRING: return std::string(std::string_view(value));
    case dom::element_type::INT64: return json(std::int64_t(value)).dump();
    case dom::element_type::UINT64: return json(std::uint64_t(value)).dump();
    case dom::element_type::DOUBLE: return json(double(value)).dump();
    case dom::element_type::BOOL: return bool(value) ? "true" : "false";
    case dom::element_type::NULL_VALUE: return "null";
    default: return {};
  }
}

class Converter {
 public:
  explicit Converter(const RecordOptions& options) : options_(options) {}

  bool IsDateMember(std::string_view name) const {
    for (const auto& d : options_.dates)
      if (SameName(d, name)) return true;
    return false;
  }

  // A scalar as the field `f`: the explicit type word if any, a --dates
  // name, or the kind of the value itself.
  void Make(Field& f, std::string_view name, dom::element value,
            const std::string& type_word) const {
    AssignText(f.name, name);
    f.type.assign(u"String");
    switch (value.type()) {
      case dom::element_type::BOOL:
        f.type.assign(u"Boolean");
        f.value = Variant(bool(value));
        break;
      case dom::element_type::INT64:
      case dom::element_type::UINT64:
      case dom::element_type::DOUBLE: {
        const double d = value.type() == dom::element_type::INT64    ? double(std::int64_t(value))
                         : value.type() == dom::element_type::UINT64 ? double(std::uint64_t(value))
                                                                     : double(value);
        if (std::trunc(d) == d && d >= INT32_MIN && d <= INT32_MAX) {
          f.type.assign(u"Long");
          f.value = Variant(static_cast<std::int32_t>(d));
        } else {
          f.type.assign(u"Double");
          f.value = Variant(d);
        }
        break;
      }
      case dom::element_type::STRING: {
        const std::string_view text(value);
        // A date is read from the text as written.
        if (type_word.empty() && !text.empty() && IsDateMember(name)) {
          ReadDate(f, name, text);
          return;
        }
        if (!f.value.is_string()) f.value = Variant(std::u16string());
        AssignText(f.value.string(), text);
        break;
      }
      case dom::element_type::NULL_VALUE: f.value.set_string({}); break;
      default:
        throw RecordError{"member '" + std::string(name) + "' holds " +
                          (value.is_array() ? "array" : "object") + ", which is no field value"};
    }
    Typed(f, name, type_word, [&] { return Shown(value); });
  }

  // `shown` gives the value as written, for a message only.
  template <class Shown>
  void Typed(Field& f, std::string_view name, const std::string& type_word,
             const Shown& shown) const {
    if (!type_word.empty()) {
      try {
        f.value = type_word == "String" ? Variant(CStr(f.value))
                                        : ConvertByTypeWord(FromUtf8(type_word), f.value);
      } catch (const RuntimeError& e) {
        throw RecordError{"member '" + std::string(name) + "': \"" + shown() +
                          "\" does not convert to " + type_word + " (" + ToUtf8(e.description()) +
                          ")"};
      }
      f.type = FromUtf8(type_word);
      return;
    }
    if (f.value.is_string() && !f.value.string().empty() && IsDateMember(name))
      ReadDate(f, name, shown());
  }

  // A date member's text; one written with a zone keeps its time as written
  // and leaves the zone for AddOffset.
  void ReadDate(Field& f, std::string_view name, std::string_view text) const {
    bool zoned = false;
    int offset = 0;
    const auto serial = ReadRecordDate(text, options_.date_order, zoned, offset);
    if (!serial)
      throw RecordError{"member '" + std::string(name) + "': \"" + std::string(text) +
                        "\" is no date"};
    f.value = Date{*serial};
    f.type.assign(u"Date");
    if (zoned) offset_ = offset;
  }

  // After a field is made: the zone of a date written with one, as the field
  // "<name>Offset" (a Long, hhmm), unless the record has a member of that name.
  template <class Fields, class Has>
  void AddOffset(Fields& fields, std::string_view name, const Has& has_member) const {
    if (!offset_) return;
    const int offset = *offset_;
    offset_.reset();
    const std::string offset_name = std::string(name) + "Offset";
    if (has_member(offset_name)) return;
    Field& o = fields.Next();
    AssignText(o.name, offset_name);
    o.type.assign(u"Long");
    o.value = Variant(static_cast<std::int32_t>(offset));
  }

 private:
  const RecordOptions& options_;
  mutable std::optional<int> offset_;
};

using Types = std::optional<dom::element>;

std::string TypeWord(const Types& types, std::string_view name) {
  if (!types || !types->is_object()) return {};
  for (const auto& [k, v] : Sorted(dom::object(*types)))
    if (SameName(k, name)) {
      if (!v.is_string())
        throw RecordError{"\"types\" entry '" + std::string(k) + "' is no type word"};
      return std::string(std::string_view(v));
    }
  return {};
}

// Two members of one list element whose names differ only in letter case
// would hide one another; the record is refused as at its top level.
void CheckElementNames(std::string_view list, std::size_t element,
                       const std::vector<Field>& members, std::size_t count) {
  for (std::size_t a = 0; a < count; ++a)
    for (std::size_t b = a + 1; b < count; ++b)
      if (hl7::SameName(members[a].name, members[b].name))
        throw RecordError{"list '" + std::string(list) + "' element " + std::to_string(element) +
                          ": members '" + ToUtf8(members[a].name) + "' and '" +
                          ToUtf8(members[b].name) + "' differ only in letter case"};
}

// Nested objects flatten to "Outer_Inner"; arrays become lists, and arrays
// inside a list's elements the lists that groups inside "@each" walk. The
// depth is bounded by kMaxJsonDepth before parsing.
void AddMembers(const Converter& conv, dom::object obj, const std::string& prefix,
                const Types& types, Refill<Field>& fields, Refill<List>& lists) {
  const Members sorted = Sorted(obj);
  for (const auto& [key, value] : sorted) {
    if (prefix.empty() && key == "types") continue;
    std::string joined;
    if (!prefix.empty()) joined = prefix + "_" + std::string(key);
    const std::string_view name = prefix.empty() ? key : std::string_view(joined);
    if (value.is_array()) {
      List& list = lists.Next();
      AssignText(list.name, name);
      Refill<std::vector<Field>> elements(list.elements);
      Refill<std::vector<List>> element_lists(list.element_lists);
      for (const dom::element element : dom::array(value)) {
        Refill<Field> members(elements.Next());
        Refill<List> inner(element_lists.Next());
        if (element.is_object()) {
          AddMembers(conv, dom::object(element), {}, Member(element, "types"), members, inner);
          CheckElementNames(name, elements.used(), list.elements[elements.used() - 1],
                            members.used());
        } else {
          conv.Make(members.Next(), "Value", element, {});
          conv.AddOffset(members, "Value", [](const std::string&) { return false; });
        }
      }
    } else if (value.is_object()) {
      AddMembers(conv, dom::object(value), std::string(name), types, fields, lists);
    } else {
      conv.Make(fields.Next(), name, value, TypeWord(types, name));
      conv.AddOffset(fields, name, [&](const std::string& offset_name) {
        for (const auto& m : sorted)
          if (SameName(prefix.empty() ? std::string(m.first) : prefix + "_" + std::string(m.first),
                       offset_name))
            return true;
        return false;
      });
    }
  }
}

void FillFromJson(const Converter& conv, dom::element obj, Record& r) {
  if (!obj.is_object()) throw RecordError{"a record is a JSON object"};
  const Types types = Member(obj, "types");
  if (types && !types->is_null() && !types->is_object())
    throw RecordError{"\"types\" is no object"};
  Refill<Field> fields(r.fields);
  Refill<List> lists(r.lists);
  AddMembers(conv, dom::object(obj), {}, types, fields, lists);
}

void Refuse(Record& r, std::string reason) {
  r.fields.clear();
  r.lists.clear();
  r.error = std::move(reason);
}

// Runs `fill`; what it throws becomes the record's reason.
template <class Fill>
void Guarded(Record& r, Fill fill) {
  try {
    fill();
  } catch (const RecordError& e) {
    Refuse(r, e.reason);
  }
}

std::string TooDeep() {
  return "the record nests deeper than " + std::to_string(kMaxJsonDepth) + " levels";
}

void FillFromJsonText(const Converter& conv, const std::string& text, Record& r) {
  thread_local dom::parser parser = [] {
    dom::parser p;
    // simdjson counts the document's own level twice.
    if (p.allocate(simdjson::SIMDJSON_PADDING, kMaxJsonDepth + 1)) throw std::bad_alloc();
    return p;
  }();
  dom::element doc;
  if (parser.parse(text).get(doc) != simdjson::SUCCESS) {
    if (JsonNestingDepth(text) > kMaxJsonDepth) {
      Refuse(r, TooDeep());
      return;
    }
    // The slow reader has the clearer messages, and takes what the fast one
    // refuses although it is JSON (a byte order mark, integers beyond 64
    // bits): its reading, written out again, is read once more.
    std::string again;
    try {
      again = json::parse(text).dump();
    } catch (const json::exception& e) {
      Refuse(r, std::string("not a JSON object: ") + e.what());
      return;
    }
    if (const auto error = parser.parse(again).get(doc)) {
      Refuse(r, std::string("not a JSON object: ") + simdjson::error_message(error));
      return;
    }
  }
  Guarded(r, [&] { FillFromJson(conv, doc, r); });
}

bool Blank(std::string_view s) { return s.find_first_not_of(" \t\r") == std::string_view::npos; }

std::string WithoutCr(std::string s) {
  if (!s.empty() && s.back() == '\r') s.pop_back();
  return s;
}

// RFC 4180 cells of one row; false while a quoted cell is still open at the
// end of `text`. A CR before a line end outside quotes belongs to the end.
bool SplitCells(const std::string& text, std::vector<std::string>& cells) {
  cells.clear();
  std::string cell;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      cells.push_back(std::move(cell));
      cell.clear();
    } else if (c == '\r' && (i + 1 == text.size() || text[i + 1] == '\n')) {
      // the line end's CR
    } else {
      cell += c;
    }
  }
  cells.push_back(std::move(cell));
  return !quoted;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  if (s.size() < suffix.size()) return false;
  return SameName(std::string_view(s).substr(s.size() - suffix.size()), suffix);
}

}  // namespace

std::size_t JsonNestingDepth(std::string_view text) {
  std::size_t depth = 0, deepest = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

RecordFormat DetectFormat(const std::string& path, const std::string& text) {
  if (EndsWith(path, ".jsonl") || EndsWith(path, ".json") || EndsWith(path, ".ndjson"))
    return RecordFormat::JsonLines;
  if (EndsWith(path, ".csv")) return RecordFormat::Csv;
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && (text[first] == '{' || text[first] == '['))
    return RecordFormat::JsonLines;
  return RecordFormat::Csv;
}

RecordReader::RecordReader(std::istream& in, const std::string& path, RecordOptions options)
    : in_(in), path_(path), options_(std::move(options)) {}

bool RecordReader::NextLine(std::string& line, std::size_t& number) {
  if (!pushed_.empty()) {
    line = std::move(pushed_.front().first);
    number = pushed_.front().second;
    pushed_.pop_front();
    return true;
  }
  if (!std::getline(in_, line)) {
    if (in_.bad()) throw FileError(path_, std::string("cannot be read: ") + std::strerror(errno));
    return false;
  }
  number = ++line_no_;
  if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
  if (const std::size_t bad = FirstNonUtf8(line); bad != std::string::npos)
    RefuseInput(line, number, bad,
                "bytes that are not UTF-8 (--encoding names the records' encoding, e.g. latin1)");
  return true;
}

void RecordReader::RefuseInput(const std::string& line, std::size_t number, std::size_t at,
                               const std::string& what) const {
  std::size_t column = 1;  // in characters
  for (std::size_t i = 0; i < at && i < line.size(); ++i)
    column += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
  throw std::runtime_error((path_.empty() ? "standard input" : path_) + ":" +
                           std::to_string(number) + ":" + std::to_string(column) + ": " + what);
}

bool RecordReader::Ready() {
  if (!pushed_.empty()) return true;
  if (cur_valid_ && cur_pos_ < cur_.size() &&
      cur_.find_first_not_of(" \t\r\n", cur_pos_) != std::string::npos)
    return true;
  return LineReady(in_);
}

void RecordReader::PushBack(std::string line, std::size_t number) {
  pushed_.emplace_back(std::move(line), number);
}

// The format, and for JSON whether the input is one array, from the name
// and the first text that is not blank.
void RecordReader::Start() {
  started_ = true;
  std::string line, seen;
  std::size_t number = 0;
  std::vector<std::pair<std::string, std::size_t>> looked_at;  // read again as records
  while (seen.empty() && NextLine(line, number)) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first != std::string::npos) seen = line.substr(first, 1);
    looked_at.emplace_back(std::move(line), number);
  }
  for (auto& [text, at] : looked_at) PushBack(std::move(text), at);
  if (options_.format == RecordFormat::Auto) options_.format = DetectFormat(path_, seen);
  array_ = options_.format == RecordFormat::JsonLines && seen == "[";
}

int RecordReader::GetChar() {
  while (!cur_valid_ || cur_pos_ == cur_.size()) {
    std::size_t number = 0;
    if (!NextLine(cur_, number)) return -1;
    cur_line_ = number;
    cur_ += '\n';
    cur_pos_ = 0;
    cur_valid_ = true;
  }
  return static_cast<unsigned char>(cur_[cur_pos_++]);
}

bool RecordReader::Next(Record& r) {
  RawRecord raw;
  if (!NextRaw(raw)) return false;
  Complete(raw, r);
  return true;
}

bool RecordReader::NextRaw(RawRecord& r) {
  if (!started_) Start();
  r = RawRecord{};
  if (options_.format == RecordFormat::Csv) return NextCsvRow(r);
  return array_ ? NextArrayElement(r) : NextJsonLine(r);
}

void RecordReader::Complete(const RawRecord& raw, Record& r) const {
  // The fields and lists are filled in place of the last record's.
  r.number = raw.number;
  r.line = raw.line;
  // Copied into the room the last record's text left, with the padding the
  // JSON reader reads past the end in (else it copies the text itself).
  if (r.source.capacity() < raw.source.size() + simdjson::SIMDJSON_PADDING)
    r.source.reserve(raw.source.size() + simdjson::SIMDJSON_PADDING);
  r.source.assign(raw.source);
  r.error.clear();
  if (!raw.error.empty()) {
    Refuse(r, raw.error);
    return;
  }
  const Converter conv(options_);
  if (!raw.csv) {
    FillFromJsonText(conv, r.source, r);
    return;
  }
  const auto& cells = raw.cells;
  Guarded(r, [&] {
    if (cells.size() != columns_.size())
      throw RecordError{"the row has " + std::to_string(cells.size()) + " cells, the header " +
                        std::to_string(columns_.size())};
    r.lists.clear();
    Refill<Field> fields(r.fields);
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      Field& f = fields.Next();
      AssignText(f.name, columns_[c].first);
      f.type.assign(u"String");
      if (!f.value.is_string()) f.value = Variant(std::u16string());
      AssignText(f.value.string(), cells[c]);
      const std::string& type = columns_[c].second;
      if (cells[c].empty() && !type.empty() && type != "String") {
        // An empty cell is a field without a value, whatever its column's type.
        f.value = Variant();
        f.type = FromUtf8(type);
        continue;
      }
      conv.Typed(f, columns_[c].first, type, [&] { return cells[c]; });
      conv.AddOffset(fields, columns_[c].first, [&](const std::string& offset_name) {
        for (const auto& column : columns_)
          if (SameName(column.first, offset_name)) return true;
        return false;
      });
    }
  });
}

bool RecordReader::NextJsonLine(RawRecord& r) {
  std::string line;
  std::size_t number = 0;
  do {
    if (!NextLine(line, number)) return false;
  } while (Blank(line));
  r.number = ++count_;
  r.line = number;
  r.source = WithoutCr(std::move(line));
  return true;
}

// One element of the top-level array, cut out by its brackets and quotes
// (so that its depth is known before it is parsed).
bool RecordReader::NextArrayElement(RawRecord& r) {
  if (array_done_) {
    CheckArrayEnd();
    return false;
  }
  int c;
  if (count_ == 0 && !cur_valid_) {
    while ((c = GetChar()) != -1 && c != '[') {
    }
    while ((c = GetChar()) != -1 && std::isspace(c)) {
    }
    if (c == ']' || c == -1) {
      array_done_ = true;
      if (c == ']') CheckArrayEnd();
      return false;
    }
    --cur_pos_;
  }
  std::string text;
  std::size_t depth = 0, deepest = 0;
  bool in_string = false, escaped = false;
  for (;;) {
    c = GetChar();
    if (c == -1) {
      array_done_ = true;
      if (Blank(text)) return false;
      r.number = ++count_;
      r.source = text;
      r.error = "the JSON array ends inside this record";
      return true;
    }
    if (in_string) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == '}' || c == ']') && depth > 0) {
      --depth;
    } else if (depth == 0 && (c == ',' || c == ']')) {
      if (c == ']') array_done_ = true;
      break;
    }
    text += static_cast<char>(c);
  }
  const auto first = text.find_first_not_of(" \t\r\n");
  const auto last = text.find_last_not_of(" \t\r\n");
  r.number = ++count_;
  r.source = first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
  if (deepest > kMaxJsonDepth) r.error = TooDeep();
  return true;
}

bool RecordReader::NextCsvRow(RawRecord& r) {
  // One row: a line, and the lines after it while a quoted cell is open. A
  // quote that is never closed costs its own line only; the lines it took
  // in are read again as rows of their own.
  auto row = [&](std::vector<std::string>& cells, std::string& source, std::size_t& line) {
    std::string first;
    do {
      if (!NextLine(first, line)) return false;
    } while (Blank(first));
    std::string text = first;
    std::vector<std::pair<std::string, std::size_t>> taken;
    while (!SplitCells(text, cells)) {
      std::string more;
      std::size_t number = 0;
      if (!NextLine(more, number)) {
        pushed_.insert(pushed_.begin(), taken.begin(), taken.end());
        cells.clear();  // no cells at all: the row's quote is never closed
        source = WithoutCr(std::move(first));
        return true;
      }
      text += '\n';
      text += more;
      taken.emplace_back(std::move(more), number);
    }
    source = WithoutCr(std::move(text));
    return true;
  };
  std::vector<std::string> cells;
  std::string source;
  std::size_t line = 0;
  if (columns_.empty()) {
    // A header cell "Name:Type" gives the column a type word.
    if (!row(cells, source, line)) return false;
    if (cells.empty())
      throw std::runtime_error(path_ + ":" + std::to_string(line) +
                               ": the header row's quoted cell is never closed");
    for (const auto& h : cells) {
      const auto colon = h.find(':');
      columns_.emplace_back(h.substr(0, colon),
                            colon == std::string::npos ? "" : h.substr(colon + 1));
    }
  }
  if (!row(cells, source, line)) return false;
  r.number = ++count_;
  r.line = line;
  r.source = std::move(source);
  r.csv = true;
  if (cells.empty()) r.error = "line " + std::to_string(line) + ": a quoted cell is never closed";
  r.cells = std::move(cells);
  return true;
}

// Nothing but white space may follow the array: text after it would be
// records that are never read.
void RecordReader::CheckArrayEnd() {
  if (array_checked_) return;
  array_checked_ = true;
  for (int c; (c = GetChar()) != -1;)
    if (!std::isspace(c))
      RefuseInput(cur_, cur_line_, cur_pos_ - 1, "text after the end of the JSON array");
}

std::vector<Record> ParseRecords(const std::string& text, const RecordOptions& options) {
  std::istringstream in(text);
  RecordReader reader(in, {}, options);
  std::vector<Record> out;
  Record r;
  while (reader.Next(r)) out.push_back(std::move(r));
  return out;
}

std::vector<Record> LoadRecords(const std::string& path, RecordOptions options) {
  const auto in = OpenInput(path);
  RecordReader reader(*in, path, std::move(options));
  std::vector<Record> out;
  Record r;
  while (reader.Next(r)) out.push_back(std::move(r));
  return out;
}

}  // namespace tarn::hl7
