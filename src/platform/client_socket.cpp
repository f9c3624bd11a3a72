// The portable part of the client sockets: the host names they accept.
#include "platform/client_socket.h"

namespace plat {

std::optional<uint32_t> ParseClientHost(const std::string& host) {
  if (host == "localhost") return 0x7F000001u;
  return ParseIpv4(host);
}

}  // namespace plat
