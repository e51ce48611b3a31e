// The retry policy. One message is in flight at a time and its retries end
// before the next message is sent, so that the receiver sees input order.
#include "hl7/delivery.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "hl7/ack.h"

namespace tarn::hl7 {

namespace {

constexpr int kMostStaleAnswers = 8;

std::chrono::milliseconds Millis(double seconds) {
  return std::chrono::milliseconds(
      static_cast<long long>(std::ceil(std::max(seconds, 0.0) * 1000)));
}

}  // namespace

bool ParseAddress(std::string_view text, std::string& host, std::string& port) {
  std::size_t colon;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
      return false;
    host = std::string(text.substr(1, close - 1));
    colon = close + 1;
  } else {
    colon = text.rfind(':');
    if (colon == std::string_view::npos) return false;
    host = std::string(text.substr(0, colon));
  }
  port = std::string(text.substr(colon + 1));
  if (host.empty() || port.empty() || port.size() > 5) return false;
  if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  const long n = std::stol(port);
  return n > 0 && n < 65536;
}

Sender::Sender(DeliveryOptions options)
    : options_(std::move(options)), client_(options_.host, options_.port, options_.tls) {}

DeliveryResult Sender::Deliver(std::string_view message) {
  DeliveryResult result;
  result.control_id = ControlIdOf(message);
  const auto limit = Millis(options_.ack_timeout);
  bool reached = false, answered = false;
  std::string why;
  for (int attempt = 0; attempt <= options_.retries; ++attempt) {
    if (attempt > 0) {
      if (on_retry) on_retry(attempt, why);
      const double delay = std::min(options_.retry_delay * std::pow(2.0, attempt - 1),
                                    std::max(60.0, options_.retry_delay));
      std::this_thread::sleep_for(Millis(delay));
    }
    result.attempts = attempt + 1;
    if (!client_.connected()) {
      why = client_.Connect(limit);
      if (!why.empty()) {
        answered = false;
        continue;
      }
    }
    reached = true;
    const Exchange ex = client_.Send(message, limit);
    if (ex.status == ExchangeStatus::TooLarge) {
      // The receiver answered, and will answer so again: sending once more helps nothing.
      result.outcome = DeliveryOutcome::Rejected;
      result.reason = ex.detail;
      return result;
    }
    answered = ex.status == ExchangeStatus::Answered || ex.status == ExchangeStatus::Garbage;
    if (ex.status != ExchangeStatus::Answered) {
      why = ex.detail;
      continue;
    }
    Ack ack = ReadAck(ex.payload, result.control_id);
    // A receiver that answered an earlier message twice: its next answer
    // may still be this message's, on the same connection.
    for (int stale = 0; !ack.matches && !ack.code.empty() && stale < kMostStaleAnswers; ++stale) {
      const Exchange next = client_.Receive(limit);
      if (next.status != ExchangeStatus::Answered) break;
      ack = ReadAck(next.payload, result.control_id);
    }
    result.ack_code = ack.code;
    if (ack.verdict == AckVerdict::Accepted) {
      result.outcome = DeliveryOutcome::Delivered;
      result.reason = ack.text;
      return result;
    }
    if (ack.verdict == AckVerdict::Rejected) {
      result.outcome = DeliveryOutcome::Rejected;
      result.reason = ack.reason;
      return result;
    }
    why = ack.reason;
    // An answer to something else means the stream is out of step: start afresh.
    if (!ack.matches || (ack.code != "AR" && ack.code != "CR")) client_.Close();
  }
  result.ack_code.clear();  // no answer settled it
  // Without an answer to the last attempt the receiver may or may not have
  // the message: it stays unsettled, to be sent again by the next run.
  result.outcome = !reached   ? DeliveryOutcome::Unreachable
                   : answered ? DeliveryOutcome::Rejected
                              : DeliveryOutcome::Pending;
  result.reason = "not acknowledged after " + std::to_string(result.attempts) +
                  (result.attempts == 1 ? " attempt: " : " attempts: ") + why;
  return result;
}

}  // namespace tarn::hl7
