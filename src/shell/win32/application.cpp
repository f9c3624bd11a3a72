// The application's hidden top-level window. It carries the program file's base name (without
// its extension) as title until the server has started, which is how start-up tells the
// desktop program running under its own name from a service.
#include <windows.h>

#include "core/servermain.h"
#include "platform/files.h"
#include "platform/process.h"
#include "shell/frmMain_u.h"

namespace shell {
namespace {

std::string ProgramBaseNameWithoutExtension() {
  std::string name = plat::BaseNameOf(plat::ProgramFilePath());
  size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

LRESULT CALLBACK ApplicationWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

TApplication::TApplication() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = ApplicationWindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = core::kApplicationWindowClass;
  RegisterClassA(&window_class);
  // Never shown: a zero-sized popup window without a taskbar button.
  window_ = CreateWindowExA(WS_EX_TOOLWINDOW, core::kApplicationWindowClass,
                            ProgramBaseNameWithoutExtension().c_str(),
                            WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, 0, 0, 0,
                            nullptr, nullptr, instance, nullptr);
}

TApplication::~TApplication() {
  if (window_ != nullptr) DestroyWindow(static_cast<HWND>(window_));
}

void TApplication::SetTitle(const std::string& title) {
  if (window_ != nullptr) SetWindowTextA(static_cast<HWND>(window_), title.c_str());
}

}  // namespace shell
