// TfrmAbout: the about box. It is created once, after a successful start-up, and shown each time
// the operator asks for it: on Windows as a modal dialog, elsewhere on the console as a block of
// text.
#pragma once

#include <string>

#ifndef _WIN32
#include "shell/console_keys.h"
#endif

namespace shell {

#ifdef _WIN32

class TfrmAbout {
 public:
  // Creation fills the version label (FormCreate).
  TfrmAbout();
  ~TfrmAbout();
  TfrmAbout(const TfrmAbout&) = delete;
  TfrmAbout& operator=(const TfrmAbout&) = delete;

  // Shows the dialog over `owner` (a window handle) and returns when it is closed.
  void ShowModal(void* owner);
  // Sets the version label from VersionInfo (at creation and on a click on the library credits).
  void FormCreate();
  const std::string& lbversion() const { return lbversion_; }

  // The dialog's messages (the window procedure hands them here).
  long long HandleMessage(void* window, unsigned message, unsigned long long wparam,
                          long long lparam);

 private:
  void CreateControls(void* window);
  // Opens a web address with the shell; a failure is not reported.
  static void OpenAddress(const char* address);

  std::string lbversion_ = "0.1";
  void* window_ = nullptr;
  void* version_label_ = nullptr;
  void* bold_font_ = nullptr;
  void* link_font_ = nullptr;
  void* text_font_ = nullptr;
  bool done_ = false;
};

#else

// How a modal box on the console ended: closed, or the shell ends meanwhile (a termination
// signal, the terminal's end).
enum class ModalResult { kClosed, kShellEnds };

class TfrmAbout {
 public:
  // Creation fills the version label (FormCreate).
  TfrmAbout();

  // The window's caption and contents, one line each, ready for a terminal.
  std::string Render() const;
  // Shows the box and waits for any key; whatever ends the shell ends the wait too.
  ModalResult ShowModal(ConsoleKeys& keys) const;
  // Sets the version label from VersionInfo (at creation and on a click on the library credits).
  void FormCreate();
  const std::string& lbversion() const { return lbversion_; }

 private:
  std::string lbversion_ = "0.1";
};

#endif

}  // namespace shell
