// Conversions between Endpoint and the system's socket addresses, written once for both
// backends: Winsock and POSIX declare the same structures and byte-order functions.
//
// A socket of the IPv6 family that also takes IPv4 (dual-stack) names an IPv4 peer by its
// IPv4-mapped address, the form Endpoint holds it in; a socket of the IPv4 family takes
// sockaddr_in.
#pragma once

#ifdef _WIN32
// Winsock 2 before windows.h, which would otherwise bring in the old Winsock.
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstring>

#include "platform/endpoint.h"

namespace plat {

#ifdef _WIN32
using SocketLength = int;
#else
using SocketLength = socklen_t;
#endif

// Room for either family's address; `length` is the part in use.
struct SocketAddress {
  union Any {
    sockaddr_in in;
    sockaddr_in6 in6;
  } any;
  SocketLength length = sizeof(Any);

  sockaddr* get() { return reinterpret_cast<sockaddr*>(&any); }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&any); }
};

// The family a socket needs to reach `endpoint` on its own: AF_INET for IPv4, AF_INET6 for IPv6.
inline int FamilyOf(const Endpoint& endpoint) {
  return endpoint.ip.IsIpv4() ? AF_INET : AF_INET6;
}

// `endpoint` as a socket of `family` names it: an IPv4 endpoint on an AF_INET6 socket becomes
// its IPv4-mapped address.
inline SocketAddress ToSockaddr(const Endpoint& endpoint, int family) {
  SocketAddress address;
  if (family == AF_INET && endpoint.ip.IsIpv4()) {
    sockaddr_in& in = address.any.in;
    std::memset(&in, 0, sizeof in);
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(endpoint.ip.Ipv4());
    in.sin_port = htons(endpoint.port);
    address.length = sizeof in;
    return address;
  }
  sockaddr_in6& in6 = address.any.in6;
  std::memset(&in6, 0, sizeof in6);
  in6.sin6_family = AF_INET6;
  std::memcpy(&in6.sin6_addr, endpoint.ip.bytes.data(), 16);
  in6.sin6_port = htons(endpoint.port);
  address.length = sizeof in6;
  return address;
}

inline SocketAddress ToSockaddr(const Endpoint& endpoint) {
  return ToSockaddr(endpoint, FamilyOf(endpoint));
}

// The endpoint a sockaddr_in or sockaddr_in6 names; 0.0.0.0:0 for any other family.
inline Endpoint FromSockaddr(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    sockaddr_in in;
    std::memcpy(&in, address, sizeof in);
    return Endpoint::Ipv4(ntohl(in.sin_addr.s_addr), ntohs(in.sin_port));
  }
  if (address->sa_family == AF_INET6) {
    sockaddr_in6 in6;
    std::memcpy(&in6, address, sizeof in6);
    Endpoint endpoint;
    std::memcpy(endpoint.ip.bytes.data(), &in6.sin6_addr, 16);
    endpoint.port = ntohs(in6.sin6_port);
    return endpoint;
  }
  return Endpoint{};
}

inline Endpoint FromSockaddr(const SocketAddress& address) {
  return FromSockaddr(address.get());
}

// The address a socket is bound to (0.0.0.0:0 when the system cannot say).
template <typename Socket>
Endpoint LocalEndpointOf(Socket socket) {
  SocketAddress address;
  std::memset(&address.any, 0, sizeof address.any);
  if (getsockname(socket, address.get(), &address.length) != 0) return Endpoint{};
  return FromSockaddr(address);
}

}  // namespace plat
