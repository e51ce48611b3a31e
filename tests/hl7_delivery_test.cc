// Delivery over MLLP: reading acknowledgements, the retry policy against a
// receiver on 127.0.0.1, and the journal's lines across runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "hl7/ack.h"
#include "hl7/delivery.h"
#include "hl7/journal.h"
#include "support/mllp_receiver.h"
#include "support/temp_files.h"

namespace {

using namespace tarn::hl7;
using nlohmann::json;
using tarn::testing::MllpReceiver;
using tarn::testing::ReadAll;
using tarn::testing::Reply;
using tarn::testing::TempDir;

std::string Message(const std::string& control_id) {
  return "MSH|^~\\&|TARN|FAC|RECV|FAC|20240101000000||ADT^A01|" + control_id +
         "|P|2.5.1\rPID|1||123\r";
}

struct AckCase {
  std::string payload;
  AckVerdict verdict;
  std::string code;
  std::string reason;
};

TEST(Ack, ReadsWhatTheReceiverMeant) {
  const std::string msh = "MSH|^~\\&|R|F|T|F|20240101||ACK|9|P|2.5.1\r";
  const std::vector<AckCase> cases = {
      {msh + "MSA|AA|C1\r", AckVerdict::Accepted, "AA", ""},
      {msh + "MSA|CA|C1|fine\r", AckVerdict::Accepted, "CA", "fine"},
      {"MSH|^~\\&|R|F|T|F|20240101||ACK|9|P|2.5.1\nMSA|AA|C1\n", AckVerdict::Accepted, "AA", ""},
      {msh + "MSA|AA^x|C1\r", AckVerdict::Accepted, "AA", ""},
      // The text stays as received, escapes and all; ERR segments follow it.
      {msh + "MSA|AE|C1|Unknown \\T\\ patient\rERR|^^^207&Application error\r",
       AckVerdict::Rejected, "AE", "Unknown \\T\\ patient ERR|^^^207&Application error"},
      {msh + "MSA|CE|C1|Bad\r", AckVerdict::Rejected, "CE", "Bad"},
      {msh + "MSA|AE|C1\rERR|1\rERR|2\r", AckVerdict::Rejected, "AE", "ERR|1 ERR|2"},
      {msh + "MSA|AR|C1|busy\r", AckVerdict::Retry, "AR", "AR: busy"},
      {msh + "MSA|CR|C1\r", AckVerdict::Retry, "CR", "CR"},
      {msh + "MSA|AA|C2\r", AckVerdict::Retry, "AA",
       "the acknowledgement is for control ID 'C2', not 'C1'"},
      {msh + "MSA|AE|C11\r", AckVerdict::Retry, "AE",
       "the acknowledgement is for control ID 'C11', not 'C1'"},
      {msh + "MSA|XX|C1\r", AckVerdict::Retry, "XX", "MSA-1 'XX' is no acknowledgement code"},
      {msh + "PID|1\r", AckVerdict::Retry, "", "the answer has no MSA segment"},
      {"hello", AckVerdict::Retry, "", "the answer is no HL7 message"},
      {"", AckVerdict::Retry, "", "the answer is no HL7 message"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    const Ack ack = ReadAck(c.payload, "C1");
    EXPECT_EQ(ack.verdict, c.verdict);
    EXPECT_EQ(ack.code, c.code);
    EXPECT_EQ(ack.reason, c.reason);
  }
}

TEST(Ack, ControlIdIsMsh10AsWritten) {
  EXPECT_EQ(ControlIdOf(Message("ADT\\F\\1")), "ADT\\F\\1");
  EXPECT_EQ(ControlIdOf("MSH#^~\\&#A#B#C#D#E##ADT^A01#X9#P\r"), "X9");
  EXPECT_EQ(ControlIdOf("MSH|^~\\&|A\rPID|1\r"), "");
  EXPECT_EQ(ControlIdOf("PID|1\r"), "");
}

TEST(Address, HostAndPort) {
  std::string host, port;
  EXPECT_TRUE(ParseAddress("127.0.0.1:2575", host, port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, "2575");
  EXPECT_TRUE(ParseAddress("[::1]:7", host, port));
  EXPECT_EQ(host, "::1");
  for (const char* bad :
       {"localhost", ":2575", "host:", "host:0", "host:65536", "host:12a", "[::1]7"})
    EXPECT_FALSE(ParseAddress(bad, host, port)) << bad;
}

DeliveryOptions Options(const MllpReceiver& receiver, int retries = 3, double timeout = 2) {
  DeliveryOptions o;
  o.host = "127.0.0.1";
  o.port = std::to_string(receiver.port());
  o.ack_timeout = timeout;
  o.retries = retries;
  o.retry_delay = 0.01;
  return o;
}

struct SendCase {
  std::string name;
  MllpReceiver::Script script;
  DeliveryOutcome outcome;
  int attempts;
  std::string reason;
};

Reply Ack(const std::string& code, const std::string& text = "") {
  Reply r;
  r.code = code;
  r.text = text;
  return r;
}

TEST(Sender, OutcomesAndRetries) {
  auto once = [](Reply first) {
    return [first](const std::string&, int seen) { return seen == 1 ? first : Ack("AA"); };
  };
  // Answers a run of tarn-hl7 --send never meets in the outbound tests.
  Reply close;
  close.kind = Reply::Close;
  const std::vector<SendCase> cases = {
      {"commit accept", once(Ack("CA")), DeliveryOutcome::Delivered, 1, ""},
      {"commit reject", once(Ack("CE", "no")), DeliveryOutcome::Rejected, 1, "no"},
      {"CR then AA", once(Ack("CR")), DeliveryOutcome::Delivered, 2, ""},
      {"AR every time", [](const std::string&, int) { return Ack("AR", "busy"); },
       DeliveryOutcome::Rejected, 3, "not acknowledged after 3 attempts: AR: busy"},
      {"closed every time", [close](const std::string&, int) { return close; },
       DeliveryOutcome::Rejected, 3,
       "not acknowledged after 3 attempts: the receiver closed the connection"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MllpReceiver receiver(c.script);
    DeliveryResult r;
    {
      Sender sender(Options(receiver, 2, 1.0));
      r = sender.Deliver(Message("C1"));
    }
    receiver.Stop();
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.attempts, c.attempts);
    EXPECT_EQ(r.control_id, "C1");
    if (c.outcome != DeliveryOutcome::Delivered) {
      EXPECT_EQ(r.reason, c.reason);
    }
    EXPECT_EQ(receiver.log().size(), static_cast<std::size_t>(c.attempts));
  }
}

TEST(Sender, ALateAcceptanceNeverCountsForTheNextMessage) {
  // The first answer to C1 comes after the limit; the sender must have
  // reconnected, so that answer cannot be read as anything's acknowledgement.
  MllpReceiver receiver([](const std::string& id, int seen) {
    Reply r = Ack(id == "C2" && seen == 1 ? "AR" : "AA");
    if (id == "C1" && seen == 1) r.delay_ms = 1500;
    return r;
  });
  Sender sender(Options(receiver, 3, 1.0));
  std::vector<int> retried;
  sender.on_retry = [&](int attempt, const std::string&) { retried.push_back(attempt); };
  const DeliveryResult first = sender.Deliver(Message("C1"));
  const DeliveryResult second = sender.Deliver(Message("C2"));
  EXPECT_EQ(first.outcome, DeliveryOutcome::Delivered);
  EXPECT_EQ(second.outcome, DeliveryOutcome::Delivered);
  EXPECT_EQ(first.attempts, 2);
  EXPECT_EQ(second.attempts, 2);
  EXPECT_EQ(retried, (std::vector<int>{1, 1}));
  receiver.Stop();
  std::map<std::string, tarn::testing::Arrival> arrived;  // by control ID and time seen
  for (const auto& a : receiver.log()) arrived[a.control_id + "#" + std::to_string(a.seen)] = a;
  ASSERT_EQ(arrived.size(), 4u);
  EXPECT_FALSE(arrived["C1#1"].answered);  // the sender had hung up
  EXPECT_LT(arrived["C1#1"].connection, arrived["C1#2"].connection);
  EXPECT_EQ(arrived["C1#2"].connection, arrived["C2#1"].connection);
  EXPECT_EQ(arrived["C2#1"].connection, arrived["C2#2"].connection);  // AR keeps it
  EXPECT_EQ(receiver.accepted(), (std::map<std::string, int>{{"C1", 1}, {"C2", 1}}));
}

// A self-signed certificate for 127.0.0.1 (and a second one that the
// receiver's is not), made with the openssl program.
std::string MakeCertificate(const std::filesystem::path& dir, const std::string& name) {
  const std::string base = (dir / name).string();
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
      "subjectAltName=IP:127.0.0.1 -keyout '" +
      base + ".key' -out '" + base + ".pem' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0 ? base : "";
}

TEST(Sender, OverTls) {
  const auto dir = TempDir("tls");
  const std::string server = MakeCertificate(dir, "server");
  const std::string other = MakeCertificate(dir, "other");
  if (server.empty() || other.empty()) GTEST_SKIP() << "no openssl program";
  asio::ssl::context context(asio::ssl::context::tls_server);
  context.use_certificate_chain_file(server + ".pem");
  context.use_private_key_file(server + ".key", asio::ssl::context::pem);
  MllpReceiver receiver(
      [](const std::string&, int seen) { return seen == 1 ? Ack("AR") : Ack("AA"); }, &context);
  struct Case {
    std::string ca;
    DeliveryOutcome outcome;
    int attempts;
  };
  for (const Case& c : std::vector<Case>{{server + ".pem", DeliveryOutcome::Delivered, 2},
                                         {other + ".pem", DeliveryOutcome::Unreachable, 2}}) {
    SCOPED_TRACE(c.ca);
    DeliveryOptions o = Options(receiver, 1, 2);
    o.tls.enabled = true;
    o.tls.ca_file = c.ca;
    Sender sender(o);
    const DeliveryResult r = sender.Deliver(Message("T1"));
    EXPECT_EQ(r.outcome, c.outcome) << r.reason;
    EXPECT_EQ(r.attempts, c.attempts);
  }
  receiver.Stop();
  // Only the trusted connection carried messages: once AR, once AA.
  ASSERT_EQ(receiver.log().size(), 2u);
  EXPECT_EQ(receiver.accepted(), (std::map<std::string, int>{{"T1", 1}}));
  DeliveryOptions missing = Options(receiver);
  missing.tls.enabled = true;
  missing.tls.ca_file = (dir / "absent.pem").string();
  EXPECT_THROW(Sender{missing}, std::runtime_error);
}

TEST(Journal, LinesSurviveARestart) {
  const auto dir = TempDir("journal");
  const std::string path = (dir / "j.jsonl").string();
  {
    Journal j(path, "TX");
    EXPECT_FALSE(j.Final(1));
    j.Append({1, true, "TX1", ""});
    j.Append({2, false, "", "record 2 rejected: t.tmpl:2:5: no such field"});
    j.Append({3, false, "TX2", "Unknown \"patient\""});
    EXPECT_TRUE(j.Final(2));
  }
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            R"({"record":1,"outcome":"delivered","control_id":"TX1","reason":""})");
  std::size_t lines = 0;
  for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    EXPECT_NO_THROW(json::parse(text.substr(at, end - at)));
    ++lines;
  }
  EXPECT_EQ(lines, 3u);

  Journal again(path, "TX");
  EXPECT_TRUE(again.Final(1));
  EXPECT_TRUE(again.Final(2));
  EXPECT_TRUE(again.Final(3));
  EXPECT_FALSE(again.Final(4));
  EXPECT_EQ(again.delivered(), 1u);
  EXPECT_EQ(again.rejected(), 2u);
  EXPECT_EQ(again.control_offset(), std::optional<std::int64_t>(0));
  EXPECT_FALSE(again.repaired());
  // A second run on the same journal at the same time is refused.
  EXPECT_THROW(Journal(path, "TX"), std::runtime_error);
}

struct TornCase {
  std::string name;
  std::string tail;  // after two whole lines
  bool opens;
  bool repaired;
};

TEST(Journal, ATornLastLineIsCutOff) {
  const std::string whole = JournalLine({1, true, "A1", ""}) + JournalLine({2, true, "A2", ""});
  const std::vector<TornCase> cases = {
      {"clean", "", true, false},
      {"cut inside", R"({"record":3,"outc)", true, true},
      {"cut before its line end",
       R"({"record":3,"outcome":"delivered","control_id":"A3","reason":""})", true, true},
      {"zeros after a power cut", std::string(40, '\0'), true, true},
      {"blank line", "\n", true, false},
      {"damage before a whole line", "garbage\n" + JournalLine({3, true, "A3", ""}), false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dir = TempDir("torn");
    const std::string path = (dir / "j.jsonl").string();
    std::ofstream(path, std::ios::binary) << whole << c.tail;
    if (!c.opens) {
      EXPECT_THROW(Journal(path, "A"), std::runtime_error);
      continue;
    }
    {
      Journal j(path, "A");
      EXPECT_EQ(j.repaired(), c.repaired);
      EXPECT_TRUE(j.Final(2));
      EXPECT_FALSE(j.Final(3));
      EXPECT_EQ(j.control_offset(), std::optional<std::int64_t>(0));
      j.Append({3, false, "A3", "x"});
    }
    const std::string text = ReadAll(path);
    const std::string expected =
        whole + (c.tail == "\n" ? "\n" : "") + JournalLine({3, false, "A3", "x"});
    EXPECT_EQ(text, expected);
  }
}

TEST(Journal, ControlIdsTellHowTheCounterRan) {
  const auto dir = TempDir("counter");
  const std::string path = (dir / "j.jsonl").string();
  std::ofstream(path, std::ios::binary)
      << JournalLine({1, false, "", "cannot be built"}) << JournalLine({2, true, "OTHER99", ""})
      << JournalLine({3, true, "MSG2024000017", ""}) << JournalLine({4, true, "MSG2024000018", ""});
  struct Case {
    std::string prefix;
    std::optional<std::int64_t> offset;
  };
  for (const Case& c : std::vector<Case>{
           {"MSG2024", 14}, {"OTHER", 97}, {"", std::nullopt}, {"MSG2024000017", std::nullopt}}) {
    SCOPED_TRACE(c.prefix);
    EXPECT_EQ(Journal(path, c.prefix).control_offset(), c.offset);
  }
}

}  // namespace
