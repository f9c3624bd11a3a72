#include "shell/frmMain_u.h"

#include <cstdio>
#include <cstring>

#include "platform/process.h"

namespace shell {

bool HandleInformationArguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "Usage: plserver [-INI=file] [-LOG=file] [-PID=value]\n"
          "  -INI=file  configuration file, relative to the program directory (plserver.ini)\n"
          "  -LOG=file  log file, relative to the current directory (plserver.log)\n"
          "  -PID=value accepted and ignored\n"
          "The server runs in the foreground; SIGTERM, SIGINT or SIGHUP shut it down.\n");
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Parlowind server %s\n", core::kServerVersion);
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
  for (;;) {
    plat::ShellInput input = plat::WaitForSignalOrKey(false, -1);
    if (input.event == plat::ShellEvent::kTerminationSignal) break;
  }
  FormClose();
}

void TfrmMain::FormClose() { server_.Server_DeInit(); }

}  // namespace shell
