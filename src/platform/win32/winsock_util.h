// Winsock for the Win32 backend: the one-time start-up, handle conversions (the socket address
// conversions are in socket_address.h) and error texts.
#pragma once

// Winsock 2 before windows.h, which would otherwise bring in the old Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/endpoint.h"
#include "platform/native_handle.h"
#include "platform/socket_address.h"

namespace plat {

// Starts Winsock 2.2 the first time it is called; later calls do nothing. Every function that
// creates a socket calls it first.
void EnsureWinsock();

inline SOCKET AsSocket(NativeHandle handle) {
  return static_cast<SOCKET>(handle);
}
inline NativeHandle AsHandle(SOCKET socket) {
  return static_cast<NativeHandle>(socket);
}

// The system's text of a Winsock or Win32 error number.
std::string SystemErrorText(DWORD error);
std::string SocketErrorText(const char* call, Endpoint endpoint, int error);

// Puts the socket into non-blocking mode; false on failure.
bool MakeNonBlocking(SOCKET socket);

}  // namespace plat
