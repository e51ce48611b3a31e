// Acknowledgements are read leniently about line ends (CR, LF or both end a
// segment) but strictly about what they acknowledge: MSA-2 must be the
// control ID that was sent, else the answer belongs to some other message.
#include "hl7/ack.h"

#include <vector>

namespace tarn::hl7 {

namespace {

std::vector<std::string_view> Segments(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
      if (i > start) out.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return out;
}

// Field n of a segment (0 is the segment id); for MSH, n counts as HL7 does
// (MSH-1 is the separator itself).
std::string_view FieldOf(std::string_view segment, char separator, std::size_t n) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < n; ++i) {
    at = segment.find(separator, at);
    if (at == std::string_view::npos) return {};
    ++at;
  }
  const std::size_t end = segment.find(separator, at);
  return segment.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
}

bool IsMsh(std::string_view segment) {
  return segment.size() >= 8 && segment.substr(0, 3) == "MSH";
}

// First component: an acknowledgement code may carry further components.
std::string_view FirstComponent(std::string_view field, char component) {
  return field.substr(0, field.find(component));
}

}  // namespace

std::string ControlIdOf(std::string_view message) {
  const auto segments = Segments(message);
  if (segments.empty() || !IsMsh(segments[0])) return {};
  // MSH-10: with MSH-1 being the separator, it is the 9th separated field.
  return std::string(FieldOf(segments[0], segments[0][3], 9));
}

Ack ReadAck(std::string_view payload, std::string_view control_id) {
  Ack ack;
  const auto segments = Segments(payload);
  if (segments.empty() || !IsMsh(segments[0])) {
    ack.reason = "the answer is no HL7 message";
    return ack;
  }
  const char separator = segments[0][3];
  const char component = segments[0][4];
  std::string_view msa;
  for (const auto& s : segments) {
    if (s.size() >= 3 && s.substr(0, 3) == "MSA" && (s.size() == 3 || s[3] == separator)) {
      if (msa.empty()) msa = s;
    } else if (s.size() >= 3 && s.substr(0, 3) == "ERR" && (s.size() == 3 || s[3] == separator)) {
      if (!ack.errors.empty()) ack.errors += ' ';
      ack.errors.append(s);
    }
  }
  if (msa.empty()) {
    ack.reason = "the answer has no MSA segment";
    return ack;
  }
  ack.code = std::string(FirstComponent(FieldOf(msa, separator, 1), component));
  ack.text = std::string(FieldOf(msa, separator, 3));
  const std::string_view acked = FieldOf(msa, separator, 2);
  if (acked != control_id) {
    ack.reason = "the acknowledgement is for control ID '" + std::string(acked) + "', not '" +
                 std::string(control_id) + "'";
    return ack;
  }
  ack.matches = true;
  if (ack.code == "AA" || ack.code == "CA") {
    ack.verdict = AckVerdict::Accepted;
    ack.reason = ack.text;
  } else if (ack.code == "AE" || ack.code == "CE") {
    ack.verdict = AckVerdict::Rejected;
    ack.reason = ack.text;
    if (!ack.errors.empty()) ack.reason += (ack.reason.empty() ? "" : " ") + ack.errors;
  } else if (ack.code == "AR" || ack.code == "CR") {
    ack.reason = ack.code + (ack.text.empty() ? "" : ": " + ack.text);
  } else {
    ack.reason = "MSA-1 '" + ack.code + "' is no acknowledgement code";
  }
  return ack;
}

}  // namespace tarn::hl7
