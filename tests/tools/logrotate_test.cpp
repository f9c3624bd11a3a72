// The shipped logrotate rules, run with Debian's logrotate against a running server whose event
// lines also go to a file while players come and go: after each rotation the server reopens the
// file, and across every rotated file no event line is lost, none is there twice, no NUL byte
// stands in for one, and the files keep their modes.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "blackbox/server_fixture.h"
#include "support/test_server.h"
#include "support/tool_runner.h"

namespace pltest {
namespace {

std::string Logrotate() {
  for (const char* path : {"/usr/sbin/logrotate", "/sbin/logrotate"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return {};
}

// The shipped rules with the test's files in place of the service's, the owner the files have
// already, and a signal to this server in place of systemctl.
std::string TestRules(const std::string& directory, pid_t server) {
  std::string rules = ReadFile(std::string(PL_SOURCE_DIR) + "/packaging/logrotate/plserver");
  rules = std::regex_replace(rules, std::regex("\n/var/lib/plserver/[^{]*\\{"),
                             "\n" + directory + "/plserver.log " + directory + "/events.log {");
  rules = std::regex_replace(rules, std::regex("create 0640 plserver plserver"), "create 0640");
  rules =
      std::regex_replace(rules, std::regex("postrotate\n[^]*endscript"),
                         "postrotate\n\t\tkill -HUP " + std::to_string(server) + "\n\tendscript");
  return rules;
}

unsigned ModeOf(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Players come and go, one after the other, each under a name of its own and from an address of
// its own (lines repeated from one address are held back), until stopped: the event lines are
// their joins and leaves.
class Visitors {
 public:
  explicit Visitors(int port) : thread_([this, port] { Run(port); }) {}
  ~Visitors() { Stop(); }
  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  size_t count() const { return count_; }
  // After Stop.
  const std::vector<std::string>& joined() const { return joined_; }

 private:
  void Run(int port) {
    for (int n = 0; running_; ++n) {
      plclient::ClientOptions options;
      options.local_ip = 0x7F000101 + static_cast<uint32_t>(n % 250);  // 127.0.1.1 and on
      auto player =
          plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port), options);
      const std::string name = "visitor" + std::to_string(n);
      if (!player || !player->Login(name).accepted) continue;
      joined_.push_back(name);
      ++count_;
      player->SendLeave();
      player->WaitForClose(2000);
    }
  }
  std::atomic<bool> running_{true};
  std::atomic<size_t> count_{0};
  std::vector<std::string> joined_;
  std::thread thread_;
};

class LogrotateTest : public ServerFixture {};

TEST_F(LogrotateTest, TheShippedRulesLoseNoEventLineAndWriteNoneTwice) {
  const std::string logrotate = Logrotate();
  if (logrotate.empty()) GTEST_SKIP() << "logrotate is not installed";
  // logrotate rotates only in a directory that others cannot write to.
  const std::string logs = work_dir_.File("logs");
  ASSERT_EQ(mkdir(logs.c_str(), 0755), 0);
  auto file = [&](const std::string& name) { return logs + "/" + name; };
  auto server = StartOnFreePorts(
      [&](int port) {
        WriteFile(IniPath(), CurrentIni(port, "[Logging]\r\nFile=logs/events.log\r\n"));
      },
      {"-LOG=logs/plserver.log"}, "logs/plserver.log");
  ASSERT_TRUE(server);
  const std::string rules = file("rules");
  WriteFile(rules, TestRules(logs, server->pid()));
  Visitors visitors(port_);

  constexpr int kRotations = 3;
  for (int rotation = 1; rotation <= kRotations; ++rotation) {
    ASSERT_TRUE(WaitUntil([&] { return visitors.count() >= 20u * rotation; }, 10000));
    ToolResult rotated = RunTool(logrotate, {"-f", "-s", file("state"), rules}, ToolOptions());
    ASSERT_EQ(rotated.exit_code, 0) << rotated.out << rotated.err;
    // The reload's own line is the first the new file receives.
    ASSERT_TRUE(WaitUntil(
        [&] {
          return ReadFile(file("events.log")).find("info reload result=ok") != std::string::npos;
        },
        10000))
        << ReadFile(file("events.log"));
  }
  visitors.Stop();
  server->Signal(SIGTERM);
  ASSERT_TRUE(server->WaitForExit(15s).has_value());

  // The newest rotation is kept as it is, the older ones compressed.
  std::string events = ReadFile(file("events.log")) + ReadFile(file("events.log.1"));
  for (int older = 2; older <= kRotations; ++older) {
    ToolResult unpacked =
        RunTool("/bin/gzip", {"-dc", file("events.log." + std::to_string(older) + ".gz")});
    ASSERT_EQ(unpacked.exit_code, 0) << unpacked.err;
    events += unpacked.out;
  }
  EXPECT_EQ(events.find('\0'), std::string::npos);
  std::multiset<std::string> joins;
  const std::regex join("^\\S+ info join player=\\d+ name=\"(visitor\\d+)\" ");
  std::istringstream lines(events);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_search(line, match, join)) joins.insert(match[1]);
  }
  EXPECT_EQ(joins, std::multiset<std::string>(visitors.joined().begin(), visitors.joined().end()));
  EXPECT_EQ(ModeOf(file("events.log")), 0640u);
  EXPECT_EQ(ModeOf(file("events.log.1")), 0640u);
  EXPECT_EQ(ModeOf(file("plserver.log")), 0640u);
  EXPECT_TRUE(LogWellFormed(ReadFile(file("plserver.log"))));
}

}  // namespace
}  // namespace pltest
