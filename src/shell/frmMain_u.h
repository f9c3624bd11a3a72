// TfrmMain: the server's main window. On Linux it is a console shell: it waits for a
// termination signal (and, on a terminal, for the operator's keys) and closing it runs the
// shutdown sequence.
#pragma once

#include "core/servermain.h"

namespace shell {

// Handles --help and --version: prints and returns true (the program then exits 0).
bool HandleInformationArguments(int argc, char** argv);

// Writes the fatal start-up message to the log (and, for the operator, to standard error).
void ReportFatalStart(core::TParlowindServer& server);

class TfrmMain {
 public:
  explicit TfrmMain(core::TParlowindServer& server) : server_(server) {}
  // The message loop: returns once the window has closed and the server has shut down.
  void Run();

 private:
  void FormClose();

  core::TParlowindServer& server_;
};

}  // namespace shell
