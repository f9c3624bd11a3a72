// TfrmMain: the server's main window, never shown. Closing it runs the shutdown sequence, and is
// the only way from the shell into it.
//
// On Windows it owns the notification-area icon, whose right-button menu offers About and Exit
// (Exit asks first); the console's close events close the window without asking. On Linux it is
// a console shell that is never drawn: on a terminal the operator's key `a` shows the about box
// and `e` asks whether to quit; SIGTERM and SIGINT close the window without asking, and so does
// the end of the terminal the server was started on. SIGHUP re-reads the configuration file.
//
// Created once, after a successful start-up, and run on the main thread.
#pragma once

#include <string>

#include "core/servermain.h"
#include "shell/HelpAboutForm.h"
#ifndef _WIN32
#include "shell/console_keys.h"
#endif

namespace shell {

// Handles --help and --version: prints and returns true (the program then exits 0).
bool HandleInformationArguments(int argc, char** argv);
// --check-config: the configuration report on standard output; the exit code, or -1 when the
// argument is not there.
int HandleCheckConfig(int argc, char** argv);

// Writes the fatal start-up message to the log (and, for the operator, to standard error).
void ReportFatalStart(core::TParlowindServer& server);

// The application's title once the server has started.
inline constexpr char kApplicationTitle[] = "Parlowind Server";

// The application object. On Windows it owns the application's hidden top-level window (class
// core::kApplicationWindowClass), titled with the program file's base name from creation until
// SetTitle: start-up recognises the desktop program by that window. Elsewhere it has no window.
class TApplication {
 public:
  TApplication();
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;
  void SetTitle(const std::string& title);
  void* window() const { return window_; }

 private:
  void* window_ = nullptr;
};

#ifdef _WIN32

class TfrmMain {
 public:
  // The server has started; the about box is created with the window.
  explicit TfrmMain(core::TParlowindServer& server) : server_(server) {}
  TfrmMain(const TfrmMain&) = delete;
  TfrmMain& operator=(const TfrmMain&) = delete;

  // Creates the window and the tray icon and runs the message loop: returns once the window has
  // closed and the server has shut down.
  void Run();

  // The window's messages (the window procedure hands them here).
  long long HandleMessage(void* window, unsigned message, unsigned long long wparam,
                          long long lparam);

 private:
  bool AddTrayIcon();
  void RemoveTrayIcon();
  void PopupMenuAtCursor();
  void About1Click();
  void Exit1Click();
  void FormClose();

  core::TParlowindServer& server_;
  TfrmAbout about_;
  void* window_ = nullptr;
  void* icon_ = nullptr;
  unsigned taskbar_created_message_ = 0;
  bool icon_added_ = false;
  bool closed_ = false;
};

#else

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

#endif

}  // namespace shell
