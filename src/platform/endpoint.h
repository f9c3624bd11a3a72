// An address and port, the form in which the server keeps and compares peer addresses. IPv4 is
// held IPv4-mapped (see ip_address.h), so a peer has one value on either kind of socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ip_address.h"

namespace plat {

struct Endpoint {
  IpAddress ip = IpAddress::FromIpv4(0);
  uint16_t port = 0;

  Endpoint() = default;
  Endpoint(const IpAddress& address, uint16_t port_number) : ip(address), port(port_number) {}
  // An IPv4 endpoint from the address in host order (127.0.0.1 is 0x7F000001).
  Endpoint(uint32_t ipv4, uint16_t port_number)
      : ip(IpAddress::FromIpv4(ipv4)), port(port_number) {}
  static Endpoint Ipv4(uint32_t ip, uint16_t port) { return {ip, port}; }
  bool operator==(const Endpoint&) const = default;
  std::string IpText() const;    // dotted decimal for IPv4, the IPv6 text without brackets
  std::string ToString() const;  // "a.b.c.d:port" or "[2001:db8::1]:port"
};

// Parses "a.b.c.d:port" or "[IPv6]:port" with a port from 0 to 65535; nothing on any other text.
std::optional<Endpoint> ParseEndpoint(const std::string& text);

}  // namespace plat
