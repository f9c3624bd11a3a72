#include "shell/frmMain_u.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/process.h"
#include "shell/cVersionInfo.h"

namespace shell {
namespace {

constexpr char kConfirmTitle[] = "Confirm";
constexpr char kConfirmText[] = "You really want to quit Corvane Server";

void Show(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

// The version text without its trailing space (which a plain build leaves after the number).
std::string VersionForConsole() {
  std::string text = VersionInfo().VersionText();
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool IsKey(const plat::ShellInput& input, char key) {
  return input.event == plat::ShellEvent::kKey &&
         std::tolower(static_cast<unsigned char>(input.key)) == key;
}

}  // namespace

bool HandleInformationArguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "Usage: plserver [-INI=file] [-LOG=file] [-PID=value]\n"
          "  -INI=file  configuration file, relative to the program directory (plserver.ini)\n"
          "  -LOG=file  log file, relative to the current directory (plserver.log)\n"
          "  -PID=value accepted and ignored\n"
          "The server runs in the foreground; SIGTERM, SIGINT or SIGHUP shut it down.\n"
          "On a terminal, key a shows the about box and key e quits after asking.\n");
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Parlowind server %s\n", VersionForConsole().c_str());
      return true;
    }
  }
  return false;
}

void ReportFatalStart(core::TParlowindServer& server) {
  std::fprintf(stderr, "%s\n", server.FatalMessage().c_str());
  if (auto error = server.log().WriteLogLine(server.FatalMessage())) {
    std::fprintf(stderr, "cannot write the log: %s\n", error->c_str());
  }
}

void TfrmMain::Run() {
  {
    // The terminal is back in its own modes before the shutdown starts.
    ConsoleKeys keys(plat::StdinIsTerminal(),
                     "Parlowind server running. Keys: a = about, e = exit\n");
    MessageLoop(keys);
  }
  FormClose();
}

void TfrmMain::MessageLoop(ConsoleKeys& keys) {
  while (!closing_) {
    plat::ShellInput input = keys.Next();
    if (input.event == plat::ShellEvent::kTerminationSignal) {
      closing_ = true;
    } else if (IsKey(input, kAboutKey)) {
      About1Click(keys);
    } else if (IsKey(input, kExitKey)) {
      Exit1Click(keys);
    }
  }
}

void TfrmMain::About1Click(ConsoleKeys& keys) {
  if (about_.ShowModal(keys) == ModalResult::kTerminationSignal) closing_ = true;
}

void TfrmMain::Exit1Click(ConsoleKeys& keys) {
  Show(std::string(kConfirmTitle) + ": " + kConfirmText + "  [y] Yes  [n] No ");
  plat::ShellInput answer = keys.Next();
  if (answer.event == plat::ShellEvent::kTerminationSignal) {
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
