// Shared by the tools' libFuzzer targets and their replay test: the records
// reader (JSON Lines and CSV, then each record through a message builder)
// and tarn-eval's fields (the JSON file and NAME=TYPE:VALUE). Each returns
// what guarantee broke, or nothing.
//
// Records input: the first byte chooses CSV (odd) or JSON (even) and, with
// its second bit, date members; the rest is the records text. Fields input:
// a first '=' makes the rest a NAME=TYPE:VALUE, else it is a fields file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "fields.h"
#include "hl7/message.h"
#include "hl7/records.h"
#include "hl7/template.h"

namespace tarn::fuzz {

inline std::string CheckRecords(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  hl7::RecordOptions options;
  options.format = (data[0] & 1) ? hl7::RecordFormat::Csv : hl7::RecordFormat::JsonLines;
  if (data[0] & 2) options.dates = {"D", "Date", "When"};
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<hl7::Record> records;
  try {
    records = hl7::ParseRecords(text, options);
  } catch (const std::runtime_error&) {
    return {};  // no records at all (a CSV header never closed): refused as a whole
  }
  static const hl7::Template tmpl = hl7::ParseTemplate(
      "MSH|^~\\&#|A\nPID|{{Name}}|{{D}}|{{Value}}\n@each L: ZLS|{{SetId}}|{{Code}}|{{Name}}\n",
      "fuzz.tmpl");
  static hl7::MessageBuilder builder(tmpl);
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].number != i + 1)
      return "record " + std::to_string(i + 1) + " is numbered " +
             std::to_string(records[i].number);
    const hl7::Outcome o = builder.Build(records[i]);
    if (!o.ok()) continue;
    for (const char c : o.message)
      if (c == '\x0b' || c == '\x1c' || c == '\0' || c == '\n')
        return "a message holds a raw framing byte";
  }
  return {};
}

inline std::string CheckFields(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto fields = MakeRef<DataFields>();
  std::vector<std::string> warnings;
  try {
    if (!text.empty() && text[0] == '=')
      eval::AddFieldSpec(*fields, text.substr(1), warnings);
    else
      eval::AddFieldsJson(*fields, text, "fuzz", warnings);
  } catch (const eval::UsageError&) {
    // a usage error is the answer to a bad fields file
  }
  return {};
}

}  // namespace tarn::fuzz
