// Conversions between Endpoint and the system's IPv4 socket address, written once for both
// backends: Winsock and POSIX declare the same structure and byte-order functions.
#pragma once

#ifdef _WIN32
// Winsock 2 before windows.h, which would otherwise bring in the old Winsock.
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

#include "platform/endpoint.h"

namespace plat {

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

// The address a socket is bound to (all zero when the system cannot say).
template <typename Socket>
Endpoint LocalEndpointOf(Socket socket) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
#ifdef _WIN32
  int length = sizeof address;
#else
  socklen_t length = sizeof address;
#endif
  getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
  return FromSockaddr(address);
}

}  // namespace plat
