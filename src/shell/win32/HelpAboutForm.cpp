// The Windows about box: a modal dialog with a white background built from plain controls.
#include "shell/HelpAboutForm.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include "shell/about_texts.h"
#include "shell/cVersionInfo.h"

namespace shell {
namespace {

using about::kCaption;
using about::kContributors;
using about::kLibraryCredits;
using about::kLibrarySite;
using about::kMakers;
using about::kProductName;
using about::kProductSite;
using about::kSiteLabel;
using about::kTeamHeading;

constexpr char kWindowClass[] = "TfrmAbout";
constexpr int kClientWidth = 298;
constexpr int kClientHeight = 319;
// Control identifiers of the labels that react to the mouse, and of the OK button.
constexpr int kLabel8 = 108;   // the product web site
constexpr int kLabel7 = 107;   // the network library's web site
constexpr int kLabel10 = 110;  // the network library's credits
constexpr int kBitBtn1 = IDOK;

LRESULT CALLBACK AboutWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<TfrmAbout*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(window, message, wparam, lparam);
  return form->HandleMessage(window, message, wparam, lparam);
}

HWND AddControl(HWND parent, const char* control_class, const char* text, DWORD style, int x, int y,
                int width, int height, int id, void* font) {
  HWND control = CreateWindowExA(0, control_class, text, WS_CHILD | WS_VISIBLE | style, x, y, width,
                                 height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr && font != nullptr) {
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  return control;
}

HFONT MakeFont(int height, int weight, bool underline) {
  return CreateFontA(-height, 0, 0, 0, weight, FALSE, underline ? TRUE : FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, "Arial");
}

}  // namespace

TfrmAbout::TfrmAbout() {
  FormCreate();
}

TfrmAbout::~TfrmAbout() {
  for (void* font : {bold_font_, link_font_, text_font_}) {
    if (font != nullptr) DeleteObject(static_cast<HFONT>(font));
  }
}

void TfrmAbout::FormCreate() {
  lbversion_ = VersionInfo().VersionText();
  if (version_label_ != nullptr)
    SetWindowTextA(static_cast<HWND>(version_label_), lbversion_.c_str());
}

void TfrmAbout::OpenAddress(const char* address) {
  ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOW);
}

void TfrmAbout::CreateControls(void* handle) {
  HWND window = static_cast<HWND>(handle);
  if (bold_font_ == nullptr) {
    bold_font_ = MakeFont(16, FW_BOLD, false);
    link_font_ = MakeFont(12, FW_NORMAL, true);
    text_font_ = MakeFont(13, FW_NORMAL, false);
  }
  // Label1 and lbversion.
  AddControl(window, "STATIC", kProductName, SS_LEFTNOWORDWRAP, 16, 14, 96, 20, -1, bold_font_);
  version_label_ = AddControl(window, "STATIC", lbversion_.c_str(), SS_LEFTNOWORDWRAP, 114, 14, 168,
                              20, -1, bold_font_);
  // Label2, then Label6 and Label8.
  AddControl(window, "STATIC", kMakers, SS_LEFT, 16, 42, 266, 32, -1, text_font_);
  AddControl(window, "STATIC", kSiteLabel, SS_LEFTNOWORDWRAP, 16, 80, 54, 16, -1, text_font_);
  AddControl(window, "STATIC", kProductSite, SS_LEFTNOWORDWRAP | SS_NOTIFY, 72, 80, 214, 16,
             kLabel8, link_font_);
  // Panel2: the team.
  AddControl(window, "BUTTON", "", BS_GROUPBOX, 10, 104, 278, 78, -1, text_font_);
  AddControl(window, "STATIC", kTeamHeading, SS_LEFT, 20, 116, 256, 16, -1, text_font_);
  AddControl(window, "STATIC", kContributors[0], SS_LEFT, 36, 136, 240, 16, -1, text_font_);
  AddControl(window, "STATIC", kContributors[1], SS_LEFT, 36, 156, 240, 16, -1, text_font_);
  // Panel1: the network library.
  AddControl(window, "BUTTON", "", BS_GROUPBOX, 10, 188, 278, 84, -1, text_font_);
  AddControl(window, "STATIC", kLibraryCredits, SS_LEFT | SS_NOTIFY, 20, 200, 258, 44, kLabel10,
             text_font_);
  AddControl(window, "STATIC", kLibrarySite, SS_LEFTNOWORDWRAP | SS_NOTIFY, 20, 248, 262, 16,
             kLabel7, link_font_);
  // BitBtn1.
  AddControl(window, "BUTTON", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 111, 282, 76, 26, kBitBtn1,
             text_font_);
}

void TfrmAbout::ShowModal(void* owner_handle) {
  HWND owner = static_cast<HWND>(owner_handle);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  static bool registered = false;
  if (!registered) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = AboutWindowProc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    window_class.lpszClassName = kWindowClass;
    registered = RegisterClassA(&window_class) != 0;
  }
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  const DWORD ex_style = WS_EX_DLGMODALFRAME;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  done_ = false;
  HWND window = CreateWindowExA(
      ex_style, kWindowClass, kCaption, style, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
      (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, owner, nullptr, instance, this);
  if (window == nullptr) return;
  window_ = window;
  CreateControls(window);
  // Modal: the owner takes no input while the box is up.
  if (owner != nullptr) EnableWindow(owner, FALSE);
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  SetFocus(GetDlgItem(window, kBitBtn1));
  MSG message;
  while (!done_) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got <= 0) {
      // WM_QUIT belongs to the main loop: hand it back after the box is gone.
      if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (IsDialogMessageA(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (owner != nullptr) EnableWindow(owner, TRUE);
  DestroyWindow(window);
  window_ = nullptr;
  version_label_ = nullptr;
}

long long TfrmAbout::HandleMessage(void* handle, unsigned message, unsigned long long wparam,
                                   long long lparam) {
  HWND window = static_cast<HWND>(handle);
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (id == kBitBtn1 || id == IDCANCEL) {
        done_ = true;
      } else if (id == kLabel8 && code == STN_DBLCLK) {
        OpenAddress(kProductSite);
      } else if (id == kLabel7 && code == STN_DBLCLK) {
        OpenAddress(kLibrarySite);
      } else if (id == kLabel10 && code == STN_CLICKED) {
        FormCreate();
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      // White labels on the white form; the links in blue.
      HDC context = reinterpret_cast<HDC>(wparam);
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lparam));
      SetTextColor(context, id == kLabel8 || id == kLabel7 ? RGB(0, 0, 255) : RGB(0, 0, 0));
      SetBkColor(context, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    case WM_SETCURSOR: {
      // The hand over the links.
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(wparam));
      if (id == kLabel8 || id == kLabel7) {
        SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
        return TRUE;
      }
      return DefWindowProcA(window, message, wparam, lparam);
    }
    case WM_CLOSE:
      done_ = true;
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace shell
