// The Windows main window: hidden, owner of the notification-area icon and its popup menu.
#include "shell/frmMain_u.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/process.h"

namespace shell {
namespace {

constexpr char kWindowClass[] = "TfrmMain";
// The caption, the icon's tool tip and the quit question keep the names the desktop program has
// always shown: tools that find its windows and answer its question look for these texts.
constexpr char kCaption[] = "RERivize";
constexpr char kTrayHint[] = "Corvane Server";
constexpr char kConfirmTitle[] = "Confirm";
constexpr char kConfirmText[] = "You really want to quit Corvane Server";
constexpr UINT kTrayIconId = 1;
constexpr UINT kTrayMessage = WM_USER + 1024;
constexpr UINT kAbout1 = 1;
constexpr UINT kExit1 = 2;
// The icon resource of the program file (see cmake/VersionResource.cmake).
constexpr WORD kTrayIconResource = 1;
// How often the watcher of the console's close events looks whether the window has closed.
constexpr int kWatchIntervalMs = 200;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<TfrmMain*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  return form->HandleMessage(window, message, wparam, lparam);
}

}  // namespace

void TfrmMain::Run() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = MainWindowProc;
  window_class.hInstance = instance;
  window_class.lpszClassName = kWindowClass;
  RegisterClassA(&window_class);
  taskbar_created_message_ = RegisterWindowMessageA("TaskbarCreated");
  icon_ = LoadImageA(instance, MAKEINTRESOURCEA(kTrayIconResource), IMAGE_ICON,
                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
  if (icon_ == nullptr) icon_ = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
  // Single border with system menu and minimise button, centred; never shown.
  const int width = 300;
  const int height = 200;
  window_ = CreateWindowExA(
      0, kWindowClass, kCaption, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
      (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
      width, height, nullptr, nullptr, instance, this);
  if (window_ == nullptr) {
    // No window, no way to be told to stop but the console: shut down rather than run headless
    // without a way out.
    FormClose();
    return;
  }
  AddTrayIcon();

  // The console's close events (Ctrl-C, closing the console) close the window without asking.
  std::atomic<bool> window_closed{false};
  HWND window = static_cast<HWND>(window_);
  std::thread watcher([&window_closed, window] {
    while (!window_closed.load()) {
      if (plat::WaitForSignalOrKey(plat::StdinWatch::kNothing, kWatchIntervalMs).event ==
          plat::ShellEvent::kTerminationSignal) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return;
      }
    }
  });

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  window_closed = true;
  watcher.join();
  RemoveTrayIcon();
  if (icon_ != nullptr) DestroyIcon(static_cast<HICON>(icon_));
}

long long TfrmMain::HandleMessage(void* handle, unsigned message, unsigned long long wparam,
                                  long long lparam) {
  HWND window = static_cast<HWND>(handle);
  if (message == kTrayMessage) {
    // A right-button press (not its release) pops the menu up; the left button does nothing.
    if (static_cast<UINT>(lparam) == WM_RBUTTONDOWN) PopupMenuAtCursor();
    return 0;
  }
  if (message != 0 && message == taskbar_created_message_) {
    // The taskbar was started again (explorer restarted): the icon must be added anew.
    icon_added_ = false;
    AddTrayIcon();
    return 0;
  }
  switch (message) {
    case WM_CLOSE:
      FormClose();
      DestroyWindow(window);
      return 0;
    case WM_ENDSESSION:
      if (wparam) FormClose();
      return 0;
    case WM_DESTROY:
      RemoveTrayIcon();
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

bool TfrmMain::AddTrayIcon() {
  if (icon_added_ || window_ == nullptr) return icon_added_;
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = static_cast<HWND>(window_);
  data.uID = kTrayIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayMessage;
  data.hIcon = static_cast<HICON>(icon_);
  // At most 63 characters and the terminating zero.
  std::strncpy(data.szTip, kTrayHint, 63);
  icon_added_ = Shell_NotifyIconA(NIM_ADD, &data) != FALSE;
  return icon_added_;
}

void TfrmMain::RemoveTrayIcon() {
  if (!icon_added_) return;
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = static_cast<HWND>(window_);
  data.uID = kTrayIconId;
  Shell_NotifyIconA(NIM_DELETE, &data);
  icon_added_ = false;
}

void TfrmMain::PopupMenuAtCursor() {
  HWND window = static_cast<HWND>(window_);
  HMENU menu = CreatePopupMenu();
  AppendMenuA(menu, MF_STRING, kAbout1, "&About");
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, kExit1, "&Exit");
  POINT at{};
  GetCursorPos(&at);
  // Without the window in the foreground the menu would not close on a click elsewhere.
  SetForegroundWindow(window);
  UINT chosen = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, window, nullptr));
  PostMessageA(window, WM_NULL, 0, 0);
  DestroyMenu(menu);
  if (chosen == kAbout1) About1Click();
  if (chosen == kExit1) Exit1Click();
}

void TfrmMain::About1Click() {
  about_.ShowModal(window_);
}

void TfrmMain::Exit1Click() {
  int answer = MessageBoxA(static_cast<HWND>(window_), kConfirmText, kConfirmTitle,
                           MB_YESNO | MB_ICONQUESTION);
  if (answer == IDYES) PostMessageA(static_cast<HWND>(window_), WM_CLOSE, 0, 0);
}

void TfrmMain::FormClose() {
  // Whatever closes the window, the server shuts down once.
  if (closed_) return;
  closed_ = true;
  server_.Server_DeInit();
}

}  // namespace shell
