// Process services: the program file, priorities, the terminal, termination signals and exit.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace plat {

// The command-line arguments after the program's own path, as UTF-8 text. On Windows they are
// taken from the wide command line, so names outside the ANSI code page arrive intact; elsewhere
// they are argv as given.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Full path of the running program file, symbolic links resolved; empty when unknown.
std::string ProgramFilePath();

enum class PriorityResult { kRaised, kNotPermitted, kFailed };
// Raises the whole process to the platform's high priority class. Lack of permission is not a
// failure of the call; only kFailed is.
PriorityResult RaiseProcessPriority();
// Gives the calling thread the platform's highest thread priority, where permitted.
PriorityResult RaiseCurrentThreadPriority();

// Whether a top-level window of the class `window_class` titled `title` (compared without regard
// to case) exists; nothing on a platform without a window system.
std::optional<bool> TopLevelWindowExists(const char* window_class, const char* title);

bool StdinIsTerminal();
// True when standard input is a terminal whose foreground is this process's group: only then may
// the process read keys from it or change its modes without being stopped by the terminal.
bool StdinIsForegroundTerminal();

// The value of the environment variable `name`; empty when it is not set.
std::string EnvironmentVariable(const char* name);

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread and every thread it creates later, so
// that only WaitForSignalOrKey sees them. Also ignores SIGPIPE.
void BlockTerminationSignals();

// kTerminationSignal: SIGTERM or SIGINT (on Windows a console close event). kReloadSignal:
// SIGHUP, the request to re-read the configuration file. kEndOfInput: the terminal on standard
// input has hung up or failed.
enum class ShellEvent { kTerminationSignal, kReloadSignal, kKey, kEndOfInput, kTimeout };
struct ShellInput {
  ShellEvent event = ShellEvent::kTimeout;
  char key = 0;
};
// What WaitForSignalOrKey watches on standard input.
enum class StdinWatch {
  kNothing,  // not a terminal (a service, a pipe): never looked at
  kHangUp,   // a terminal the process may not read (it is in the background): only its end
  kKeys,     // a terminal in the foreground: keys, and its end
};
// Waits up to timeout_ms (-1: without limit) for a blocked signal or, as `watch` says, for
// standard input. A terminal's end wins over a signal ready at the same time (its hang-up sends
// SIGHUP, which is no reload request then), and a signal wins over a key.
ShellInput WaitForSignalOrKey(StdinWatch watch, int timeout_ms);

// Puts the terminal on standard input into single-key mode without echo, for as long as the
// object lives; restores it on every way out. Signal keys (Ctrl-C) keep working. Restoring never
// stops the process, even when it has been moved to the background meanwhile.
class RawTerminal {
 public:
  RawTerminal();
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  bool active() const { return active_; }

 private:
  bool active_ = false;
  unsigned char saved_[128];
};

// Writes `prompt` to standard error and reads one line from the terminal on standard input with
// its echo turned off (the echo comes back on every way out), for passwords. False when standard
// input is not a terminal or ends before a line.
bool ReadSecretLine(const std::string& prompt, std::string* line);

// Ends the process at once with `code`, without running destructors: threads still running
// end with it.
[[noreturn]] void ExitProcessNow(int code);

}  // namespace plat
