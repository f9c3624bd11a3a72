// ConsoleKeys: the shell's input on the console: the operator's keys, the termination signals,
// the reload signal and the end of the terminal. Keys come only from a terminal, and only while
// the process holds the terminal's foreground (a server started in the background with "&" is
// never stopped for reading it); while keys are read, the terminal is in single-key mode, and it
// is put back on every way out. In the foreground or not, the terminal's hang-up is noticed.
//
// Used by the main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/process.h"

namespace shell {

class ConsoleKeys {
 public:
  // watch_terminal: standard input is a terminal the operator types on. Without it nothing is
  // ever read from standard input. `greeting` is shown each time the shell takes the terminal
  // (at start in the foreground, and whenever it is brought back there). `on_reload` runs for
  // each reload signal, whatever the shell is waiting for at the time.
  ConsoleKeys(bool watch_terminal, std::string greeting, std::function<void()> on_reload);
  ConsoleKeys(const ConsoleKeys&) = delete;
  ConsoleKeys& operator=(const ConsoleKeys&) = delete;

  // Waits for a termination signal, a key or the terminal's end. Returns kEndOfInput once, when
  // the terminal has gone; from then on only signals are awaited.
  plat::ShellInput Next();
  bool watching() const { return watching_; }

 private:
  // Takes the terminal into single-key mode when the process has come to the foreground, and
  // gives it back when the process has been moved to the background.
  void FollowForeground();

  bool watching_;
  std::string greeting_;
  std::function<void()> on_reload_;
  std::optional<plat::RawTerminal> raw_;
};

// Whether the input ends the shell: a termination signal, or the terminal it ran on has gone
// (closing the terminal window ends a server started in it).
inline bool EndsTheShell(const plat::ShellInput& input) {
  return input.event == plat::ShellEvent::kTerminationSignal ||
         input.event == plat::ShellEvent::kEndOfInput;
}

}  // namespace shell
