#include "shell/frmMain_u.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/ascii_case.h"
#include "platform/process.h"

namespace shell {
namespace {

constexpr char kConfirmTitle[] = "Confirm";
// The question names the product as the desktop program always has; scripts that answer it
// wait for this text, so it stays word for word.
constexpr char kConfirmText[] = "You really want to quit Corvane Server";

void Show(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

bool IsKey(const plat::ShellInput& input, char key) {
  return input.event == plat::ShellEvent::kKey && plat::AsciiLower(input.key) == key;
}

}  // namespace

// Without a window system the application has no window; its title is the log's business.
TApplication::TApplication() = default;
TApplication::~TApplication() = default;
void TApplication::SetTitle(const std::string&) {}

void TfrmMain::Run() {
  {
    // The terminal is back in its own modes before the shutdown starts.
    ConsoleKeys keys(plat::StdinIsTerminal(),
                     "Parlowind server running. Keys: a = about, e = exit\n",
                     [this] { server_.Reload("signal"); });
    MessageLoop(keys);
  }
  FormClose();
}

void TfrmMain::MessageLoop(ConsoleKeys& keys) {
  while (!closing_) {
    plat::ShellInput input = keys.Next();
    if (EndsTheShell(input)) {
      closing_ = true;
    } else if (IsKey(input, kAboutKey)) {
      About1Click(keys);
    } else if (IsKey(input, kExitKey)) {
      Exit1Click(keys);
    }
  }
}

void TfrmMain::About1Click(ConsoleKeys& keys) {
  if (about_.ShowModal(keys) == ModalResult::kShellEnds) closing_ = true;
}

void TfrmMain::Exit1Click(ConsoleKeys& keys) {
  Show(std::string(kConfirmTitle) + ": " + kConfirmText + "  [y] Yes  [n] No ");
  plat::ShellInput answer = keys.Next();
  if (EndsTheShell(answer)) {
    Show("\n");
    closing_ = true;
    return;
  }
  const bool yes = IsKey(answer, kYesKey);
  Show(yes ? "Yes\n" : "No\n");
  closing_ = yes;
}

void TfrmMain::FormClose() {
  server_.Server_DeInit();
}

}  // namespace shell
