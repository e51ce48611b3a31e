// An MLLP receiver for tests, on 127.0.0.1 and an ephemeral port: answers
// each message as a script says (accept, reject, ask for a resend, close,
// answer late, answer with something that is no acknowledgement) and keeps a
// log of what arrived and what was answered. It speaks TLS when given a
// server context.
#pragma once

#include <algorithm>
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarn::testing {

struct Reply {
  enum Kind { Ack, Close, Raw, Partial } kind = Ack;  // Partial: half an answer, then close
  std::string code = "AA";
  std::string text;    // MSA-3
  std::string err;     // a whole ERR segment, or empty
  std::string msa2;    // when not empty, sent instead of the message's control ID
  std::string raw;     // for Raw: sent as it is
  int delay_ms = 0;    // before answering
  std::string before;  // when not empty, a whole answer sent first (one to another message)
};

struct Arrival {
  std::string control_id;
  int seen = 0;  // 1 the first time this control ID arrived
  int connection = 0;
  int order = 0;  // 1 for the first message that arrived
  Reply reply;
  bool answered = false;  // the answer went out on a connection still open
};

class MllpReceiver {
 public:
  using Script = std::function<Reply(const std::string& control_id, int seen)>;

  // With `tls`, every connection is a TLS server stream with that context.
  explicit MllpReceiver(Script script, asio::ssl::context* tls = nullptr)
      : script_(std::move(script)), tls_(tls) {
    acceptor_.open(asio::ip::tcp::v4());
    acceptor_.set_option(asio::socket_base::reuse_address(true));
    acceptor_.bind({asio::ip::make_address("127.0.0.1"), 0});
    acceptor_.listen();
    port_ = acceptor_.local_endpoint().port();
    thread_ = std::thread([this] { Serve(); });
  }
  ~MllpReceiver() { Stop(); }

  unsigned short port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  void Stop() {
    if (stop_.exchange(true)) return;
    std::error_code ignored;
    asio::ip::tcp::socket wake(io_);
    wake.connect({asio::ip::make_address("127.0.0.1"), port_}, ignored);
    thread_.join();
  }

  // In the order the messages arrived.
  std::vector<Arrival> log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Arrival> out = log_;
    std::sort(out.begin(), out.end(),
              [](const Arrival& a, const Arrival& b) { return a.order < b.order; });
    return out;
  }
  // Control IDs whose acceptance reached an open connection, with counts.
  std::map<std::string, int> accepted() const {
    std::map<std::string, int> out;
    for (const auto& a : log())
      if (a.answered && a.reply.kind == Reply::Ack && a.reply.msa2.empty() &&
          (a.reply.code == "AA" || a.reply.code == "CA"))
        ++out[a.control_id];
    return out;
  }

  static std::string ControlId(const std::string& message) {
    // MSH-10: the ninth field separator closes MSH-9.
    std::size_t at = 0;
    for (int i = 0; i < 9 && at != std::string::npos; ++i) at = message.find('|', at + 1);
    if (at == std::string::npos) return {};
    const std::size_t end = message.find_first_of("|\r", at + 1);
    return message.substr(at + 1, end - at - 1);
  }

 private:
  // Each connection has its own thread, so that an answer held back on an
  // old connection does not hold up a sender that has already reconnected.
  void Serve() {
    int connection = 0;
    while (!stop_) {
      auto socket = std::make_shared<asio::ip::tcp::socket>(io_);
      std::error_code ec;
      acceptor_.accept(*socket, ec);
      if (ec || stop_) break;
      std::lock_guard<std::mutex> lock(mutex_);
      sockets_.push_back(socket);
      connections_.emplace_back([this, socket, n = ++connection] { Talk(*socket, n); });
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& s : sockets_) {
        std::error_code ignored;
        s->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
      }
    }
    for (auto& t : connections_) t.join();
  }

  void Talk(asio::ip::tcp::socket& socket, int connection) {
    if (!tls_) return Talk(socket, socket, connection);
    asio::ssl::stream<asio::ip::tcp::socket&> secure(socket, *tls_);
    std::error_code ec;
    secure.handshake(asio::ssl::stream_base::server, ec);
    if (!ec) Talk(secure, socket, connection);
  }

  template <class Stream>
  void Talk(Stream& stream, asio::ip::tcp::socket& socket, int connection) {
    std::string buffer;
    char chunk[4096];
    for (;;) {
      std::error_code ec;
      const std::size_t n = stream.read_some(asio::buffer(chunk), ec);
      if (ec) return;
      buffer.append(chunk, n);
      std::size_t end;
      while ((end = buffer.find("\x1c\r")) != std::string::npos) {
        const std::size_t start = buffer.find('\x0b');
        const std::string message = buffer.substr(start + 1, end - start - 1);
        buffer.erase(0, end + 2);
        if (!Answer(stream, socket, message, connection)) {
          socket.close(ec);
          return;
        }
      }
    }
  }

  // False when the connection is to be dropped.
  template <class Stream>
  bool Answer(Stream& stream, asio::ip::tcp::socket& socket, const std::string& message,
              int connection) {
    const std::string id = ControlId(message);
    Arrival arrival;
    arrival.control_id = id;
    arrival.connection = connection;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      arrival.seen = ++seen_[id];
      arrival.order = ++arrivals_;
      arrival.reply = script_(id, arrival.seen);
    }
    const Reply& r = arrival.reply;
    if (r.delay_ms) std::this_thread::sleep_for(std::chrono::milliseconds(r.delay_ms));
    bool keep = true;
    if (r.kind == Reply::Close) {
      keep = false;
    } else if (r.kind == Reply::Partial) {
      std::error_code ec;
      asio::write(stream, asio::buffer(std::string("\x0bMSH|^~\\&|RECV|FAC")), ec);
      keep = false;
    } else {
      std::string body = r.raw;
      if (r.kind == Reply::Ack) {
        body = "MSH|^~\\&|RECV|FAC|TARN|FAC|20240101000000||ACK|R" + id + "|P|2.5.1\rMSA|" +
               r.code + "|" + (r.msa2.empty() ? id : r.msa2) +
               (r.text.empty() ? "" : "|" + r.text) + "\r";
        if (!r.err.empty()) body += r.err + "\r";
      }
      std::string frame = "\x0b" + body + "\x1c\r";
      if (!r.before.empty()) frame = "\x0b" + r.before + "\x1c\r" + frame;
      std::error_code ec;
      // A peer that gave up has closed: its socket is readable at end of file.
      socket.non_blocking(true);
      char probe;
      socket.receive(asio::buffer(&probe, 1), asio::socket_base::message_peek, ec);
      const bool peer_gone = ec && ec != asio::error::would_block && !tls_;
      socket.non_blocking(false);
      asio::write(stream, asio::buffer(frame), ec);
      arrival.answered = !ec && !peer_gone;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(arrival);
    return keep;
  }

  Script script_;
  asio::ssl::context* tls_;
  asio::io_context io_;
  asio::ip::tcp::acceptor acceptor_{io_};
  unsigned short port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::vector<std::shared_ptr<asio::ip::tcp::socket>> sockets_;
  std::vector<std::thread> connections_;
  std::map<std::string, int> seen_;
  int arrivals_ = 0;
  mutable std::mutex mutex_;
  std::vector<Arrival> log_;
};

}  // namespace tarn::testing
