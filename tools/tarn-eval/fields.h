// tarn-eval's host fields from the command line (NAME=TYPE[:VALUE]) and
// from a JSON file, kept apart from main so that a fuzz target can drive
// the same code.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tarn/tarn.h"

namespace tarn::eval {

// A mistake in the fields: tarn-eval exits 2 with its message.
struct UsageError {
  std::string message;
};

// Adds one field from NAME=TYPE[:VALUE]. Throws UsageError. A type word that
// is none of the system's is kept (the host's own) and noted in `warnings`.
// A Date's text is read as tarn-hl7 reads a record's dates (numeric dates in
// `date_order`: "mdy", "dmy" or "ymd"), else as the platform reads it; one
// written with a zone keeps its time and adds NAMEOffset (hhmm).
void AddFieldSpec(DataFields& fields, const std::string& spec, std::vector<std::string>& warnings,
                  const std::string& date_order = "mdy");

// Adds the fields of one record, a JSON object read as tarn-hl7 reads a
// record (`dates` names its date members), and the fields tarn-hl7 adds
// (Now, ControlId, RecordNumber) as for a first record. Lists are left out
// and noted in `warnings`. Throws UsageError.
void AddRecordJson(DataFields& fields, const std::string& text, const std::string& label,
                   const std::vector<std::string>& dates, const std::string& date_order,
                   std::vector<std::string>& warnings);

// Adds the fields of a JSON object {"Name": {"type": "Long", "value": 1}}.
// `label` names the source in messages. Throws UsageError.
void AddFieldsJson(DataFields& fields, std::string_view text, const std::string& label,
                   std::vector<std::string>& warnings);

}  // namespace tarn::eval
