// Black-box tests of the console shell: the real server binary, on a pseudo-terminal of the
// test's own or with a pipe as standard input, driven by keys and signals and checked over a
// plain control connection and through its log.
#include <signal.h>
#include <termios.h>

#include <memory>

#include <gtest/gtest.h>

#include "support/pty.h"
#include "support/shell_server.h"

namespace {

using pltest::ChildProcess;
using pltest::ProgramDirectory;

constexpr int kWaitMs = 5000;
constexpr char kKeysHint[] = "Keys: a = about, e = exit";
constexpr char kQuestion[] = "You really want to quit Corvane Server";

struct RunningServer {
  std::unique_ptr<ProgramDirectory> directory;
  std::unique_ptr<ChildProcess> process;
  std::string Log() const { return pltest::ReadFile(directory->log); }
};

// Starts the server as `program_name` and waits for its start line; a port taken meanwhile by
// someone else makes it try again on another one.
RunningServer StartServer(const std::string& program_name, ChildProcess::Input input) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    RunningServer server;
    server.directory = std::make_unique<ProgramDirectory>(program_name, pltest::PickFreePortPair());
    server.process = std::make_unique<ChildProcess>(server.directory->installation.program(),
                                                    server.directory->Arguments(),
                                                    server.directory->installation.path(), input);
    for (int waited = 0; waited < kWaitMs; waited += 20) {
      if (server.Log().find("Parlowind server started") != std::string::npos) return server;
      if (server.process->WaitForExit(20)) break;
    }
  }
  ADD_FAILURE() << "the server did not start";
  return {};
}

bool TerminalRestored(const ChildProcess& process) {
  std::optional<unsigned> modes = process.TerminalLocalModes();
  return modes && (*modes & ICANON) && (*modes & ECHO);
}

std::string LastLogLine(const std::string& log) {
  size_t end = log.find_last_not_of("\r\n");
  if (end == std::string::npos) return {};
  size_t start = log.find_last_of('\n', end);
  return log.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start + 1));
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(ConsoleShell, AboutBoxAndQuitPromptOnATerminal) {
  RunningServer server = StartServer("plserver", ChildProcess::Input::kPseudoTerminal);
  ASSERT_TRUE(server.process);
  ChildProcess& shell = *server.process;
  ASSERT_TRUE(shell.WaitForOutput(kKeysHint, kWaitMs));

  ASSERT_TRUE(shell.Send("a"));
  std::optional<size_t> box = shell.WaitForOutput("press any key to close", kWaitMs);
  ASSERT_TRUE(box) << shell.output();
  const std::string about = shell.output();
  EXPECT_NE(about.find("About Parlowind"), std::string::npos);
  EXPECT_NE(about.find("Parlowind 1.2.0.19 \r\n"), std::string::npos) << about;
  EXPECT_NE(about.find("Our HP: http://"), std::string::npos);

  // Any key closes the box; e then n keeps the server serving.
  ASSERT_TRUE(shell.Send("xe"));
  ASSERT_TRUE(shell.WaitForOutput(kQuestion, kWaitMs, *box));
  ASSERT_TRUE(shell.Send("n"));
  std::optional<size_t> declined = shell.WaitForOutput("No\r\n", kWaitMs, *box);
  ASSERT_TRUE(declined);
  // A terminal under a name other than the desktop program's still counts as a service.
  EXPECT_EQ(pltest::ServerVersionOverTheWire(server.directory->port), "v1.2.0 Win32 Service");

  ASSERT_TRUE(shell.Send("e"));
  ASSERT_TRUE(shell.WaitForOutput(kQuestion, kWaitMs, *declined));
  ASSERT_TRUE(shell.Send("y"));
  EXPECT_EQ(shell.WaitForExit(10000), 0);
  const std::string log = server.Log();
  EXPECT_EQ(Count(log, "Server_DeInit -- enter"), 1u);
  EXPECT_TRUE(LastLogLine(log).ends_with("Parlowind server shutdown")) << log;
  EXPECT_TRUE(TerminalRestored(shell));
}

TEST(ConsoleShell, DesktopNameOnATerminalAndASignalWhileTheAboutBoxIsOpen) {
  RunningServer server = StartServer("RERivize", ChildProcess::Input::kPseudoTerminal);
  ASSERT_TRUE(server.process);
  ChildProcess& shell = *server.process;
  ASSERT_TRUE(shell.WaitForOutput(kKeysHint, kWaitMs));
  EXPECT_EQ(pltest::ServerVersionOverTheWire(server.directory->port), "v1.2.0 Win32");

  ASSERT_TRUE(shell.Send("a"));
  ASSERT_TRUE(shell.WaitForOutput("press any key to close", kWaitMs));
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.WaitForExit(10000), 0);
  EXPECT_TRUE(LastLogLine(server.Log()).ends_with("Parlowind server shutdown"));
  EXPECT_TRUE(TerminalRestored(shell));
}

TEST(ConsoleShell, WithoutATerminalNothingIsReadAndASignalStopsTheServer) {
  RunningServer server = StartServer("rerivize", ChildProcess::Input::kPipe);
  ASSERT_TRUE(server.process);
  ChildProcess& shell = *server.process;
  ASSERT_TRUE(shell.Send("ey\n"));
  // SIGHUP re-reads the configuration file; it stops nothing.
  shell.Signal(SIGHUP);
  ASSERT_TRUE(shell.WaitForOutput("info reload result=ok by=signal ", kWaitMs)) << shell.output();
  // The desktop name without a terminal is a service, and the keys in the pipe change nothing.
  EXPECT_EQ(pltest::ServerVersionOverTheWire(server.directory->port), "v1.2.0 Win32 Service");
  shell.Signal(SIGTERM);
  EXPECT_EQ(shell.WaitForExit(10000), 0);
  EXPECT_EQ(shell.UnreadInput(), "ey\n");
  EXPECT_TRUE(LastLogLine(server.Log()).ends_with("Parlowind server shutdown"));
  EXPECT_EQ(shell.output().find(kKeysHint), std::string::npos);
}

// Started with "&" from a job-control shell, the server is in a background group of the
// terminal: it must neither read keys nor change the terminal's modes, either of which would
// have the terminal stop it.
TEST(ConsoleShell, InTheBackgroundOfATerminalTheServerKeepsRunning) {
  ProgramDirectory directory("plserver", pltest::PickFreePortPair());
  const std::string script =
      "set -m; ./plserver -LOG=" + directory.log + " & echo \"pid=$!.\"; wait $!; echo \"rc=$?.\"";
  ChildProcess shell("/bin/sh", {"-c", script}, directory.installation.path(),
                     ChildProcess::Input::kPseudoTerminal);
  std::optional<size_t> pid_start = shell.WaitForOutput("pid=", kWaitMs);
  ASSERT_TRUE(pid_start);
  ASSERT_TRUE(shell.WaitForOutput(".", kWaitMs, *pid_start));
  const pid_t server_pid = std::stoi(shell.output().substr(*pid_start));
  for (int waited = 0; waited < kWaitMs; waited += 20) {
    if (pltest::ReadFile(directory.log).find("server started") != std::string::npos) break;
    shell.WaitForOutput("rc=", 20);
  }
  const std::optional<unsigned> modes_before = shell.TerminalLocalModes();

  // A key typed now stays for whoever holds the terminal's foreground.
  ASSERT_TRUE(shell.Send("e"));
  EXPECT_FALSE(shell.WaitForOutput(kQuestion, 300));
  EXPECT_EQ(pltest::ServerVersionOverTheWire(directory.port), "v1.2.0 Win32 Service");
  EXPECT_EQ(shell.output().find(kKeysHint), std::string::npos);
  EXPECT_EQ(shell.TerminalLocalModes(), modes_before);
  kill(server_pid, SIGTERM);
  const bool ended = shell.WaitForOutput("rc=0.", 10000).has_value();
  EXPECT_TRUE(ended) << shell.output();
  if (!ended) kill(server_pid, SIGKILL);
  EXPECT_EQ(shell.WaitForExit(kWaitMs), 0);
}

}  // namespace
