#include "platform/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace plat {

std::optional<bool> IsAddressOfThisMachine(uint32_t ip) {
  // The whole 127.0.0.0/8 block is the loopback interface's on Linux, not only 127.0.0.1.
  if (ip == 0 || (ip >> 24) == 127) return true;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  bool found = false;
  for (ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
    found = ntohl(address->sin_addr.s_addr) == ip;
  }
  freeifaddrs(list);
  return found;
}

}  // namespace plat
