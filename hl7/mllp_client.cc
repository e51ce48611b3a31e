// The MLLP connection runs asio's asynchronous operations on a private
// io_context for at most the time limit, so that a receiver that never
// answers costs the limit and no more. With TLS the same exchange runs over
// an OpenSSL stream on the same socket.
#include "hl7/mllp_client.h"

#include <openssl/ssl.h>

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <functional>
#include <optional>
#include <stdexcept>

namespace tarn::hl7 {

namespace {

constexpr char kStart = '\x0b';
constexpr char kEnd1 = '\x1c';
constexpr char kEnd2 = '\x0d';

}  // namespace

std::string MllpFrame(std::string_view message) {
  std::string out;
  out.reserve(message.size() + 3);
  out += kStart;
  out.append(message);
  out += kEnd1;
  out += kEnd2;
  return out;
}

struct MllpClient::State {
  asio::io_context io;
  std::optional<asio::ssl::context> tls_context;
  // One of the two per connection: a TLS stream is not reused once closed.
  std::optional<asio::ip::tcp::socket> plain;
  std::optional<asio::ssl::stream<asio::ip::tcp::socket>> secure;
  std::string buffer;

  asio::ip::tcp::socket* Lowest() {
    if (secure) return &secure->next_layer();
    if (plain) return &*plain;
    return nullptr;
  }

  void Drop() {
    if (asio::ip::tcp::socket* s = Lowest()) {
      std::error_code ignored;
      s->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
      s->close(ignored);
    }
    secure.reset();
    plain.reset();
    buffer.clear();
  }

  // Runs what was started until `done` or the limit; past the limit the
  // socket is closed and the aborted handlers are let finish.
  bool RunFor(std::chrono::milliseconds limit, const bool& done) {
    io.restart();
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done && !io.stopped()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= until) break;
      io.run_one_for(until - now);
    }
    if (done) return true;
    if (asio::ip::tcp::socket* s = Lowest()) {
      std::error_code ignored;
      s->close(ignored);
    }
    io.restart();
    io.run();
    return false;
  }
};

MllpClient::MllpClient(std::string host, std::string port, const TlsOptions& tls)
    : host_(std::move(host)),
      port_(std::move(port)),
      tls_(tls.enabled),
      state_(std::make_unique<State>()) {
  if (!tls_) return;
  try {
    auto& context = state_->tls_context.emplace(asio::ssl::context::tls_client);
    context.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                        asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                        asio::ssl::context::no_tlsv1_1);
    context.set_verify_mode(asio::ssl::verify_peer);
    if (tls.ca_file.empty())
      context.set_default_verify_paths();
    else
      context.load_verify_file(tls.ca_file);
    if (!tls.cert_file.empty()) {
      context.use_certificate_chain_file(tls.cert_file);
      context.use_private_key_file(tls.key_file.empty() ? tls.cert_file : tls.key_file,
                                   asio::ssl::context::pem);
    }
  } catch (const std::system_error& e) {
    throw std::runtime_error("TLS: " + std::string(e.what()));
  }
}

MllpClient::~MllpClient() = default;

bool MllpClient::connected() const {
  const State& s = *state_;
  return s.secure ? s.secure->next_layer().is_open() : s.plain && s.plain->is_open();
}

void MllpClient::Close() { state_->Drop(); }

std::string MllpClient::Connect(std::chrono::milliseconds limit) {
  Close();
  State& s = *state_;
  std::error_code ec;
  asio::ip::tcp::resolver resolver(s.io);
  const auto endpoints = resolver.resolve(host_, port_, ec);
  if (ec) return host_ + ":" + port_ + ": " + ec.message();
  if (tls_)
    s.secure.emplace(s.io, *s.tls_context);
  else
    s.plain.emplace(s.io);
  bool done = false;
  std::error_code result;
  asio::async_connect(
      *s.Lowest(), endpoints, [&](const std::error_code& e, const asio::ip::tcp::endpoint&) {
        result = e;
        if (e || !tls_) {
          done = true;
          return;
        }
        // The name the certificate must carry, also sent for virtual hosts.
        SSL_set_tlsext_host_name(s.secure->native_handle(), host_.c_str());
        s.secure->set_verify_callback(asio::ssl::host_name_verification(host_));
        s.secure->async_handshake(asio::ssl::stream_base::client, [&](const std::error_code& h) {
          result = h;
          done = true;
        });
      });
  if (!s.RunFor(limit, done)) {
    Close();
    return host_ + ":" + port_ + ": no connection within the limit";
  }
  if (result) {
    Close();
    return host_ + ":" + port_ + ": " + (tls_ ? "TLS: " : "") + result.message();
  }
  s.Lowest()->set_option(asio::ip::tcp::no_delay(true), ec);
  return {};
}

namespace {

bool FindFrameEnd(const std::string& buffer, std::size_t from, std::size_t& frame_end) {
  for (std::size_t i = from; i + 1 < buffer.size(); ++i)
    if (buffer[i] == kEnd1 && buffer[i + 1] == kEnd2) {
      frame_end = i;
      return true;
    }
  return false;
}

// Writes the frame (none: only reads) and reads until the frame end, more
// than an answer may hold, or a failure; over a plain socket or a TLS
// stream alike.
template <class Stream>
void StartExchange(Stream& stream, const std::string& frame, std::string& buffer, char* chunk,
                   std::size_t chunk_size, std::function<void()>& read_more, bool& done,
                   bool& failed, std::error_code& error, std::size_t& frame_end) {
  read_more = [&stream, &buffer, &read_more, &done, &failed, &error, &frame_end, chunk,
               chunk_size] {
    stream.async_read_some(
        asio::buffer(chunk, chunk_size), [&, chunk](const std::error_code& e, std::size_t n) {
          buffer.append(chunk, n);
          FindFrameEnd(buffer, buffer.size() > n ? buffer.size() - n - 1 : 0, frame_end);
          // An answer is small; an endless one is not read to its end.
          if (frame_end != std::string::npos || buffer.size() > kMaxAnswer + 3) {
            done = true;
          } else if (e) {
            error = e;
            failed = done = true;
          } else {
            read_more();
          }
        });
  };
  if (frame.empty()) {
    if (FindFrameEnd(buffer, 0, frame_end))
      done = true;
    else
      read_more();
    return;
  }
  asio::async_write(stream, asio::buffer(frame),
                    [&read_more, &done, &failed, &error](const std::error_code& e, std::size_t) {
                      if (e) {
                        error = e;
                        failed = done = true;
                      } else {
                        read_more();
                      }
                    });
}

}  // namespace

Exchange MllpClient::Send(std::string_view message, std::chrono::milliseconds limit) {
  if (!connected()) {
    Exchange ex;
    ex.detail = "not connected";
    return ex;
  }
  State& s = *state_;
  // Whatever arrived before this message was sent answers an earlier one.
  s.buffer.clear();
  if (s.plain) {
    std::error_code ec;
    char drop[4096];
    while (s.plain->available(ec) > 0 && !ec) s.plain->read_some(asio::buffer(drop), ec);
  }
  return Talk(MllpFrame(message), limit);
}

Exchange MllpClient::Receive(std::chrono::milliseconds limit) {
  if (!connected()) {
    Exchange ex;
    ex.detail = "not connected";
    return ex;
  }
  return Talk({}, limit);
}

Exchange MllpClient::Talk(const std::string& frame, std::chrono::milliseconds limit) {
  Exchange ex;
  State& s = *state_;
  bool done = false, failed = false;
  std::error_code error;
  std::size_t frame_end = std::string::npos;
  char chunk[4096];
  std::function<void()> read_more;
  if (s.secure)
    StartExchange(*s.secure, frame, s.buffer, chunk, sizeof chunk, read_more, done, failed, error,
                  frame_end);
  else
    StartExchange(*s.plain, frame, s.buffer, chunk, sizeof chunk, read_more, done, failed, error,
                  frame_end);

  if (!s.RunFor(limit, done)) {
    ex.status = ExchangeStatus::Timeout;
    ex.detail = "no acknowledgement within the limit";
    Close();
    return ex;
  }
  if (failed) {
    ex.status = ExchangeStatus::Closed;
    ex.detail = error == asio::error::eof || error == asio::ssl::error::stream_truncated
                    ? "the receiver closed the connection" +
                          std::string(s.buffer.empty() ? "" : " in the middle of its answer")
                    : "the connection failed: " + error.message();
    Close();
    return ex;
  }
  const std::size_t start =
      frame_end == std::string::npos ? std::string::npos : s.buffer.rfind(kStart, frame_end);
  if (frame_end == std::string::npos ||
      (start != std::string::npos && frame_end - start - 1 > kMaxAnswer)) {
    ex.status = ExchangeStatus::TooLarge;
    ex.detail = "the answer is longer than an acknowledgement may be (" +
                std::to_string(kMaxAnswer) + " bytes)";
    Close();
    return ex;
  }
  if (start == std::string::npos) {
    ex.status = ExchangeStatus::Garbage;
    ex.detail = "the answer has no frame start";
    Close();
    return ex;
  }
  ex.status = ExchangeStatus::Answered;
  ex.payload = s.buffer.substr(start + 1, frame_end - start - 1);
  s.buffer.erase(0, frame_end + 2);  // the start of a next answer, if any
  return ex;
}

}  // namespace tarn::hl7
