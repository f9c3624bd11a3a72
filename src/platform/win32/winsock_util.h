// Winsock for the Win32 backend: the one-time start-up, conversions between Endpoint and the
// socket address, and error texts.
#pragma once

// Winsock 2 before windows.h, which would otherwise bring in the old Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/endpoint.h"
#include "platform/native_handle.h"

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

inline sockaddr_in ToSockaddr(Endpoint endpoint) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(endpoint.ip);
  address.sin_port = htons(endpoint.port);
  return address;
}

inline Endpoint FromSockaddr(const sockaddr_in& address) {
  return Endpoint{ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

// The system's text of a Winsock or Win32 error number.
std::string SystemErrorText(DWORD error);
std::string SocketErrorText(const char* call, Endpoint endpoint, int error);

// Puts the socket into non-blocking mode; false on failure.
bool MakeNonBlocking(SOCKET socket);

}  // namespace plat
