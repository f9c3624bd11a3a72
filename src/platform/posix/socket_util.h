// Conversions between Endpoint and the POSIX socket address.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <string>

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

std::string SocketErrorText(const char* call, Endpoint endpoint, int error);

}  // namespace plat
