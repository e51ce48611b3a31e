// tarn-hl7 as an outbound interface, end to end: --send delivers to a
// receiver on 127.0.0.1 that accepts, rejects, asks for resends, hangs up and
// answers late (the journal and the receiver's log must agree record by
// record, and a run killed midway and started again must complete the set
// exactly); the host's extra fields; batch files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hl7/outbound.h"
#include "hl7/template.h"
#include "support/mllp_receiver.h"
#include "support/temp_files.h"

extern char** environ;

namespace {

using nlohmann::json;
using tarn::testing::MllpReceiver;
using tarn::testing::ReadAll;
using tarn::testing::Reply;
using tarn::testing::TempDir;

std::vector<json> JournalLines(const std::filesystem::path& path) {
  std::vector<json> out;
  std::istringstream in(ReadAll(path));
  for (std::string line; std::getline(in, line);) {
    json j = json::parse(line);
    if (!j.contains("journal")) out.push_back(std::move(j));  // the run's first line
  }
  return out;
}

std::string LastLine(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);  // npos + 1: from the start
}

struct ToolRun {
  int status = -1;  // exit status; -1 when killed
  std::string out, err;
};

// Runs tarn-hl7; `kill_when`, if given, is polled and the program is killed
// with SIGKILL the first time it answers true.
ToolRun RunTool(const std::filesystem::path& dir, const std::vector<std::string>& args,
                const std::function<bool()>& kill_when = nullptr) {
  const std::string out = (dir / "stdout").string(), err = (dir / "stderr").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all{TARN_HL7_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  ToolRun run;
  if (posix_spawn(&pid, TARN_HL7_PATH, &actions, nullptr, argv.data(), environ) != 0) return run;
  posix_spawn_file_actions_destroy(&actions);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if ((kill_when && kill_when()) || std::chrono::steady_clock::now() > give_up) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = ReadAll(out);
  run.err = ReadAll(err);
  return run;
}

const char* kTemplate =
    "MSH|^~\\&|TARN|FAC|RECV|FAC|{{Format Now, "
    "\"yyyymmddhhnnss\"}}||ADT^A01|{{ControlId}}|P|2.5.1\n"
    "PID|{{RecordNumber}}||{{Mrn}}||{{Name}}\n";

std::filesystem::path MakeInputs(const std::string& name, int records,
                                 std::set<int> unbuildable = {}, const char* tmpl = kTemplate) {
  const auto dir = TempDir(name);
  std::ofstream(dir / "adt.tmpl") << tmpl;
  std::ofstream r(dir / "records.jsonl");
  for (int i = 1; i <= records; ++i) {
    r << "{\"Mrn\": \"M" << i << "\"";
    if (!unbuildable.count(i)) r << ", \"Name\": \"N" << i << "\"";
    r << "}\n";
  }
  return dir;
}

std::vector<std::string> Args(const std::filesystem::path& dir, const MllpReceiver& receiver,
                              std::vector<std::string> more = {}) {
  std::vector<std::string> a{"--template",    (dir / "adt.tmpl").string(),
                             "--records",     (dir / "records.jsonl").string(),
                             "--send",        receiver.address(),
                             "--journal",     (dir / "journal.jsonl").string(),
                             "--control-id",  "TX",
                             "--ack-timeout", "1.5",
                             "--retry-delay", "0.05"};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

TEST(Hl7Send, EveryRecordEndsDeliveredOrRejectedOnce) {
  Reply close;
  close.kind = Reply::Close;
  Reply late;
  late.delay_ms = 2500;
  Reply wrong;
  wrong.msa2 = "TX999";
  Reply not_ack;
  not_ack.kind = Reply::Raw;
  not_ack.raw = "MSH|^~\\&|R|F|T|F|20240101||ADT^A01|Z1|P|2.5.1\rPID|1\r";
  Reply reject;
  reject.code = "AE";
  reject.text = "Unknown patient \\T\\ ward";
  reject.err = "ERR|^^^204&Unknown key";
  Reply resend;
  resend.code = "AR";
  // The first answer to each control ID, by ID; later answers accept.
  const std::map<std::string, Reply> first = {{"TX3", reject}, {"TX5", resend}, {"TX7", close},
                                              {"TX9", late},   {"TX11", wrong}, {"TX12", not_ack}};
  MllpReceiver receiver([&](const std::string& id, int seen) {
    const auto it = first.find(id);
    return seen == 1 && it != first.end() ? it->second : Reply{};
  });
  const auto dir = MakeInputs("send", 13, {4});
  const ToolRun run = RunTool(dir, Args(dir, receiver));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(LastLine(run.err), "11 messages written, 2 rejected") << run.err;
  EXPECT_NE(run.err.find("record 3 (line 3) rejected: the receiver answered AE: Unknown patient"),
            std::string::npos)
      << run.err;

  const auto lines = JournalLines(dir / "journal.jsonl");
  ASSERT_EQ(lines.size(), 13u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const json& l = lines[i];
    const int record = l["record"].get<int>();
    SCOPED_TRACE(l.dump());
    EXPECT_EQ(record, static_cast<int>(i) + 1);  // in input order
    const bool rejected = record == 3 || record == 4;
    EXPECT_EQ(l["outcome"], rejected ? "rejected" : "delivered");
    EXPECT_EQ(l["control_id"], record == 4 ? "" : "TX" + std::to_string(record));
  }
  EXPECT_EQ(lines[2]["reason"], "Unknown patient \\T\\ ward ERR|^^^204&Unknown key");
  EXPECT_NE(lines[3]["reason"].get<std::string>().find("adt.tmpl:2:"), std::string::npos);

  receiver.Stop();
  std::map<std::string, int> expected;
  for (int i : {1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13}) expected["TX" + std::to_string(i)] = 1;
  EXPECT_EQ(receiver.accepted(), expected);
  std::vector<std::string> order;  // first arrivals
  int tx3 = 0;
  for (const auto& a : receiver.log()) {
    if (a.seen == 1) order.push_back(a.control_id);
    tx3 += a.control_id == "TX3";
  }
  EXPECT_EQ(tx3, 1);  // a reject is final
  std::vector<std::string> sorted = order;
  std::sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(a.substr(2)) < std::stoi(b.substr(2));
  });
  EXPECT_EQ(order, sorted);

  // The same command again finds everything settled and sends nothing.
  MllpReceiver idle([](const std::string&, int) { return Reply{}; });
  auto again_args = Args(dir, idle);
  const ToolRun again = RunTool(dir, again_args);
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find("13 records settled by an earlier run (11 delivered, 2 rejected)"),
            std::string::npos)
      << again.err;
  EXPECT_EQ(LastLine(again.err), "0 messages written, 0 rejected");
  idle.Stop();
  EXPECT_TRUE(idle.log().empty());
  EXPECT_EQ(JournalLines(dir / "journal.jsonl").size(), 13u);
}

TEST(Hl7Send, AKilledRunResumesWithoutLossOrRepeat) {
  constexpr int kRecords = 200;
  MllpReceiver receiver([](const std::string&, int) { return Reply{}; });
  const auto dir = MakeInputs("resume", kRecords);
  const auto args = Args(dir, receiver);
  const ToolRun killed = RunTool(dir, args, [&] { return receiver.log().size() >= 50; });
  EXPECT_EQ(killed.status, -1);
  const std::size_t before = JournalLines(dir / "journal.jsonl").size();
  EXPECT_GE(before, 49u);
  EXPECT_LT(before, static_cast<std::size_t>(kRecords));
  // As if the kill had come in the middle of a line's write.
  std::ofstream(dir / "journal.jsonl", std::ios::app)
      << "{\"record\": " << before + 1 << ", \"outc";

  // Building on two threads changes nothing about what is sent, or in what order.
  auto resume_args = args;
  resume_args.insert(resume_args.end(), {"--jobs", "2"});
  const ToolRun resumed = RunTool(dir, resume_args);
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_NE(resumed.err.find("a torn last line was cut off"), std::string::npos) << resumed.err;
  EXPECT_EQ(LastLine(resumed.err),
            std::to_string(kRecords - before) + " messages written, 0 rejected");
  const auto lines = JournalLines(dir / "journal.jsonl");
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i) {
    EXPECT_EQ(lines[i]["record"], i + 1);
    EXPECT_EQ(lines[i]["outcome"], "delivered");
    EXPECT_EQ(lines[i]["control_id"], "TX" + std::to_string(i + 1));
  }
  receiver.Stop();
  // In input order, across the kill: each arrival is the next record or the
  // one in flight again.
  int last = 0;
  for (const auto& a : receiver.log()) {
    const int n = std::stoi(a.control_id.substr(2));
    EXPECT_TRUE(n == last + 1 || n == last) << a.control_id << " after TX" << last;
    last = n;
  }
  // Only the message in flight at the kill may have reached the receiver twice.
  int twice = 0;
  const auto accepted = receiver.accepted();
  EXPECT_EQ(accepted.size(), static_cast<std::size_t>(kRecords));
  for (const auto& [id, n] : accepted) {
    EXPECT_LE(n, 2) << id;
    twice += n == 2;
  }
  EXPECT_LE(twice, 1);
}

TEST(Hl7Send, UnreachableReceiverStopsWithNothingJournaled) {
  unsigned short port;
  {
    MllpReceiver gone([](const std::string&, int) { return Reply{}; });
    port = gone.port();
  }
  const auto dir = MakeInputs("unreachable", 3);
  const ToolRun run = RunTool(
      dir, {"--template", (dir / "adt.tmpl").string(), "--records",
            (dir / "records.jsonl").string(), "--send", "127.0.0.1:" + std::to_string(port),
            "--journal", (dir / "journal.jsonl").string(), "--retries", "1", "--retry-delay", "0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("tarn-hl7: record 1: not acknowledged after 2 attempts: 127.0.0.1:"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(JournalLines(dir / "journal.jsonl").empty());
}

TEST(Hl7Send, AJournalServesOnlyTheRunItWasWrittenFor) {
  MllpReceiver receiver([](const std::string&, int) { return Reply{}; });
  const auto dir = MakeInputs("belongs", 3);
  ASSERT_EQ(RunTool(dir, Args(dir, receiver)).status, 0);
  const auto journal = ReadAll(dir / "journal.jsonl");
  struct Case {
    std::string name;
    std::function<void()> change;
    std::vector<std::string> more;
    std::string says;  // empty: the run goes on
  };
  const std::vector<Case> cases = {
      {"the records written anew under the same name",
       [&] { std::ofstream(dir / "records.jsonl") << "{\"Mrn\": \"X1\", \"Name\": \"Y\"}\n"; },
       {},
       "record 1 is not the one this journal settled"},
      {"fewer records than the journal settled",
       [&] { std::ofstream(dir / "records.jsonl") << "{\"Mrn\": \"M1\", \"Name\": \"N1\"}\n"; },
       {},
       "the journal settled 3 records, and the records hold 1"},
      {"another template",
       [&] { std::ofstream(dir / "adt.tmpl", std::ios::app) << "ZZZ|1\n"; },
       {},
       "written for another run: the template's content differs"},
      {"another control ID prefix",
       nullptr,
       {"--control-id", "TY"},
       "written for another run: --control-id was 'TX' and is now 'TY'"},
      {"other dates", nullptr, {"--dates", "Name"}, "--dates was '' and is now 'Name'"},
      {"a damaged line",
       [&] { std::ofstream(dir / "journal.jsonl", std::ios::app) << "{}\n{}\n"; },
       {},
       "journal.jsonl:5: the line is damaged"},
      {"records that have only grown",
       [&] {
         std::ofstream(dir / "records.jsonl", std::ios::app)
             << "{\"Mrn\": \"M4\", \"Name\": \"N4\"}\n";
       },
       {},
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ofstream(dir / "journal.jsonl") << journal;
    {
      std::ofstream r(dir / "records.jsonl");
      for (int i = 1; i <= 3; ++i) r << "{\"Mrn\": \"M" << i << "\", \"Name\": \"N" << i << "\"}\n";
    }
    std::ofstream(dir / "adt.tmpl") << kTemplate;
    if (c.change) c.change();
    const std::size_t arrived = receiver.log().size();
    auto args = Args(dir, receiver);
    const auto given = std::find(args.begin(), args.end(), c.more.empty() ? "" : c.more[0]);
    if (given == args.end())
      args.insert(args.end(), c.more.begin(), c.more.end());
    else
      given[1] = c.more[1];
    const ToolRun run = RunTool(dir, args);
    if (c.says.empty()) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(receiver.log().size(), arrived + 1);
      EXPECT_EQ(receiver.log().back().control_id, "TX4");
      EXPECT_NE(run.err.find("3 records settled by an earlier run (3 delivered, 0 rejected)"),
                std::string::npos)
          << run.err;
      EXPECT_EQ(LastLine(run.err), "1 messages written, 0 rejected");
      continue;
    }
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(LastLine(run.err), "0 messages written, 0 rejected");
    EXPECT_EQ(receiver.log().size(), arrived);  // nothing sent
  }
  const ToolRun full = RunTool(dir, {"--template", (dir / "adt.tmpl").string(), "--records",
                                     (dir / "records.jsonl").string(), "--send", receiver.address(),
                                     "--journal", "/dev/full"});
  EXPECT_EQ(full.status, 2);
  EXPECT_EQ(full.err,
            "tarn-hl7: /dev/full: cannot be written: No space left on device\n"
            "0 messages written, 0 rejected\n");
}

// A journal that fills up in the middle of the run (here through a limit on
// file sizes) stops it at once, with the system's reason and the counts.
TEST(Hl7Send, AJournalThatCannotBeWrittenStopsTheRun) {
  MllpReceiver receiver([](const std::string&, int) { return Reply{}; });
  const auto dir = MakeInputs("full", 20);
  std::string command = "trap '' XFSZ; ulimit -f 1; exec";
  for (const auto& a : std::vector<std::string>{TARN_HL7_PATH}) command += " '" + a + "'";
  for (const auto& a : Args(dir, receiver)) command += " '" + a + "'";
  command += " 2>" + (dir / "stderr").string();
  const int status = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
  const std::string err = ReadAll(dir / "stderr");
  EXPECT_NE(err.find("journal.jsonl: cannot be written: File too large; stopped: record "),
            std::string::npos)
      << err;
  const std::string journal = ReadAll(dir / "journal.jsonl");
  const auto settled = static_cast<std::size_t>(std::count(journal.begin(), journal.end(), '\n')) -
                       1;  // less the header
  EXPECT_LT(settled, 20u);
  // The record whose line failed was delivered; the next run sends it again.
  EXPECT_EQ(LastLine(err), std::to_string(settled + 1) + " messages written, 0 rejected");
  receiver.Stop();
  EXPECT_EQ(receiver.log().size(), settled + 1);
}

TEST(Hl7Send, AResumedRecordKeepsItsControlId) {
  // Record 1 brings its own ControlId; the receiver hangs up on record 3
  // the first time, which stops the run with record 3 unsettled.
  MllpReceiver receiver([](const std::string& id, int seen) {
    Reply r;
    if (id == "TX3" && seen == 1) r.kind = Reply::Partial;
    return r;
  });
  const auto dir = MakeInputs("keeps", 4);
  std::ofstream(dir / "records.jsonl")
      << "{\"Mrn\": \"M1\", \"Name\": \"N1\", \"ControlId\": \"TX77\"}\n"
      << "{\"Mrn\": \"M2\", \"Name\": \"N2\"}\n"
      << "{\"Mrn\": \"M3\", \"Name\": \"N3\"}\n";
  const ToolRun first = RunTool(dir, Args(dir, receiver, {"--retries", "0"}));
  EXPECT_EQ(first.status, 2) << first.err;
  EXPECT_NE(first.err.find("record 3: not acknowledged after 1 attempt: the receiver closed the "
                           "connection in the middle of its answer; stopped"),
            std::string::npos)
      << first.err;
  EXPECT_EQ(LastLine(first.err), "2 messages written, 0 rejected");
  EXPECT_EQ(JournalLines(dir / "journal.jsonl").size(), 2u);  // record 3 is not settled
  const ToolRun resumed = RunTool(dir, Args(dir, receiver));
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(LastLine(resumed.err), "1 messages written, 0 rejected");
  receiver.Stop();
  std::vector<std::string> ids;
  for (const auto& a : receiver.log()) ids.push_back(a.control_id);
  EXPECT_EQ(ids, (std::vector<std::string>{"TX77", "TX2", "TX3", "TX3"}));
}

TEST(Hl7Send, AnAcknowledgementCountsForItsOwnMessageOnly) {
  // Every message has MSH-10 "SAME", and the receiver answers each twice.
  MllpReceiver receiver([](const std::string&, int) {
    Reply r;
    r.before = "MSH|^~\\&|R|F|T|F|20240101||ACK|R|P|2.5.1\rMSA|AA|SAME\r";
    return r;
  });
  const char* same = "MSH|^~\\&|TARN|FAC|RECV|FAC|20240101||ADT^A01|SAME|P|2.5.1\nPID|{{Mrn}}\n";
  const auto dir = MakeInputs("same", 3, {}, same);
  const ToolRun run = RunTool(dir, Args(dir, receiver));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(LastLine(run.err), "1 messages written, 2 rejected");
  EXPECT_NE(
      run.err.find("record 2 (line 2) rejected: control ID (MSH-10) 'SAME' is also record "
                   "1's: an acknowledgement for one could not be told from one for the other"),
      std::string::npos)
      << run.err;
  const auto lines = JournalLines(dir / "journal.jsonl");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0]["outcome"], "delivered");
  EXPECT_EQ(lines[2]["outcome"], "rejected");
  receiver.Stop();
  EXPECT_EQ(receiver.log().size(), 1u);
}

}  // namespace
