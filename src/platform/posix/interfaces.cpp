#include "platform/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/socket_address.h"

namespace plat {

std::optional<bool> IsAddressOfThisMachine(const IpAddress& ip) {
  // The whole 127.0.0.0/8 block is the loopback interface's on Linux, not only 127.0.0.1.
  if (ip.IsUnspecified() || ip.IsLoopback()) return true;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  bool found = false;
  for (ifaddrs* entry = list; entry != nullptr && !found; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    const int family = entry->ifa_addr->sa_family;
    if (family != AF_INET && family != AF_INET6) continue;
    found = FromSockaddr(entry->ifa_addr).ip == ip;
  }
  freeifaddrs(list);
  return found;
}

}  // namespace plat
