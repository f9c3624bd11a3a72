// TfrmAbout: the about box, shown on the console as a block of text. It is created once, after
// a successful start-up, and shown each time the operator asks for it.
#pragma once

#include <string>

#include "shell/console_keys.h"

namespace shell {

// How a modal box on the console ended.
enum class ModalResult { kClosed, kTerminationSignal };

class TfrmAbout {
 public:
  // Creation fills the version label (FormCreate).
  TfrmAbout();

  // The window's caption and contents, one line each, ready for a terminal.
  std::string Render() const;
  // Shows the box and waits for any key; a termination signal ends the wait too.
  ModalResult ShowModal(ConsoleKeys& keys) const;
  // Sets the version label from VersionInfo (at creation and on a click on the library credits).
  void FormCreate();
  const std::string& lbversion() const { return lbversion_; }

 private:
  std::string lbversion_ = "0.1";
};

}  // namespace shell
