// The command-line information options and the report of a failed start, for every shell.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/config_check.h"
#include "shell/cVersionInfo.h"
#include "shell/frmMain_u.h"

namespace shell {
namespace {

// The version text without its trailing space (which a plain build leaves after the number).
std::string VersionForConsole() {
  std::string text = VersionInfo().VersionText();
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

#ifdef _WIN32
constexpr char kHowToStop[] =
    "The server shows an icon in the notification area; its menu has About and Exit.\n";
#else
constexpr char kHowToStop[] =
    "The server runs in the foreground; SIGTERM or SIGINT shut it down, SIGHUP re-reads the\n"
    "configuration file and puts it in force without dropping anyone (refusing a file the\n"
    "check does not pass). On a terminal, key a shows the about box and key e quits after\n"
    "asking; closing the terminal shuts the server down. Without a terminal on standard input\n"
    "it runs until a signal stops it.\n";
#endif

}  // namespace

bool HandleInformationArguments(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "Usage: plserver [-INI=file] [-LOG=file] [-PID=value]\n"
          "       plserver --check-config [-INI=file]\n"
          "  --check-config  read the configuration file as start-up would, print the settings\n"
          "                  in force and every warning (also lines the reading passes over and\n"
          "                  anything that would stop start-up); exit 0 without warnings, 1\n"
          "                  otherwise. A reload refuses a file this check does not pass\n"
          "  -INI=file  configuration file: an absolute path, or one relative to the program\n"
          "             directory (plserver.ini)\n"
          "  -LOG=file  log file, relative to the current directory (plserver.log)\n"
          "  -PID=value accepted and ignored\n"
          "%s",
          kHowToStop);
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("Parlowind server %s\n", VersionForConsole().c_str());
      return true;
    }
  }
  return false;
}

int HandleCheckConfig(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--check-config") != 0) continue;
    std::string report;
    int code = core::CheckConfiguration(core::CurrentProcessEnvironment(argc, argv), report);
    std::fwrite(report.data(), 1, report.size(), stdout);
    return code;
  }
  return -1;
}

void ReportFatalStart(core::TParlowindServer& server) {
  std::fprintf(stderr, "%s\n", server.FatalMessage().c_str());
  if (!server.FatalReason().empty()) std::fprintf(stderr, "  %s\n", server.FatalReason().c_str());
  if (plat::Status status = server.log().WriteLogLine(server.FatalMessage()); !status.ok()) {
    std::fprintf(stderr, "cannot write the log: %s\n", status.message().c_str());
  }
}

}  // namespace shell
