// Test support: child processes started by the tests, either on a pseudo-terminal the test owns
// (so the child sees a real terminal on standard input and output) or without one, with a pipe
// as standard input.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace pltest {

class ChildProcess {
 public:
  enum class Input { kPseudoTerminal, kPipe };

  // Starts `program` (argv[0] is `program` itself) in `directory`. With kPseudoTerminal the
  // child runs in a session of its own whose controlling terminal is a new pseudo-terminal, on
  // standard input, output and error. With kPipe standard input is a pipe the test writes into
  // and output goes to a pipe the test reads.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& directory, Input input);
  // Kills the child if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // Writes to the child's standard input (as typed keys on a terminal).
  bool Send(const std::string& bytes);
  // Reads the child's output until everything read so far contains `text` after `from`, or
  // timeout_ms pass. Returns the position just past the match.
  std::optional<size_t> WaitForOutput(const std::string& text, int timeout_ms, size_t from = 0);
  const std::string& output() const { return output_; }
  void Signal(int signal_number);
  // Closes the terminal's master side, as closing a terminal window does: the child's terminal
  // hangs up. Only with a terminal; nothing more is read from the child afterwards.
  void HangUp();
  // Waits for the child to end: its exit code (128 + signal when killed), nothing on timeout.
  std::optional<int> WaitForExit(int timeout_ms);
  // The terminal's local modes (ICANON, ECHO...) as the child left them; only with a terminal.
  std::optional<unsigned> TerminalLocalModes() const;
  // What is still unread in the pipe of standard input; only with kPipe.
  std::string UnreadInput() const;

 private:
  void ReadAvailable(int timeout_ms);

  pid_t pid_ = -1;
  int input_fd_ = -1;        // terminal master or the write end of the input pipe
  int output_fd_ = -1;       // terminal master or the read end of the output pipe
  int input_read_end_ = -1;  // kept open to look at what the child left unread
  std::string output_;
  std::optional<int> exit_code_;
};

}  // namespace pltest
