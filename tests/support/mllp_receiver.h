// An MLLP receiver for tests, on 127.0.0.1 and an ephemeral port: answers
// each message as its script says and keeps a log of what arrived. It speaks
// TLS when given a server context.
//
// A script is rules separated by tabs, each "WHICH=STEPS". WHICH is a control
// ID, "ID#N" for its Nth arrival, or "*" for any message; the first rule that
// fits is taken, and a message that none fits is accepted. STEPS, separated
// by " + ", run in order:
//   AA, CA, AE|text\rERR|... an acknowledgement: MSA-1, then MSA-3 and any
//                            further segments as written
//   raw:TEXT                 TEXT as one framed answer
//   late:MS                  a wait of MS milliseconds
//   oversize                 an acceptance whose MSA-3 is a megabyte long
//   partial                  half an answer, then the connection closed
//   close                    the connection closed
#pragma once

#include <algorithm>
#include <asio.hpp>
#include <asio/ssl.hpp>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarn::testing {

struct Arrival {
  std::string control_id;
  int connection = 0;
  int order = 0;          // 1 for the first message that arrived
  std::string steps;      // what the script answered
  bool answered = false;  // an answer went out on a connection still open
  bool missed = false;    // an answer went out after the sender had hung up
};

class MllpReceiver {
 public:
  // With `tls`, every connection is a TLS server stream with that context.
  explicit MllpReceiver(const std::string& script = "", asio::ssl::context* tls = nullptr)
      : tls_(tls) {
    for (std::size_t start = 0; start < script.size();) {
      const std::size_t end = std::min(script.find('\t', start), script.size());
      const std::string rule = script.substr(start, end - start);
      const std::size_t eq = rule.find('=');
      if (eq != std::string::npos) rules_.push_back({rule.substr(0, eq), rule.substr(eq + 1)});
      start = end + 1;
    }
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
    acceptor_.close(ignored);
  }

  // In the order the messages arrived, once those still being answered are.
  std::vector<Arrival> log() const {
    std::unique_lock<std::mutex> lock(mutex_);
    for (int i = 0; i < 2000 && log_.size() < static_cast<std::size_t>(arrivals_); ++i) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      lock.lock();
    }
    std::vector<Arrival> out = log_;
    std::sort(out.begin(), out.end(),
              [](const Arrival& a, const Arrival& b) { return a.order < b.order; });
    return out;
  }

  // The log from its `from`th arrival on, as "ID@connection" words; "-"
  // follows an answer that went out after the sender had hung up.
  std::string Text(std::size_t from = 0) const {
    std::string out;
    const auto all = log();
    for (std::size_t i = from; i < all.size(); ++i)
      out += (out.empty() ? "" : " ") + all[i].control_id + "@" +
             std::to_string(all[i].connection) + (all[i].missed ? "-" : "");
    return out;
  }

  // Control IDs whose acceptance reached an open connection, with counts.
  std::map<std::string, int> accepted() const {
    std::map<std::string, int> out;
    for (const auto& a : log())
      if (a.answered && (a.steps.rfind("AA", 0) == 0 || a.steps.rfind("CA", 0) == 0))
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
  struct Rule {
    std::string which, steps;
  };

  std::string StepsFor(const std::string& id, int seen) const {
    for (const Rule& r : rules_)
      if (r.which == "*" || r.which == id || r.which == id + "#" + std::to_string(seen))
        return r.steps;
    return "AA";
  }

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
          std::lock_guard<std::mutex> lock(mutex_);  // Serve may be shutting it down
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
      arrival.order = ++arrivals_;
      arrival.steps = StepsFor(id, ++seen_[id]);
    }
    bool keep = true;
    for (std::size_t start = 0; keep && start < arrival.steps.size();) {
      const std::size_t end = std::min(arrival.steps.find(" + ", start), arrival.steps.size());
      const std::string step = arrival.steps.substr(start, end - start);
      start = end + 3;
      std::error_code ec;
      if (step == "close") {
        keep = false;
      } else if (step == "partial") {
        asio::write(stream, asio::buffer(std::string("\x0bMSH|^~\\&|RECV|FAC")), ec);
        keep = false;
      } else if (step.rfind("late:", 0) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.substr(5))));
      } else {
        std::string body = step.rfind("raw:", 0) == 0 ? step.substr(4) : "";
        if (body.empty()) {
          const std::string ack = step == "oversize" ? "AA|" + std::string(1 << 20, 'x') : step;
          const std::size_t bar = std::min(ack.find('|'), ack.size());
          body = "MSH|^~\\&|RECV|FAC|TARN|FAC|20240101000000||ACK|R" + id + "|P|2.5.1\rMSA|" +
                 ack.substr(0, bar) + "|" + id + ack.substr(bar) + "\r";
        }
        // A peer that gave up has closed: its socket is readable at end of file.
        socket.non_blocking(true);
        char probe;
        socket.receive(asio::buffer(&probe, 1), asio::socket_base::message_peek, ec);
        const bool peer_gone = ec && ec != asio::error::would_block && !tls_;
        socket.non_blocking(false);
        asio::write(stream, asio::buffer("\x0b" + body + "\x1c\r"), ec);
        arrival.answered = !ec && !peer_gone;
        arrival.missed = !arrival.answered;
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(arrival);
    return keep;
  }

  std::vector<Rule> rules_;
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
