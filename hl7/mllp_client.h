// One MLLP connection to a receiver: a message goes out framed 0x0B ... 0x1C
// 0x0D and one framed answer comes back, all within a time limit.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace tarn::hl7 {

// The MLLP frame of a message.
std::string MllpFrame(std::string_view message);

enum class ExchangeStatus {
  Answered,  // a whole frame arrived; `payload` holds what was inside it
  Timeout,   // no whole frame within the time limit
  Closed,    // the receiver closed the connection, or the connection broke
  Garbage,   // bytes that are no frame
  TooLarge,  // an answer longer than kMaxAnswer without its frame end
};

// The most an answer may hold between its frame's start and end bytes.
inline constexpr std::size_t kMaxAnswer = 1 << 20;

struct Exchange {
  ExchangeStatus status = ExchangeStatus::Closed;
  std::string payload;
  std::string detail;  // for people, when not answered
};

// TLS for the connection: the receiver's certificate is checked against
// `ca_file` (or the system's authorities) and the host name; a client
// certificate is offered when `cert_file` is given.
struct TlsOptions {
  bool enabled = false;
  std::string ca_file;
  std::string cert_file;
  std::string key_file;  // defaults to cert_file
};

class MllpClient {
 public:
  // Throws std::runtime_error when the TLS files cannot be used.
  MllpClient(std::string host, std::string port, const TlsOptions& tls = {});
  ~MllpClient();
  MllpClient(const MllpClient&) = delete;
  MllpClient& operator=(const MllpClient&) = delete;

  bool connected() const;
  // Opens the connection; on failure returns why (empty on success).
  std::string Connect(std::chrono::milliseconds limit);
  // Sends one message and waits for one framed answer. On anything but an
  // answer the connection is closed, so that nothing late is ever read as
  // the answer to a later message.
  Exchange Send(std::string_view message, std::chrono::milliseconds limit);
  // The next answer without sending anything: after one that answered
  // another message.
  Exchange Receive(std::chrono::milliseconds limit);
  void Close();

 private:
  Exchange Talk(const std::string& frame, std::chrono::milliseconds limit);

  struct State;
  std::string host_, port_;
  bool tls_ = false;
  std::unique_ptr<State> state_;
};

}  // namespace tarn::hl7
