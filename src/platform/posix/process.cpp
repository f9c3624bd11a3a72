#include "platform/process.h"

#include <errno.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace plat {
namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::string ProgramFilePath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<size_t>(length));
}

PriorityResult RaiseProcessPriority() {
  // The "high" class: a nice value of -10 where the user may lower it.
  if (setpriority(PRIO_PROCESS, 0, -10) == 0) return PriorityResult::kRaised;
  if (errno == EACCES || errno == EPERM) return PriorityResult::kNotPermitted;
  return PriorityResult::kFailed;
}

PriorityResult RaiseCurrentThreadPriority() {
  // Linux threads have their own nice value; the highest we may ask for without privileges is
  // our current one, so an unprivileged process keeps the normal priority.
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -15) == 0)
    return PriorityResult::kRaised;
  if (errno == EACCES || errno == EPERM) return PriorityResult::kNotPermitted;
  return PriorityResult::kFailed;
}

std::optional<bool> TopLevelWindowExists(const char*, const char*) {
  return std::nullopt;  // the server draws no windows here
}

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool StdinIsForegroundTerminal() {
  if (!StdinIsTerminal()) return false;
  pid_t foreground = tcgetpgrp(STDIN_FILENO);
  return foreground != -1 && foreground == getpgrp();
}

std::string EnvironmentVariable(const char* name) {
  const char* value = getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

void BlockTerminationSignals() {
  sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

namespace {

ShellInput SignalInput(int signal_number) {
  return {signal_number == SIGHUP ? ShellEvent::kReloadSignal : ShellEvent::kTerminationSignal, 0};
}

}  // namespace

ShellInput WaitForSignalOrKey(StdinWatch watch, int timeout_ms) {
  static int signal_fd = -1;
  const sigset_t set = TerminationSignals();
  if (signal_fd < 0) signal_fd = signalfd(-1, &set, SFD_CLOEXEC);
  if (signal_fd < 0) {
    // Without the descriptor (out of descriptors) the blocked signals would never be seen and
    // the process could not be stopped: look at the pending ones at short intervals instead.
    constexpr int kPendingCheckMs = 100;
    timespec no_wait{};
    if (int pending = sigtimedwait(&set, nullptr, &no_wait); pending > 0)
      return SignalInput(pending);
    if (timeout_ms < 0 || timeout_ms > kPendingCheckMs) timeout_ms = kPendingCheckMs;
  }
  // With no events asked for, poll still reports a terminal's hang-up and errors.
  const short stdin_events = watch == StdinWatch::kKeys ? POLLIN : 0;
  pollfd fds[2] = {{signal_fd, POLLIN, 0}, {STDIN_FILENO, stdin_events, 0}};
  const int count = watch == StdinWatch::kNothing ? 1 : 2;
  int ready = poll(fds, static_cast<nfds_t>(count), timeout_ms);
  if (ready <= 0) return {};
  // A hung-up terminal first: the hang-up also sends SIGHUP, which is then no reload request.
  if (count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)))
    return {ShellEvent::kEndOfInput, 0};
  if (fds[0].revents & POLLIN) {
    signalfd_siginfo info{};
    if (read(signal_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
      return {ShellEvent::kTerminationSignal, 0};  // a signal came; stopping is the safe reading
    return SignalInput(static_cast<int>(info.ssi_signo));
  }
  if (watch != StdinWatch::kKeys || fds[1].revents == 0) return {};
  char key = 0;
  ssize_t got = read(STDIN_FILENO, &key, 1);
  if (got == 1) return {ShellEvent::kKey, key};
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return {};
  // 0 bytes: end of input; an error (EIO once the terminal has hung up): nothing more will come.
  return {ShellEvent::kEndOfInput, 0};
}

namespace {

// tcsetattr from a background process group would stop the process with SIGTTOU unless the
// signal is ignored; the shell must never be stopped by putting the terminal back.
bool SetTerminalModes(const termios& modes) {
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGTTOU, &ignore, &previous);
  bool done = tcsetattr(STDIN_FILENO, TCSANOW, &modes) == 0;
  sigaction(SIGTTOU, &previous, nullptr);
  return done;
}

}  // namespace

RawTerminal::RawTerminal() {
  static_assert(sizeof(termios) <= sizeof saved_, "saved terminal state does not fit");
  termios current{};
  if (tcgetattr(STDIN_FILENO, &current) != 0) return;
  memcpy(saved_, &current, sizeof current);
  termios raw = current;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  active_ = SetTerminalModes(raw);
}

RawTerminal::~RawTerminal() {
  if (!active_) return;
  termios saved{};
  memcpy(&saved, saved_, sizeof saved);
  SetTerminalModes(saved);
}

bool ReadSecretLine(const std::string& prompt, std::string* line) {
  if (isatty(STDIN_FILENO) != 1) return false;
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ICANON;
  if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return false;
  if (write(STDERR_FILENO, prompt.data(), prompt.size()) < 0) { /* the prompt is a courtesy */
  }
  line->clear();
  bool complete = false;
  char c = 0;
  while (read(STDIN_FILENO, &c, 1) == 1) {
    if (c == '\n') {
      complete = true;
      break;
    }
    line->push_back(c);
  }
  tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
  // The newline the user typed was not echoed either.
  if (write(STDERR_FILENO, "\n", 1) < 0) { /* nothing to do about it */
  }
  return complete;
}

void ExitProcessNow(int code) {
  _exit(code);
}

}  // namespace plat
