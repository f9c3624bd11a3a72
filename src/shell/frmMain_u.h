// TfrmMain: the server's main window. On Linux it is a console shell that is never drawn: on a
// terminal the operator's key `a` shows the about box and `e` asks whether to quit; SIGTERM,
// SIGINT and SIGHUP close the window without asking. Closing the window runs the shutdown
// sequence, and is the only way from the shell into it.
//
// Created once, after a successful start-up, and run on the main thread.
#pragma once

#include "core/servermain.h"
#include "shell/HelpAboutForm.h"
#include "shell/console_keys.h"

namespace shell {

// Handles --help and --version: prints and returns true (the program then exits 0).
bool HandleInformationArguments(int argc, char** argv);

// Writes the fatal start-up message to the log (and, for the operator, to standard error).
void ReportFatalStart(core::TParlowindServer& server);

// The operator's keys on the terminal.
inline constexpr char kAboutKey = 'a';
inline constexpr char kExitKey = 'e';
inline constexpr char kYesKey = 'y';

class TfrmMain {
 public:
  // The server has started; the about box is created with the window.
  explicit TfrmMain(core::TParlowindServer& server) : server_(server) {}
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;

  // The message loop: returns once the window has closed and the server has shut down.
  void Run();

 private:
  // Handles input until something closes the window.
  void MessageLoop(ConsoleKeys& keys);
  void About1Click(ConsoleKeys& keys);
  void Exit1Click(ConsoleKeys& keys);
  void FormClose();

  core::TParlowindServer& server_;
  TfrmAbout about_;
  bool closing_ = false;
};

}  // namespace shell
