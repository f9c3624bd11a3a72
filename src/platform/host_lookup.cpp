#include "platform/host_lookup.h"

#ifdef _WIN32
#include "platform/win32/winsock_util.h"
#else
#include <netdb.h>
#include <sys/socket.h>

#include "platform/socket_address.h"
#endif

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

}  // namespace

HostLookup LookUpHost(const std::string& host) {
#ifdef _WIN32
  EnsureWinsock();
#endif
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  HostLookup lookup;
  if (status == 0 && found != nullptr)
    lookup.ip = FromSockaddr(*reinterpret_cast<const sockaddr_in*>(found->ai_addr)).ip;
  else
    lookup.reason = status == 0 ? "no IPv4 address" : LookupFailureText(status);
  if (found != nullptr) freeaddrinfo(found);
  return lookup;
}

}  // namespace plat
