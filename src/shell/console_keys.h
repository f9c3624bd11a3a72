// ConsoleKeys: the shell's input on the console, the operator's keys and the termination
// signals. Keys come only from a terminal, and only while the process holds the terminal's
// foreground (a server started in the background with "&" is never stopped for reading it);
// while keys are read, the terminal is in single-key mode, and it is put back on every way out.
//
// Used by the main thread only.
#pragma once

#include <optional>
#include <string>

#include "platform/process.h"

namespace shell {

class ConsoleKeys {
 public:
  // watch_terminal: standard input is a terminal the operator types on. Without it nothing is
  // ever read from standard input. `greeting` is shown each time the shell takes the terminal
  // (at start in the foreground, and whenever it is brought back there).
  ConsoleKeys(bool watch_terminal, std::string greeting);
  ConsoleKeys(const ConsoleKeys&) = delete;
  ConsoleKeys& operator=(const ConsoleKeys&) = delete;

  // Waits for a termination signal or a key. Returns kEndOfInput once, when the terminal's input
  // ends; from then on only signals are awaited.
  plat::ShellInput Next();
  bool watching() const { return watching_; }

 private:
  // Takes the terminal into single-key mode when the process has come to the foreground, and
  // gives it back when the process has been moved to the background.
  void FollowForeground();

  bool watching_;
  std::string greeting_;
  std::optional<plat::RawTerminal> raw_;
};

}  // namespace shell
