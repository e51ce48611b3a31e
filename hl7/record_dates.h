// How tarn-hl7 reads the dates in its records: ISO 8601 (with "T", "Z",
// offsets and fractions of a second) and numeric dates in one declared
// order, so that "05/03/1980" means the same day in every record of a run.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarn::hl7 {

// The order of day, month and year in a numeric date whose year does not
// come first (a four-digit first number is always the year).
enum class DateOrder { Mdy, Dmy, Ymd };

// The Date serial (days since 30 December 1899, the time as the fraction)
// of a civil date and time; nullopt when a part is out of range.
std::optional<double> CivilSerial(int year, int month, int day, int hour = 0, int minute = 0,
                                  int second = 0);

// A text as a Date serial. A text with "Z" or an offset is moved to UTC;
// one without a zone keeps its time as written. Fractions of a second are
// dropped. Month names ("5 Mar 1980") are read as the platform reads them.
// nullopt when the text is no date in that order.
std::optional<double> ReadRecordDate(std::string_view text, DateOrder order);
// The same with the time as written; for a text with "Z" or an offset,
// `zoned` is set and `offset` is that zone as a signed hhmm number
// ("-04:00" gives -400), as FormatHL7DateTime's sixth argument takes it.
std::optional<double> ReadRecordDate(std::string_view text, DateOrder order, bool& zoned,
                                     int& offset);

}  // namespace tarn::hl7
