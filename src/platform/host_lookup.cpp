#include "platform/host_lookup.h"

#include <algorithm>

#ifdef _WIN32
#include "platform/win32/winsock_util.h"
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include "platform/socket_address.h"

namespace plat {
namespace {

std::string LookupFailureText(int status) {
#ifdef _WIN32
  // gai_strerror on Windows writes into one static buffer shared by every thread.
  return SystemErrorText(static_cast<DWORD>(status));
#else
  return gai_strerror(status);
#endif
}

// The distinct addresses of `host` in `family` (AF_INET, or AF_UNSPEC for both), in the
// resolver's order; empty with `reason` set when there are none.
std::vector<IpAddress> Resolve(const std::string& host, int family, const char* none,
                               std::string* reason) {
#ifdef _WIN32
  EnsureWinsock();
#endif
  addrinfo hints{};
  hints.ai_family = family;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  std::vector<IpAddress> addresses;
  for (addrinfo* entry = status == 0 ? found : nullptr; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6) continue;
    const IpAddress address = FromSockaddr(entry->ai_addr).ip;
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end())
      addresses.push_back(address);
  }
  if (addresses.empty() && reason) *reason = status == 0 ? none : LookupFailureText(status);
  if (found != nullptr) freeaddrinfo(found);
  return addresses;
}

}  // namespace

HostLookup LookUpHost(const std::string& host) {
  HostLookup lookup;
  const std::vector<IpAddress> addresses = Resolve(host, AF_INET, "no IPv4 address", &lookup.reason);
  if (!addresses.empty()) lookup.ip = addresses.front().Ipv4();
  return lookup;
}

std::vector<IpAddress> LookUpAddresses(const std::string& host, std::string* reason) {
  return Resolve(host, AF_UNSPEC, "no address", reason);
}

}  // namespace plat
