// The portable part of the client sockets: the host names they accept.
#include "platform/client_socket.h"

#include "platform/host_lookup.h"

namespace plat {

std::optional<uint32_t> ParseClientHost(const std::string& host) {
  if (host == "localhost") return 0x7F000001u;
  return ParseIpv4(host);
}

std::optional<uint32_t> ResolveHost(const std::string& host, std::string* error) {
  if (std::optional<uint32_t> ip = ParseClientHost(host)) return ip;
  HostLookup lookup = LookUpHost(host);
  if (!lookup.ip && error) *error = host + ": " + lookup.reason;
  return lookup.ip;
}

}  // namespace plat
