#include "support/tool_runner.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace pltest {
namespace {

std::vector<std::string> ChildEnvironment(const ToolOptions& options) {
  std::map<std::string, std::optional<std::string>> changes = options.environment;
  if (!changes.count("PLCTL_ADMIN_PASSWORD")) changes["PLCTL_ADMIN_PASSWORD"] = std::nullopt;
  std::vector<std::string> result;
  for (char** entry = environ; *entry; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    if (!changes.count(name)) result.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) result.push_back(name + "=" + *value);
  }
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ToolProcess::ToolProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ToolOptions& options)
    : timeout_ms_(options.timeout_ms) {
  int out_pipe[2], err_pipe[2], in_pipe[2] = {-1, -1};
  if (options.input_pipe && pipe2(in_pipe, O_CLOEXEC) != 0) return;
  if (pipe2(out_pipe, O_CLOEXEC) != 0) return;
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.input_pipe) {
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  if (!options.working_directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
  }
  // A child must not inherit the test's blocked signals or it could not be interrupted.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> argv_texts = {program};
  argv_texts.insert(argv_texts.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env_texts = ChildEnvironment(options);
  std::vector<char*> argv = Pointers(argv_texts);
  std::vector<char*> envp = Pointers(env_texts);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data()) == 0)
    pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (options.input_pipe) {
    close(in_pipe[0]);
    in_fd_ = in_pipe[1];
  }
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
}

ToolProcess::~ToolProcess() {
  if (started() && !finished_) {
    kill(pid_, SIGKILL);
    Finish();
  }
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
  if (in_fd_ >= 0) close(in_fd_);
}

bool ToolProcess::WriteInput(const std::string& text) {
  size_t written = 0;
  while (in_fd_ >= 0 && written < text.size()) {
    ssize_t put = write(in_fd_, text.data() + written, text.size() - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    written += static_cast<size_t>(put);
  }
  return in_fd_ >= 0;
}

std::optional<std::string> ToolProcess::NextLine(int timeout_ms) {
  auto has_line = [this](const std::string& out, const std::string&) {
    return out.find('\n', lines_taken_) != std::string::npos;
  };
  if (!WaitForOutput(has_line, timeout_ms)) return std::nullopt;
  const size_t end = out_.find('\n', lines_taken_);
  std::string line = out_.substr(lines_taken_, end - lines_taken_);
  lines_taken_ = end + 1;
  return line;
}

void ToolProcess::Signal(int signal_number) {
  if (started() && !finished_) kill(pid_, signal_number);
}

bool ToolProcess::CollectOnce(int timeout_ms) {
  if (!out_open_ && !err_open_) return false;
  pollfd fds[2] = {{out_open_ ? out_fd_ : -1, POLLIN, 0}, {err_open_ ? err_fd_ : -1, POLLIN, 0}};
  if (poll(fds, 2, timeout_ms) < 0) return errno == EINTR;
  char buffer[4096];
  for (int i = 0; i < 2; ++i) {
    if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got <= 0) {
      (i == 0 ? out_open_ : err_open_) = false;
    } else {
      (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(got));
    }
  }
  return out_open_ || err_open_;
}

bool ToolProcess::WaitForOutput(
    const std::function<bool(const std::string& out, const std::string& err)>& done,
    int timeout_ms) {
  if (!started() || finished_) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (done(out_, err_)) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !CollectOnce(static_cast<int>(left.count()))) return done(out_, err_);
  }
}

ToolResult ToolProcess::Finish() {
  ToolResult result;
  if (!started() || finished_) return result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms_);
  bool killed = false;
  if (in_fd_ >= 0) {
    // The end of its input tells a child that reads commands to finish.
    close(in_fd_);
    in_fd_ = -1;
  }
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !killed) {
      kill(pid_, SIGKILL);
      killed = true;
    }
    if (!CollectOnce(killed ? 1000 : static_cast<int>(left.count()))) break;
  }
  int status = 0;
  waitpid(pid_, &status, 0);
  finished_ = true;
  result.exit_code = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = out_;
  result.err = err_;
  return result;
}

ToolResult RunTool(const std::string& program, const std::vector<std::string>& arguments,
                   const ToolOptions& options) {
  ToolProcess process(program, arguments, options);
  return process.Finish();
}

}  // namespace pltest
