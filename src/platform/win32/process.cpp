#include "platform/process.h"

#include <windows.h>

#include <shellapi.h>

#include <cstring>

#include "platform/win32/wide_text.h"

namespace plat {
namespace {

// Signalled by the console's close events (Ctrl-C, Ctrl-Break, closing the console, log-off,
// shut-down): the Windows counterpart of the termination signals.
HANDLE TerminationEvent() {
  static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
  SetEvent(TerminationEvent());
  // Handled: the process ends through its own shutdown. Windows ends it anyway a few seconds
  // after a close, log-off or shut-down event.
  return TRUE;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int, char**) {
  // The narrow argv holds the arguments in the ANSI code page, where a name like Räume.ini may
  // not even be representable; the wide command line has them as typed.
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Narrowed(wide[i]));
  LocalFree(wide);
  return arguments;
}

std::string ProgramFilePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return Narrowed(path);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

PriorityResult RaiseProcessPriority() {
  if (SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS)) return PriorityResult::kRaised;
  return GetLastError() == ERROR_ACCESS_DENIED ? PriorityResult::kNotPermitted
                                               : PriorityResult::kFailed;
}

PriorityResult RaiseCurrentThreadPriority() {
  if (SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST))
    return PriorityResult::kRaised;
  return GetLastError() == ERROR_ACCESS_DENIED ? PriorityResult::kNotPermitted
                                               : PriorityResult::kFailed;
}

std::optional<bool> TopLevelWindowExists(const char* window_class, const char* title) {
  // FindWindow compares the title without regard to case.
  return FindWindowA(window_class, title) != nullptr;
}

bool StdinIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// The Windows shell is the tray icon: it never reads keys from a console.
bool StdinIsForegroundTerminal() {
  return false;
}

std::string EnvironmentVariable(const char* name) {
  DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size == 0) return {};
  std::string value(size, '\0');
  DWORD length = GetEnvironmentVariableA(name, value.data(), size);
  if (length == 0 || length >= size) return {};
  value.resize(length);
  return value;
}

void BlockTerminationSignals() {
  TerminationEvent();
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

ShellInput WaitForSignalOrKey(StdinWatch, int timeout_ms) {
  DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
  if (WaitForSingleObject(TerminationEvent(), wait) == WAIT_OBJECT_0) {
    return {ShellEvent::kTerminationSignal, 0};
  }
  return {};
}

// Keys are never read on Windows, so the console keeps its modes.
RawTerminal::RawTerminal() {
  std::memset(saved_, 0, sizeof saved_);
}
RawTerminal::~RawTerminal() = default;

bool ReadSecretLine(const std::string& prompt, std::string* line) {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!GetConsoleMode(input, &saved)) return false;
  SetConsoleMode(input, (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), prompt.data(), static_cast<DWORD>(prompt.size()),
            &written, nullptr);
  line->clear();
  bool complete = false;
  char c = 0;
  DWORD got = 0;
  while (ReadFile(input, &c, 1, &got, nullptr) && got == 1) {
    if (c == '\n') {
      complete = true;
      break;
    }
    if (c != '\r') line->push_back(c);
  }
  SetConsoleMode(input, saved);
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\r\n", 2, &written, nullptr);
  return complete;
}

void ExitProcessNow(int code) {
  ExitProcess(static_cast<UINT>(code));
}

}  // namespace plat
