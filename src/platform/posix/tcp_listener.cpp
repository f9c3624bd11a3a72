#include "platform/tcp_listener.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <set>

#include "platform/posix/socket_util.h"

namespace plat {

Status TcpListener::BindSocket(const Endpoint& target, int family, NativeHandle* fd_out) {
  int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Status::Error(SocketErrorText("socket", target, errno));
  int yes = 1, no = 0;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (family == AF_INET6 && target.ip.IsUnspecified())
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  SocketAddress address = ToSockaddr(target, family);
  if (bind(fd, address.get(), address.length) != 0 || listen(fd, kBacklog) != 0) {
    std::string error = SocketErrorText("bind", target, errno);
    close(fd);
    return Status::Error(error);
  }
  *fd_out = fd;
  return Status::Ok();
}

uint16_t TcpListener::PortOf(NativeHandle fd) {
  return LocalEndpointOf(static_cast<int>(fd)).port;
}

void TcpListener::CloseSockets() {
  for (NativeHandle open_fd : listen_fds_) close(static_cast<int>(open_fd));
  listen_fds_.clear();
}

Status TcpListener::Activate() {
  if (Status bound = BindAll(); !bound.ok()) return bound;
  wake_fd_ = eventfd(0, EFD_CLOEXEC);
  return StartAccepting();
}

void TcpListener::AcceptLoop() {
  std::vector<pollfd> fds;
  for (NativeHandle fd : listen_fds_) fds.push_back({static_cast<int>(fd), POLLIN, 0});
  fds.push_back({static_cast<int>(wake_fd_), POLLIN, 0});
  for (;;) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds.back().revents & POLLIN) return;  // deactivated
    for (size_t i = 0; i + 1 < fds.size(); ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      SocketAddress peer;
      int fd = accept4(fds[i].fd, peer.get(), &peer.length, SOCK_CLOEXEC);
      if (fd < 0) {
        // Out of descriptors or a connection reset before it was taken: wait a moment.
        if (errno == EMFILE || errno == ENFILE || errno == ENOMEM) poll(nullptr, 0, 50);
        continue;
      }
      int yes = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      StartConnection(fd, FromSockaddr(peer), LocalEndpointOf(fd));
    }
  }
}

void TcpListener::Deactivate(uint32_t wait_ms) {
  if (accept_thread_.joinable()) {
    uint64_t one = 1;
    if (write(wake_fd_, &one, sizeof one) < 0) { /* the thread ends anyway below */
    }
    accept_thread_.join();
  }
  CloseSockets();
  if (wake_fd_ >= 0) close(wake_fd_);
  wake_fd_ = -1;

  CloseConnectionsAndWait(wait_ms);
}

}  // namespace plat
