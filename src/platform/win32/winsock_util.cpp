#include "platform/win32/winsock_util.h"

#include <mutex>

namespace plat {

void EnsureWinsock() {
  static std::once_flag started;
  std::call_once(started, [] {
    WSADATA data;
    // Never paired with WSACleanup: sockets live until the process ends.
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

std::string SystemErrorText(DWORD error) {
  char* text = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (length > 0 && text != nullptr) {
    result.assign(text, length);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                               result.back() == ' ' || result.back() == '.')) {
      result.pop_back();
    }
  }
  if (text != nullptr) LocalFree(text);
  if (result.empty()) result = "error " + std::to_string(error);
  return result;
}

std::string SocketErrorText(const char* call, Endpoint endpoint, int error) {
  return std::string(call) + "(" + endpoint.ToString() +
         "): " + SystemErrorText(static_cast<DWORD>(error));
}

bool MakeNonBlocking(SOCKET socket) {
  u_long yes = 1;
  return ioctlsocket(socket, FIONBIO, &yes) == 0;
}

}  // namespace plat
