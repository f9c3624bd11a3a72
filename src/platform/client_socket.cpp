// The portable part of the client sockets: the host names they accept.
#include "platform/client_socket.h"

#include "platform/host_lookup.h"

namespace plat {

std::optional<IpAddress> ParseClientHost(const std::string& host) {
  if (host == "localhost") return IpAddress::FromIpv4(0x7F000001u);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    return ParseIpAddress(host.substr(1, host.size() - 2));
  return ParseIpAddress(host);
}

std::vector<IpAddress> ResolveHost(const std::string& host, std::string* error) {
  if (std::optional<IpAddress> ip = ParseClientHost(host)) return {*ip};
  std::string reason;
  std::vector<IpAddress> found = LookUpAddresses(host, &reason);
  if (found.empty() && error) *error = host + ": " + reason;
  return found;
}

}  // namespace plat
