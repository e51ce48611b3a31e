// Data records: JSON Lines (or a JSON array) of objects, or CSV with a
// header row. Scalar members become data fields; arrays become the lists
// that "@each" segments walk.
#pragma once

#include <string>
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
  std::vector<std::vector<List>> element_lists;
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

// The format that a file name's extension names, else what the text looks like.
RecordFormat DetectFormat(const std::string& path, const std::string& text);

std::vector<Record> ParseRecords(const std::string& text, const RecordOptions& options);
// Throws std::runtime_error when the file cannot be read.
std::vector<Record> LoadRecords(const std::string& path, RecordOptions options);

}  // namespace tarn::hl7
