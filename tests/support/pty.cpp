#include "support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

namespace pltest {
namespace {

long long NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Everything the child needs is prepared before fork: the test process may run other threads,
// so the child calls only what is safe between fork and exec.
struct ExecPlan {
  ExecPlan(const std::string& program, const std::vector<std::string>& arguments,
           const std::string& directory)
      : program(program), arguments(arguments), directory(directory) {
    argv.push_back(const_cast<char*>(this->program.c_str()));
    for (std::string& argument : this->arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
  }
  std::string program;
  std::vector<std::string> arguments;
  std::string directory;
  std::vector<char*> argv;
};

[[noreturn]] void ExecInChild(const ExecPlan& plan) {
  if (chdir(plan.directory.c_str()) != 0) _exit(126);
  // The test runner may block or ignore signals; the child starts with the defaults.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGTTOU, SIGTTIN}) signal(sig, SIG_DFL);
  execv(plan.program.c_str(), plan.argv.data());
  _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& directory, Input input) {
  const ExecPlan plan(program, arguments, directory);
  if (input == Input::kPseudoTerminal) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    const std::string slave_name = ptsname(master);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      int slave = open(slave_name.c_str(), O_RDWR);  // becomes the controlling terminal
      if (slave < 0) _exit(125);
      dup2(slave, 0);
      dup2(slave, 1);
      dup2(slave, 2);
      if (slave > 2) close(slave);
      ExecInChild(plan);
    }
    input_fd_ = output_fd_ = master;
    return;
  }
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    ExecInChild(plan);
  }
  close(out[1]);
  input_read_end_ = in[0];
  input_fd_ = in[1];
  output_fd_ = out[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exit_code_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (input_fd_ >= 0 && input_fd_ != output_fd_) close(input_fd_);
  if (output_fd_ >= 0) close(output_fd_);
  if (input_read_end_ >= 0) close(input_read_end_);
}

bool ChildProcess::Send(const std::string& bytes) {
  return input_fd_ >= 0 &&
         write(input_fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void ChildProcess::HangUp() {
  if (input_read_end_ >= 0 || output_fd_ < 0) return;
  close(output_fd_);
  input_fd_ = output_fd_ = -1;
}

void ChildProcess::ReadAvailable(int timeout_ms) {
  if (output_fd_ < 0) {
    usleep(static_cast<useconds_t>(timeout_ms) * 1000);
    return;
  }
  pollfd fd{output_fd_, POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) <= 0) return;
  char buffer[4096];
  ssize_t got = read(output_fd_, buffer, sizeof buffer);
  if (got > 0) output_.append(buffer, static_cast<size_t>(got));
  // EIO: every holder of the terminal has gone; end of file on a pipe. Either way wait a little
  // rather than spin.
  if (got <= 0) usleep(10000);
}

std::optional<size_t> ChildProcess::WaitForOutput(const std::string& text, int timeout_ms,
                                                  size_t from) {
  const long long deadline = NowMs() + timeout_ms;
  for (;;) {
    size_t at = output_.find(text, from);
    if (at != std::string::npos) return at + text.size();
    long long left = deadline - NowMs();
    if (left <= 0 || output_fd_ < 0) return std::nullopt;
    ReadAvailable(static_cast<int>(left < 50 ? left : 50));
  }
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0 && !exit_code_) kill(pid_, signal_number);
}

std::optional<int> ChildProcess::WaitForExit(int timeout_ms) {
  const long long deadline = NowMs() + timeout_ms;
  while (!exit_code_ && pid_ > 0) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (NowMs() >= deadline) break;
    // Keep draining the output, so a child writing to a full terminal never stalls.
    ReadAvailable(20);
  }
  return exit_code_;
}

std::optional<unsigned> ChildProcess::TerminalLocalModes() const {
  termios modes{};
  if (input_read_end_ >= 0 || output_fd_ < 0 || tcgetattr(output_fd_, &modes) != 0) {
    return std::nullopt;
  }
  return static_cast<unsigned>(modes.c_lflag);
}

std::string ChildProcess::UnreadInput() const {
  if (input_read_end_ < 0) return {};
  std::string unread;
  char buffer[256];
  pollfd fd{input_read_end_, POLLIN, 0};
  while (poll(&fd, 1, 0) > 0 && (fd.revents & POLLIN)) {
    ssize_t got = read(input_read_end_, buffer, sizeof buffer);
    if (got <= 0) break;
    unread.append(buffer, static_cast<size_t>(got));
  }
  return unread;
}

}  // namespace pltest
