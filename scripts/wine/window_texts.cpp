// For the Windows check under Wine: prints the texts of the child controls of the top-level
// window of class argv[1] titled argv[2], one per line in brackets (so trailing blanks show).
// Exit code 1 when there is no such window.
#include <windows.h>

#include <cstdio>

namespace {

BOOL CALLBACK PrintText(HWND control, LPARAM) {
  char text[512] = {};
  GetWindowTextA(control, text, sizeof text);
  std::printf("[%s]\n", text);
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: window_texts <window class> <title>\n");
    return 2;
  }
  HWND window = FindWindowA(argv[1], argv[2]);
  if (window == nullptr) return 1;
  EnumChildWindows(window, PrintText, 0);
  return 0;
}
