#include "platform/endpoint.h"

namespace plat {

std::string Endpoint::IpText() const {
  return ip.Text();
}

std::string Endpoint::ToString() const {
  const std::string port_text = ":" + std::to_string(port);
  return ip.IsIpv4() ? ip.Text() + port_text : "[" + ip.Text() + "]" + port_text;
}

std::optional<Endpoint> ParseEndpoint(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) return std::nullopt;
  std::string host = text.substr(0, colon);
  std::optional<IpAddress> ip;
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    ip = ParseIpAddress(host.substr(1, host.size() - 2));
    if (ip && ip->IsIpv4() && host.find(':') == std::string::npos) ip.reset();  // "[1.2.3.4]"
  } else if (host.find(':') == std::string::npos) {
    ip = ParseIpAddress(host);
  }
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
