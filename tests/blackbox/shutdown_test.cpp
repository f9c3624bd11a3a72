// The real binary through a whole run: start, termination signal, the shutdown lines in the log,
// exit code 0. Each run costs the shutdown's one-second pause, so each test checks several things.
#include <signal.h>

#include <algorithm>
#include <thread>

#include "blackbox/server_fixture.h"

namespace pltest {
namespace {

const std::vector<std::string> kShutdownLines = {
    "Server_DeInit -- enter",
    "Server_DeInit -- pingpong term sent",
    "Server_DeInit -- UDPThread term + event sent",
    "Server_DeInit -- Slept 2 secs",
    "Server_DeInit -- Stopped TCP",
    "Server_DeInit -- Stopped UDP",
    "Parlowind server shutdown",
};

size_t IndexOf(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
}

// The start lines, then the shutdown lines in their order with "Parlowind server shutdown" last,
// each worker's end line after its stop request and within the pause.
void ExpectWholeRun(const std::vector<std::string>& lines) {
  std::vector<std::string> texts;
  for (const std::string& line : lines) texts.push_back(pltest::LogText(line));
  const std::string all = ::testing::PrintToString(texts);

  const size_t enter = IndexOf(texts, "Server_DeInit -- enter");
  for (const char* start_line : {kStarted, "UDPSender.Execute", "PingThread.Execute"}) {
    EXPECT_LT(IndexOf(texts, start_line), enter) << start_line << " in " << all;
  }
  std::vector<std::string> shutdown;
  std::copy_if(texts.begin(), texts.end(), std::back_inserter(shutdown),
               [](const std::string& text) {
                 return text.starts_with("Server_DeInit") || text == "Parlowind server shutdown";
               });
  EXPECT_EQ(shutdown, kShutdownLines) << all;
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "Parlowind server shutdown") << all;
  EXPECT_EQ(IndexOf(texts, "Server_DeInit -- Web term sent"), texts.size())
      << "no poster was configured";

  const size_t slept = IndexOf(texts, "Server_DeInit -- Slept 2 secs");
  const size_t ping_end = IndexOf(texts, "PingThread.Terminated");
  const size_t relay_end = IndexOf(texts, "UDPSender.Terminated");
  // Each worker's end line comes after the line of its stop request.
  EXPECT_GT(ping_end, IndexOf(texts, "Server_DeInit -- pingpong term sent")) << all;
  EXPECT_LT(ping_end, slept) << all;
  EXPECT_GT(relay_end, IndexOf(texts, "Server_DeInit -- UDPThread term + event sent")) << all;
  EXPECT_LT(relay_end, slept) << all;

  // The pause is one second; the stamps have whole seconds.
  ASSERT_GT(slept, 0u);
  ASSERT_LT(slept, lines.size());
  const long long pause =
      pltest::LogLineSeconds(lines[slept]) - pltest::LogLineSeconds(lines[slept - 1]);
  EXPECT_GE(pause, 1) << all;
  EXPECT_LE(pause, 2) << all;
}

class ShutdownTest : public ServerFixture {};

TEST_F(ShutdownTest, SigtermAfterAStartWithChosenFilesLeavesTheWholeRunInTheLog) {
  // A current file with keys missing: read, never written, not even at shutdown.
  std::string ini_contents;
  long long ini_mtime = 0;
  auto write_ini = [&](int port) {
    ini_contents = "; hand-made\n" + CurrentIni(port, "[Channels]\n0=Lobby\n");
    WriteFile(IniPath("Custom.ini"), ini_contents);
    ini_mtime = pltest::ModificationTimeNs(IniPath("Custom.ini"));
  };
  // The prefixes in any letter case: the INI under the program directory, the log under the
  // current directory.
  auto server =
      StartOnFreePorts(write_ini, {"-ini=Custom.ini", "-Log=run.log", "-PID=1234"}, "run.log");
  ASSERT_NE(server, nullptr);
  EXPECT_TRUE(pltest::TcpConnects(port_));
  // The workers write their start lines on their own threads, possibly after the start line of
  // the main thread; on a busy machine a signal sent at once could overtake them.
  EXPECT_TRUE(server->WaitForLogText(LogPath("run.log"), "UDPSender.Execute", 5s));
  EXPECT_TRUE(server->WaitForLogText(LogPath("run.log"), "PingThread.Execute", 5s));

  server->Signal(SIGTERM);
  std::optional<int> code = server->WaitForExit(10s);
  ASSERT_TRUE(code.has_value()) << "no exit after SIGTERM";
  EXPECT_EQ(*code, 0) << server->Output();

  ExpectWholeRun(pltest::ReadLogLines(LogPath("run.log")));
  EXPECT_TRUE(pltest::LogWellFormed(ReadFile(LogPath("run.log"))));
  EXPECT_EQ(ReadFile(IniPath("Custom.ini")), ini_contents);
  EXPECT_EQ(pltest::ModificationTimeNs(IniPath("Custom.ini")), ini_mtime);
  EXPECT_EQ(pltest::DirectoryEntries(program_dir_.path()),
            (std::vector<std::string>{"Custom.ini", "plserver"}));
  EXPECT_EQ(pltest::DirectoryEntries(work_dir_.path()), std::vector<std::string>{"run.log"});
}

struct SignalCase {
  int signal_number;
  const char* version_line;
  friend void PrintTo(const SignalCase& value, std::ostream* out) {
    *out << "signal " << value.signal_number;
  }
};

class SignalTest : public ServerFixture, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalTest, OutdatedFileIsRewrittenAndTheSignalShutsDown) {
  const std::string channels = "[Channels]\r\n0=Lobby\r\n1=Music\r\n";
  const std::string custom = "[Custom]\r\nanswer=42\r\n";
  auto write_ini = [&](int port) {
    WriteFile(IniPath(), std::string("[Version]\r\n") + GetParam().version_line + channels +
                             "[Networking]\r\nTCPPort=" + std::to_string(port) + "\r\n" + custom);
  };
  auto server = StartOnFreePorts(write_ini);
  ASSERT_NE(server, nullptr);
  const std::string rewritten = ReadFile(IniPath());
  EXPECT_EQ(rewritten.find("[Version]\r\nServerVersion=v1.2.0\r\n"),
            channels.size() + custom.size())
      << rewritten;
  EXPECT_EQ(rewritten.substr(0, channels.size() + custom.size()), channels + custom) << rewritten;
  EXPECT_NE(rewritten.find("TCPPort=" + std::to_string(port_) + "\r\n"), std::string::npos)
      << rewritten;

  server->Signal(GetParam().signal_number);
  std::optional<int> code = server->WaitForExit(10s);
  ASSERT_TRUE(code.has_value()) << "no exit after the signal";
  EXPECT_EQ(*code, 0) << server->Output();
  const std::vector<std::string> texts = LogTexts();
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), "Parlowind server shutdown");
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalTest,
                         ::testing::Values(SignalCase{SIGINT, "ServerVersion=V1.2.0\r\n"},
                                           SignalCase{SIGTERM, "ServerVersion=v1.2.0 Win32\r\n"}),
                         [](const auto& info) {
                           return info.param.signal_number == SIGINT ? "Sigint" : "Sigterm";
                         });

}  // namespace
}  // namespace pltest
