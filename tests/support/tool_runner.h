// Runs a built program (plctl, the installed server) as a child process for black-box tests:
// standard input from /dev/null, standard output and error captured, a chosen environment and
// working directory, and a time limit after which the child is killed.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pltest {

struct ToolResult {
  int exit_code = -1;  // -1: killed at the time limit or by a signal
  std::string out;
  std::string err;
};

struct ToolOptions {
  // Variables set (or, with an empty optional, removed) on top of the test's environment.
  // PLCTL_ADMIN_PASSWORD is always removed unless set here.
  std::map<std::string, std::optional<std::string>> environment;
  std::string working_directory;  // empty: the test's own
  int timeout_ms = 10000;
  // Standard input from a pipe the test writes to (WriteInput); /dev/null otherwise.
  bool input_pipe = false;
};

class ToolProcess {
 public:
  ToolProcess(const std::string& program, const std::vector<std::string>& arguments,
              const ToolOptions& options = {});
  ~ToolProcess();
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  bool started() const { return pid_ > 0; }
  int pid() const { return pid_; }
  void Signal(int signal_number);
  // Collects output while the child runs until `done` accepts what came so far on standard
  // output and error; false when the child ended or timeout_ms passed first. Finish returns
  // the whole output, this part included.
  bool WaitForOutput(
      const std::function<bool(const std::string& out, const std::string& err)>& done,
      int timeout_ms);
  // Writes to the child's standard input (input_pipe); false when it cannot.
  bool WriteInput(const std::string& text);
  // The next whole line of standard output not yet returned (without its line break), or
  // nothing when none came within timeout_ms.
  std::optional<std::string> NextLine(int timeout_ms);
  // Collects the output until the child ends (killing it at the time limit) and returns it.
  ToolResult Finish();

 private:
  // One poll of both pipes waiting at most timeout_ms; false once both are closed.
  bool CollectOnce(int timeout_ms);

  std::string out_;
  std::string err_;
  bool out_open_ = true;
  bool err_open_ = true;
  int pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int in_fd_ = -1;
  size_t lines_taken_ = 0;  // bytes of out_ that NextLine has returned
  int timeout_ms_;
  bool finished_ = false;
};

// Runs the program to its end.
ToolResult RunTool(const std::string& program, const std::vector<std::string>& arguments,
                   const ToolOptions& options = {});

}  // namespace pltest
