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
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -15) == 0) return PriorityResult::kRaised;
  if (errno == EACCES || errno == EPERM) return PriorityResult::kNotPermitted;
  return PriorityResult::kFailed;
}

bool StdinIsTerminal() { return isatty(STDIN_FILENO) == 1; }

std::string EnvironmentVariable(const char* name) {
  const char* value = getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

void BlockTerminationSignals() {
  sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

ShellInput WaitForSignalOrKey(bool watch_stdin, int timeout_ms) {
  static int signal_fd = -1;
  if (signal_fd < 0) {
    sigset_t set = TerminationSignals();
    signal_fd = signalfd(-1, &set, SFD_CLOEXEC);
  }
  pollfd fds[2] = {{signal_fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  int count = watch_stdin ? 2 : 1;
  int ready = poll(fds, static_cast<nfds_t>(count), timeout_ms);
  if (ready <= 0) return {};
  if (fds[0].revents & POLLIN) {
    signalfd_siginfo info;
    if (read(signal_fd, &info, sizeof info) < 0) { /* the signal is what matters */ }
    return {ShellEvent::kTerminationSignal, 0};
  }
  if (watch_stdin && (fds[1].revents & (POLLIN | POLLHUP))) {
    char key = 0;
    ssize_t got = read(STDIN_FILENO, &key, 1);
    if (got == 1) return {ShellEvent::kKey, key};
    // End of input on the terminal: stop watching it by reporting nothing.
    return {ShellEvent::kTimeout, 0};
  }
  return {};
}

RawTerminal::RawTerminal() {
  static_assert(sizeof(termios) <= sizeof saved_, "saved terminal state does not fit");
  termios current{};
  if (tcgetattr(STDIN_FILENO, &current) != 0) return;
  memcpy(saved_, &current, sizeof current);
  termios raw = current;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

RawTerminal::~RawTerminal() {
  if (!active_) return;
  termios saved{};
  memcpy(&saved, saved_, sizeof saved);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void ExitProcessNow(int code) { _exit(code); }

}  // namespace plat
