// The MLLP connection runs asio's asynchronous operations on a private
// io_context for at most the time limit, so that a receiver that never
// answers costs the limit and no more.
#include "hl7/mllp_client.h"

#include <asio.hpp>
#include <functional>

namespace tarn::hl7 {

namespace {

constexpr char kStart = '\x0b';
constexpr char kEnd1 = '\x1c';
constexpr char kEnd2 = '\x0d';
// An acknowledgement is small; an endless stream without a frame end is not one.
constexpr std::size_t kMaxAnswer = 1 << 20;

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
  asio::ip::tcp::socket socket{io};
  std::string buffer;

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
    std::error_code ignored;
    socket.close(ignored);
    io.restart();
    io.run();
    return false;
  }
};

MllpClient::MllpClient(std::string host, std::string port)
    : host_(std::move(host)), port_(std::move(port)), state_(std::make_unique<State>()) {}

MllpClient::~MllpClient() = default;

bool MllpClient::connected() const { return state_->socket.is_open(); }

void MllpClient::Close() {
  std::error_code ignored;
  state_->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  state_->socket.close(ignored);
  state_->buffer.clear();
}

std::string MllpClient::Connect(std::chrono::milliseconds limit) {
  Close();
  std::error_code ec;
  asio::ip::tcp::resolver resolver(state_->io);
  const auto endpoints = resolver.resolve(host_, port_, ec);
  if (ec) return host_ + ":" + port_ + ": " + ec.message();
  bool done = false;
  std::error_code result;
  asio::async_connect(state_->socket, endpoints,
                      [&](const std::error_code& e, const asio::ip::tcp::endpoint&) {
                        result = e;
                        done = true;
                      });
  if (!state_->RunFor(limit, done)) return host_ + ":" + port_ + ": no connection within the limit";
  if (result) {
    Close();
    return host_ + ":" + port_ + ": " + result.message();
  }
  state_->socket.set_option(asio::ip::tcp::no_delay(true), ec);
  return {};
}

Exchange MllpClient::Send(std::string_view message, std::chrono::milliseconds limit) {
  Exchange ex;
  if (!connected()) {
    ex.detail = "not connected";
    return ex;
  }
  State& s = *state_;
  s.buffer.clear();
  const std::string frame = MllpFrame(message);
  bool done = false, failed = false;
  std::error_code error;
  std::size_t frame_end = std::string::npos;

  // Reads until the buffer holds the frame end, more than an answer may
  // hold, or the connection fails.
  std::function<void()> read_more;
  char chunk[4096];
  read_more = [&] {
    s.socket.async_read_some(asio::buffer(chunk), [&](const std::error_code& e, std::size_t n) {
      s.buffer.append(chunk, n);
      for (std::size_t i = s.buffer.size() > n ? s.buffer.size() - n - 1 : 0;
           i + 1 < s.buffer.size(); ++i)
        if (s.buffer[i] == kEnd1 && s.buffer[i + 1] == kEnd2) {
          frame_end = i;
          break;
        }
      if (frame_end != std::string::npos || s.buffer.size() > kMaxAnswer) {
        done = true;
      } else if (e) {
        error = e;
        failed = done = true;
      } else {
        read_more();
      }
    });
  };
  asio::async_write(s.socket, asio::buffer(frame), [&](const std::error_code& e, std::size_t) {
    if (e) {
      error = e;
      failed = done = true;
    } else {
      read_more();
    }
  });

  if (!s.RunFor(limit, done)) {
    ex.status = ExchangeStatus::Timeout;
    ex.detail = "no acknowledgement within the limit";
    Close();
    return ex;
  }
  if (failed) {
    ex.status = ExchangeStatus::Closed;
    ex.detail = error == asio::error::eof ? "the receiver closed the connection"
                                          : "the connection failed: " + error.message();
    Close();
    return ex;
  }
  const std::size_t start =
      frame_end == std::string::npos ? std::string::npos : s.buffer.rfind(kStart, frame_end);
  if (start == std::string::npos) {
    ex.status = ExchangeStatus::Garbage;
    ex.detail = frame_end == std::string::npos ? "the answer has no frame end"
                                               : "the answer has no frame start";
    Close();
    return ex;
  }
  ex.status = ExchangeStatus::Answered;
  ex.payload = s.buffer.substr(start + 1, frame_end - start - 1);
  s.buffer.clear();
  return ex;
}

}  // namespace tarn::hl7
