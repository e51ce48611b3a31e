// Delivery over MLLP: reading acknowledgements, TLS against a receiver on
// 127.0.0.1, and the journal's lines across runs (answers and retries as a
// run of tarn-hl7 meets them: rows of tests/data/tools.tsv).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "hl7/ack.h"
#include "hl7/delivery.h"
#include "hl7/journal.h"
#include "support/expression_table.h"
#include "support/mllp_receiver.h"
#include "support/temp_files.h"

namespace {

using namespace tarn::hl7;
using tarn::testing::MllpReceiver;
using tarn::testing::ReadAll;
using tarn::testing::TempDir;

std::string Message(const std::string& control_id) {
  return "MSH|^~\\&|TARN|FAC|RECV|FAC|20240101000000||ADT^A01|" + control_id +
         "|P|2.5.1\rPID|1||123\r";
}

// Each row of hl7_acks.tsv: an answer's verdict, a control ID as written, or
// a receiver's address.
TEST(Ack, AnswersControlIdsAndAddressesAsTabled) {
  std::ifstream table(std::string(TARN_SOURCE_DIR) + "/tests/data/hl7_acks.tsv");
  const std::map<std::string, AckVerdict> verdicts = {{"Accepted", AckVerdict::Accepted},
                                                      {"Rejected", AckVerdict::Rejected},
                                                      {"Retry", AckVerdict::Retry}};
  int rows = 0;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    auto c = tarn::testing::Split(line, '\t');
    for (auto& cell : c) cell = tarn::table::Unescape(cell);
    SCOPED_TRACE(line);
    ++rows;
    if (c[0] == "ack") {
      ASSERT_EQ(c.size(), 5u);
      const Ack ack = ReadAck(c[1], "C1");
      EXPECT_EQ(ack.verdict, verdicts.at(c[2]));
      EXPECT_EQ(ack.code, c[3]);
      EXPECT_EQ(ack.reason, c[4]);
    } else if (c[0] == "control-id") {
      ASSERT_EQ(c.size(), 3u);
      EXPECT_EQ(ControlIdOf(c[1]), c[2]);
    } else {
      ASSERT_EQ(c.size(), 4u);
      std::string host, port;
      EXPECT_EQ(ParseAddress(c[1], host, port), !c[2].empty());
      if (!c[2].empty()) {
        EXPECT_EQ(host + " " + port, c[2] + " " + c[3]);
      }
    }
  }
  EXPECT_GE(rows, 28);
}

DeliveryOptions Options(const MllpReceiver& receiver) {
  DeliveryOptions o;
  o.host = "127.0.0.1";
  o.port = std::to_string(receiver.port());
  o.ack_timeout = 2;
  o.retries = 1;
  o.retry_delay = 0.01;
  return o;
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
  MllpReceiver receiver("T1#1=AR", &context);
  struct Case {
    std::string ca;
    DeliveryOutcome outcome;
    int attempts;
  };
  for (const Case& c : std::vector<Case>{{server + ".pem", DeliveryOutcome::Delivered, 2},
                                         {other + ".pem", DeliveryOutcome::Unreachable, 2}}) {
    SCOPED_TRACE(c.ca);
    DeliveryOptions o = Options(receiver);
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

RunIdentity RunOf(const std::string& prefix = "TX") {
  return {std::string(64, 'a'), {{"--control-id", prefix}, {"--dates", ""}}};
}

JournalEntry Entry(std::size_t record, bool delivered, const std::string& id) {
  return {record, delivered, id, delivered ? "" : "no", RecordDigest("r" + std::to_string(record)),
          {}};
}

TEST(Journal, LinesSurviveARestart) {
  const auto dir = TempDir("journal");
  const std::string path = (dir / "j.jsonl").string();
  {
    Journal j(path, RunOf());
    EXPECT_EQ(j.settled(), 0u);
    j.Append(Entry(1, true, "TX1"));
    j.Append(Entry(2, false, ""));
    j.Append(Entry(3, false, "TX3"));
    EXPECT_THROW(j.Append(Entry(5, true, "TX5")), JournalWriteError);
  }
  const std::string text = ReadAll(path);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1), JournalHeader(RunOf()));
  Journal again(path, RunOf());
  ASSERT_EQ(again.settled(), 3u);
  EXPECT_EQ(again.Settled(3)->control_id, "TX3");
  EXPECT_EQ(again.Settled(2)->digest, RecordDigest("r2"));
  EXPECT_EQ(again.Settled(4), nullptr);
  EXPECT_EQ(again.delivered(), 1u);
  EXPECT_EQ(again.rejected(), 2u);
  // A second run on the same journal at the same time is refused.
  EXPECT_THROW(Journal(path, RunOf()), JournalRefused);
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && (s[i + 1] == 'n' || s[i + 1] == '0')) {
      out += s[++i] == 'n' ? '\n' : '\0';
    } else if (s.compare(i, 3, "{H}") == 0) {
      const std::string h = JournalHeader(RunOf());
      out += h.substr(0, h.size() - 1);
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

TEST(Journal, OpensWhatItCanTrustAndRefusesTheRest) {
  std::ifstream table(std::string(TARN_SOURCE_DIR) + "/tests/data/hl7_journal.tsv");
  int cases = 0;
  for (std::string row; std::getline(table, row);) {
    if (row.empty() || row[0] == '#') continue;
    const auto cells = tarn::testing::Split(row, '\t');
    ASSERT_EQ(cells.size(), 5u) << row;
    SCOPED_TRACE(cells[0]);
    ++cases;
    const auto dir = TempDir("table");
    const std::string path = (dir / "j.jsonl").string();
    std::ofstream(path, std::ios::binary) << Unescape(cells[1]);
    const std::string& expect = cells[2];
    if (expect.rfind("refused:", 0) == 0) {
      try {
        Journal j(path, RunOf());
        ADD_FAILURE() << "opened";
      } catch (const JournalRefused& e) {
        EXPECT_EQ(std::string(e.what()).rfind(path + expect.substr(8), 0), 0u) << e.what();
      }
      EXPECT_EQ(ReadAll(path), Unescape(cells[1]));  // left as it was
      continue;
    }
    const std::size_t settled = std::stoul(cells[3]);
    {
      Journal j(path, RunOf());
      EXPECT_EQ(j.settled(), settled);
      EXPECT_EQ(j.repaired(), cells[4] == "1");
      j.Append(Entry(settled + 1, true, "TX"));
    }
    EXPECT_EQ(Journal(path, RunOf()).settled(), settled + 1);
  }
  EXPECT_GE(cases, 15);
}

// What a restart of a database feed reads after, and the --on-settled
// statements still owed.
TEST(Journal, KeepsTheHighestKeyAndTheOutcomesNotMarked) {
  const auto dir = TempDir("keys");
  const std::string path = (dir / "j.jsonl").string();
  {
    Journal j(path, RunOf());
    for (std::size_t n = 1; n <= 3; ++n) {
      JournalEntry e = Entry(n, true, "TX" + std::to_string(n));
      e.key = n == 3 ? "\"c'3\"" : std::to_string(n * 10);
      j.Append(e);
    }
    j.Mark(1);
    j.Mark(3);
  }
  Journal j(path, RunOf());
  EXPECT_EQ(j.highest_key(), "\"c'3\"");
  EXPECT_EQ(j.Unmarked(), std::vector<std::size_t>{2});
  EXPECT_EQ(j.Settled(2)->key, "20");
}

}  // namespace
