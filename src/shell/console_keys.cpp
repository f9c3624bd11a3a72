#include "shell/console_keys.h"

#include <cstdio>

namespace shell {
namespace {

// How often a watching shell looks whether it has gained or lost the terminal's foreground.
constexpr int kForegroundCheckMs = 500;

}  // namespace

ConsoleKeys::ConsoleKeys(bool watch_terminal, std::string greeting)
    : watching_(watch_terminal), greeting_(std::move(greeting)) {
  FollowForeground();
}

void ConsoleKeys::FollowForeground() {
  if (!watching_) return;
  const bool foreground = plat::StdinIsForegroundTerminal();
  if (foreground && !raw_) {
    raw_.emplace();
    std::fputs(greeting_.c_str(), stdout);
    std::fflush(stdout);
  }
  if (!foreground && raw_) raw_.reset();
}

plat::ShellInput ConsoleKeys::Next() {
  for (;;) {
    FollowForeground();
    const bool read_keys = watching_ && raw_.has_value();
    plat::ShellInput input =
        plat::WaitForSignalOrKey(read_keys, watching_ ? kForegroundCheckMs : -1);
    switch (input.event) {
      case plat::ShellEvent::kTerminationSignal:
      case plat::ShellEvent::kKey:
        return input;
      case plat::ShellEvent::kEndOfInput:
        watching_ = false;
        raw_.reset();
        return input;
      case plat::ShellEvent::kTimeout:
        break;
    }
  }
}

}  // namespace shell
