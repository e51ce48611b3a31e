// Delivery of one message at a time to an MLLP receiver: the message is sent
// again (with back-off, reconnecting as needed) until an acknowledgement
// accepts or rejects it, or the retries run out.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "hl7/mllp_client.h"

namespace tarn::hl7 {

struct DeliveryOptions {
  std::string host;
  std::string port;
  double ack_timeout = 30;  // seconds, for the connection and for each answer
  int retries = 3;          // after the first attempt
  double retry_delay = 1;   // seconds before the first retry; doubles, up to a minute
  TlsOptions tls;
};

// "HOST:PORT" ("[::1]:2575" for an IPv6 address); false when it is not one.
bool ParseAddress(std::string_view text, std::string& host, std::string& port);

enum class DeliveryOutcome {
  Delivered,    // AA or CA with the message's control ID
  Rejected,     // AE or CE, answers that never accepted it, or an answer over the size limit
  Unreachable,  // no attempt even reached the receiver: nothing was sent
  Pending,      // sent, but the last attempt got no answer (time out, connection lost)
};

struct DeliveryResult {
  DeliveryOutcome outcome = DeliveryOutcome::Unreachable;
  std::string control_id;  // MSH-10 as sent
  std::string reason;      // MSA-3 verbatim (and ERR) for a reject by the receiver
  std::string ack_code;    // MSA-1 of the final answer, if any
  int attempts = 0;
};

class Sender {
 public:
  // Throws std::runtime_error when the TLS files cannot be used.
  explicit Sender(DeliveryOptions options);

  DeliveryResult Deliver(std::string_view message);

  // Called before each retry with the attempt that failed and why; tests and
  // the tool's progress use it.
  std::function<void(int attempt, const std::string& why)> on_retry;

 private:
  DeliveryOptions options_;
  MllpClient client_;
};

}  // namespace tarn::hl7
