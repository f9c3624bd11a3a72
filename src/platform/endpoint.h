// An IPv4 address and port, the form in which the server keeps and compares peer addresses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plat {

struct Endpoint {
  uint32_t ip = 0;  // host byte order: 127.0.0.1 is 0x7F000001
  uint16_t port = 0;

  bool operator==(const Endpoint&) const = default;
  std::string IpText() const;    // dotted decimal
  std::string ToString() const;  // "a.b.c.d:port"
};

// Parses a dotted IPv4 address; nothing on bad text.
std::optional<uint32_t> ParseIpv4(const std::string& text);
// Parses "a.b.c.d:port" with a port from 0 to 65535; nothing on any other text.
std::optional<Endpoint> ParseEndpoint(const std::string& text);

}  // namespace plat
