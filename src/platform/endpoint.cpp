#include "platform/endpoint.h"

#include <cstdio>

namespace plat {

std::string Endpoint::IpText() const {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (ip >> 24) & 0xFF, (ip >> 16) & 0xFF,
                (ip >> 8) & 0xFF, ip & 0xFF);
  return text;
}

std::string Endpoint::ToString() const {
  return IpText() + ":" + std::to_string(port);
}

std::optional<uint32_t> ParseIpv4(const std::string& text) {
  uint32_t result = 0;
  int parts = 0;
  size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return std::nullopt;
    uint32_t part = 0;
    int digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      part = part * 10 + static_cast<uint32_t>(text[i] - '0');
      if (++digits > 3 || part > 255) return std::nullopt;
      ++i;
    }
    result = (result << 8) | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return result;
}

std::optional<Endpoint> ParseEndpoint(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  std::optional<uint32_t> ip = ParseIpv4(text.substr(0, colon));
  const std::string port_text = text.substr(colon + 1);
  if (!ip || port_text.empty() || port_text.size() > 5) return std::nullopt;
  uint32_t port = 0;
  for (char c : port_text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<uint32_t>(c - '0');
  }
  if (port > 65535) return std::nullopt;
  return Endpoint{*ip, static_cast<uint16_t>(port)};
}

}  // namespace plat
