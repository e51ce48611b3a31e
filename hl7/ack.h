// Reading an HL7 acknowledgement: which of delivered, rejected or "try again"
// a receiver's answer means for the message whose control ID was sent.
#pragma once

#include <string>
#include <string_view>

namespace tarn::hl7 {

enum class AckVerdict {
  Accepted,  // MSA-1 AA or CA
  Rejected,  // MSA-1 AE or CE: final
  Retry,     // AR, CR, a wrong MSA-2, or an answer that is no acknowledgement
};

struct Ack {
  AckVerdict verdict = AckVerdict::Retry;
  std::string code;      // MSA-1 as received, empty when there was none
  std::string text;      // MSA-3 verbatim
  std::string errors;    // the ERR segments as received, separated by a space
  std::string reason;    // for people: what the answer said or why it does not count
  bool matches = false;  // MSA-2 is the control ID that was sent
};

// `payload` is what arrived between the frame's start and end bytes.
Ack ReadAck(std::string_view payload, std::string_view control_id);

// MSH-10 of a message as written (escapes kept); empty when it has none.
std::string ControlIdOf(std::string_view message);

}  // namespace tarn::hl7
