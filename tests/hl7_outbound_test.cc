// tarn-hl7 --send killed midway and started again completes the set exactly:
// no record lost, none delivered twice but the one in flight at the kill.
// (The other delivery scenarios are rows of tests/data/tools.tsv.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/mllp_receiver.h"
#include "support/temp_files.h"

extern char** environ;

namespace {

using nlohmann::json;
using tarn::testing::ReadAll;

std::vector<json> JournalLines(const std::filesystem::path& path) {
  std::vector<json> out;
  std::istringstream in(ReadAll(path));
  for (std::string line; std::getline(in, line);) {
    json j = json::parse(line);
    if (!j.contains("journal")) out.push_back(std::move(j));  // the run's first line
  }
  return out;
}

// Runs tarn-hl7 and gives its standard error, or "(killed)": `kill_when`, if
// given, is polled and the program killed with SIGKILL once it answers true.
std::string RunHl7(const std::filesystem::path& dir, const std::vector<std::string>& args,
                   const std::function<bool()>& kill_when = nullptr) {
  const std::string err = (dir / "stderr").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> all{TARN_HL7_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  const bool spawned =
      posix_spawn(&pid, TARN_HL7_PATH, &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) return "(not started)";
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int status = 0;; std::this_thread::sleep_for(std::chrono::milliseconds(2))) {
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ReadAll(err)
                                                           : "(failed) " + ReadAll(err);
    if ((kill_when && kill_when()) || std::chrono::steady_clock::now() > give_up) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return "(killed)";
    }
  }
}

TEST(Hl7Send, AKilledRunResumesWithoutLossOrRepeat) {
  constexpr int kRecords = 200;
  tarn::testing::MllpReceiver receiver;
  const auto dir = tarn::testing::TempDir("resume");
  std::ofstream(dir / "adt.tmpl") << "MSH|^~\\&|TARN|FAC|RECV|FAC|20240101||ADT^A01|{{ControlId}}|"
                                     "P|2.5.1\nPID|{{RecordNumber}}||{{Mrn}}\n";
  {
    std::ofstream records(dir / "records.jsonl");
    for (int i = 1; i <= kRecords; ++i) records << "{\"Mrn\": \"M" << i << "\"}\n";
  }
  const std::vector<std::string> args{"--template",    (dir / "adt.tmpl").string(),
                                      "--records",     (dir / "records.jsonl").string(),
                                      "--send",        receiver.address(),
                                      "--journal",     (dir / "journal.jsonl").string(),
                                      "--control-id",  "TX",
                                      "--ack-timeout", "1.5",
                                      "--retry-delay", "0.05"};
  EXPECT_EQ(RunHl7(dir, args, [&] { return receiver.log().size() >= 50; }), "(killed)");
  const std::size_t before = JournalLines(dir / "journal.jsonl").size();
  EXPECT_GE(before, 49u);
  EXPECT_LT(before, static_cast<std::size_t>(kRecords));
  // As if the kill had come in the middle of a line's write.
  std::ofstream(dir / "journal.jsonl", std::ios::app)
      << "{\"record\": " << before + 1 << ", \"outc";

  // Building on two threads changes nothing about what is sent, or in what order.
  auto resume_args = args;
  resume_args.insert(resume_args.end(), {"--jobs", "2"});
  const std::string resumed = RunHl7(dir, resume_args);
  EXPECT_EQ(resumed.rfind("(failed)", 0), std::string::npos) << resumed;
  EXPECT_NE(resumed.find("a torn last line was cut off"), std::string::npos) << resumed;
  EXPECT_NE(
      resumed.find("\n" + std::to_string(kRecords - before) + " messages written, 0 rejected\n"),
      std::string::npos)
      << resumed;
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

}  // namespace
