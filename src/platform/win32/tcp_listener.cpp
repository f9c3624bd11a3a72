#include "platform/tcp_listener.h"

#include <chrono>
#include <set>

#include "platform/win32/winsock_util.h"

namespace plat {
namespace {

HANDLE AsEvent(NativeHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

Status TcpListener::BindSocket(const Endpoint& target, int family, NativeHandle* fd_out) {
  EnsureWinsock();
  SOCKET fd = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (fd == INVALID_SOCKET)
    return Status::Error(SocketErrorText("socket", target, WSAGetLastError()));
  // A port another program holds is an error here, as it is elsewhere: never share it.
  BOOL yes = TRUE;
  setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
  if (family == AF_INET6 && target.ip.IsUnspecified()) {
    DWORD no = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&no), sizeof no);
  }
  SocketAddress address = ToSockaddr(target, family);
  if (bind(fd, address.get(), address.length) != 0 || listen(fd, kBacklog) != 0) {
    std::string error = SocketErrorText("bind", target, WSAGetLastError());
    closesocket(fd);
    return Status::Error(error);
  }
  *fd_out = AsHandle(fd);
  return Status::Ok();
}

uint16_t TcpListener::PortOf(NativeHandle fd) {
  return LocalEndpointOf(AsSocket(fd)).port;
}

void TcpListener::CloseSockets() {
  for (NativeHandle open_fd : listen_fds_) closesocket(AsSocket(open_fd));
  listen_fds_.clear();
}

Status TcpListener::Activate() {
  if (Status bound = BindAll(); !bound.ok()) return bound;
  wake_fd_ = reinterpret_cast<NativeHandle>(WSACreateEvent());
  return StartAccepting();
}

void TcpListener::AcceptLoop() {
  // One event per listening socket, then the wake-up event last.
  std::vector<WSAEVENT> events;
  for (NativeHandle fd : listen_fds_) {
    WSAEVENT event = WSACreateEvent();
    WSAEventSelect(AsSocket(fd), event, FD_ACCEPT);
    events.push_back(event);
  }
  events.push_back(AsEvent(wake_fd_));
  for (;;) {
    DWORD which = WSAWaitForMultipleEvents(static_cast<DWORD>(events.size()), events.data(), FALSE,
                                           WSA_INFINITE, FALSE);
    if (which == WSA_WAIT_FAILED || which == WSA_WAIT_EVENT_0 + events.size() - 1) break;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
      WSANETWORKEVENTS happened{};
      if (WSAEnumNetworkEvents(AsSocket(listen_fds_[i]), events[i], &happened) != 0) continue;
      if (!(happened.lNetworkEvents & FD_ACCEPT)) continue;
      // Take every connection that is waiting; FD_ACCEPT is posted again after each accept.
      for (;;) {
        SocketAddress peer;
        SOCKET fd = accept(AsSocket(listen_fds_[i]), peer.get(), &peer.length);
        if (fd == INVALID_SOCKET) {
          int error = WSAGetLastError();
          // Out of sockets or memory: wait a moment before the next try.
          if (error == WSAEMFILE || error == WSAENOBUFS) Sleep(50);
          break;
        }
        SetHandleInformation(reinterpret_cast<HANDLE>(fd), HANDLE_FLAG_INHERIT, 0);
        BOOL yes = TRUE;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
        StartConnection(AsHandle(fd), FromSockaddr(peer), LocalEndpointOf(fd));
      }
    }
  }
  for (size_t i = 0; i + 1 < events.size(); ++i) WSACloseEvent(events[i]);
}

void TcpListener::Deactivate(uint32_t wait_ms) {
  if (accept_thread_.joinable()) {
    WSASetEvent(AsEvent(wake_fd_));
    accept_thread_.join();
  }
  CloseSockets();
  if (wake_fd_ != kNoHandle) WSACloseEvent(AsEvent(wake_fd_));
  wake_fd_ = kNoHandle;

  CloseConnectionsAndWait(wait_ms);
}

}  // namespace plat
