// Addresses for the tests, written the way the tests think of them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/client_socket.h"
#include "platform/ip_address.h"

namespace pltest {

// An IPv4 address from its host-order value (127.0.0.1 is 0x7F000001).
inline plat::IpAddress V4(uint32_t ip) {
  return plat::IpAddress::FromIpv4(ip);
}

// An address or block from its text ("::1", "2001:db8::/48"); the test's own text is valid.
inline plat::IpAddress Ip(const std::string& text) {
  return plat::ParseIpAddress(text).value();
}
inline plat::IpPrefix Block(const std::string& text) {
  return plat::ParseIpPrefix(text).value();
}

// Whether this host has ::1 (a host or container may run without IPv6): the IPv6 tests skip
// where it has not.
inline bool HasIpv6Loopback() {
  return plat::UdpClientSocket::Bind({Ip("::1"), 0}, nullptr) != nullptr;
}

}  // namespace pltest
