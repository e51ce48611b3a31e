// Data records: JSON Lines (or a JSON array) of objects, or CSV with a
// header row, read one record at a time. Scalar members become data fields;
// arrays become the lists that "@each" segments walk.
#pragma once

#include <deque>
#include <istream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hl7/record_dates.h"
#include "tarn/value.h"

namespace tarn::hl7 {

struct Field {
  std::u16string name;
  std::u16string type;  // the type word: "Long", "Double", "Boolean", "String", "Date", ...
  Variant value;
};

struct List {
  std::u16string name;
  std::vector<std::vector<Field>> elements;
  // The lists inside each element (as many entries as elements, or none).
  std::vector<std::vector<List>> element_lists = {};
};

struct Record {
  std::size_t number = 0;  // 1-based, in input order
  std::size_t line = 0;    // the input line it starts on (0: unknown)
  std::string source;      // the record as written in the input
  std::vector<Field> fields;
  std::vector<List> lists;
  std::string error;  // why the record cannot be used; empty when it can
};

enum class RecordFormat { Auto, JsonLines, Csv };

struct RecordOptions {
  RecordFormat format = RecordFormat::Auto;
  std::vector<std::string> dates;         // member names whose texts become Date fields
  DateOrder date_order = DateOrder::Mdy;  // of numeric dates whose year is not first
};

// How deep a record's JSON may nest (the record itself is level 1).
inline constexpr std::size_t kMaxJsonDepth = 64;

// How deep a JSON text nests ({ and [ outside strings), read without
// parsing it, so that nothing deeper than a limit is ever parsed.
std::size_t JsonNestingDepth(std::string_view text);

// The format that a file name's extension names, else what the text looks like.
RecordFormat DetectFormat(const std::string& path, const std::string& text);

// A record as cut from the input, before its values are read.
struct RawRecord {
  std::size_t number = 0;
  std::size_t line = 0;
  std::string source;
  std::string error;  // unusable already (too deep, a quote never closed)
  bool csv = false;
  std::vector<std::string> cells;  // CSV
};

// Reads records from a stream as they are needed: memory stays flat
// whatever the input's size. A record that cannot be used comes back with
// its `error`; an input that is no records at all throws std::runtime_error.
class RecordReader {
 public:
  // `path` names the input for the format (its extension) and in messages.
  RecordReader(std::istream& in, const std::string& path, RecordOptions options);

  // The next record; false at the end of the input.
  bool Next(Record& r);

  // The same in two steps: cutting the next record from the input (in input
  // order, one thread), and reading its values, which may run on any thread
  // at the same time as others.
  bool NextRaw(RawRecord& r);
  void Complete(const RawRecord& raw, Record& r) const;

  // Whether the next record can be cut without waiting for the input (a
  // pipe's writer); true at the end.
  bool Ready();
  // Records cut so far.
  std::size_t count() const { return count_; }

 private:
  bool NextLine(std::string& line, std::size_t& number);
  void PushBack(std::string line, std::size_t number);
  bool NextJsonLine(RawRecord& r);
  bool NextArrayElement(RawRecord& r);
  bool NextCsvRow(RawRecord& r);
  int GetChar();  // from the current line on, '\n' between lines; -1 at the end
  void Start();
  void CheckArrayEnd();
  [[noreturn]] void RefuseInput(const std::string& line, std::size_t number, std::size_t at,
                                const std::string& what) const;

  std::istream& in_;
  std::string path_;
  RecordOptions options_;
  bool started_ = false;
  bool array_ = false;
  bool array_done_ = false;
  bool array_checked_ = false;
  std::size_t cur_line_ = 0;
  std::size_t line_no_ = 0;
  std::deque<std::pair<std::string, std::size_t>> pushed_;
  std::string cur_;
  std::size_t cur_pos_ = 0;
  bool cur_valid_ = false;
  std::size_t count_ = 0;
  std::vector<std::pair<std::string, std::string>> columns_;  // CSV: name, type word
};

// Every record of a text or a file at once (tests, benchmarks).
std::vector<Record> ParseRecords(const std::string& text, const RecordOptions& options);
// Throws FileError when the file cannot be read.
std::vector<Record> LoadRecords(const std::string& path, RecordOptions options);

}  // namespace tarn::hl7
