#include "shell/console_keys.h"

#include <cstdio>

namespace shell {
namespace {

// How often a watching shell looks whether it has gained or lost the terminal's foreground.
constexpr int kForegroundCheckMs = 500;

}  // namespace

ConsoleKeys::ConsoleKeys(bool watch_terminal, std::string greeting, std::function<void()> on_reload)
    : watching_(watch_terminal), greeting_(std::move(greeting)), on_reload_(std::move(on_reload)) {
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
    const plat::StdinWatch watch = !watching_ ? plat::StdinWatch::kNothing
                                   : raw_     ? plat::StdinWatch::kKeys
                                              : plat::StdinWatch::kHangUp;
    plat::ShellInput input = plat::WaitForSignalOrKey(watch, watching_ ? kForegroundCheckMs : -1);
    switch (input.event) {
      case plat::ShellEvent::kTerminationSignal:
      case plat::ShellEvent::kKey:
        return input;
      case plat::ShellEvent::kReloadSignal:
        if (on_reload_) on_reload_();
        break;
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
