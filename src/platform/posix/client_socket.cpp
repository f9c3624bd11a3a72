#include "platform/client_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>


#include "platform/clock.h"
#include "platform/posix/socket_util.h"

namespace plat {
namespace {

// Waits for `events` on fd; false on time-out.
bool WaitFor(int fd, short events, int timeout_ms, short* revents) {
  pollfd entry{fd, events, 0};
  for (;;) {
    int ready = poll(&entry, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    *revents = ready > 0 ? entry.revents : 0;
    return ready > 0;
  }
}

// The TOS byte the message's control part carries, where it carries one.
void ReadTrafficClass(msghdr& message, uint8_t* traffic_class) {
  for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
       part = CMSG_NXTHDR(&message, part)) {
    if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_TOS) {
      std::memcpy(traffic_class, CMSG_DATA(part), 1);
    } else if (part->cmsg_level == IPPROTO_IPV6 && part->cmsg_type == IPV6_TCLASS) {
      int value = 0;  // an int, unlike IP_TOS's byte
      std::memcpy(&value, CMSG_DATA(part), sizeof value);
      *traffic_class = static_cast<uint8_t>(value);
    }
  }
}

}  // namespace

std::unique_ptr<TcpClientSocket> TcpClientSocket::Connect(Endpoint to,
                                                          const TcpClientOptions& options,
                                                          std::string* error) {
  int fd = socket(FamilyOf(to), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = SocketErrorText("socket", to, errno);
    return nullptr;
  }
  if (options.receive_buffer_bytes > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options.receive_buffer_bytes,
               sizeof options.receive_buffer_bytes);
  }
  if (options.no_delay) {
    int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  }
  if (options.local_ip != 0 && to.ip.IsIpv4()) {
#ifdef IP_BIND_ADDRESS_NO_PORT
    // The port is picked at connect, knowing the destination: many connections from one local
    // address do not run out of ports.
    int yes = 1;
    setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &yes, sizeof yes);
#endif
    const Endpoint from = Endpoint::Ipv4(options.local_ip, 0);
    SocketAddress local = ToSockaddr(from);
    if (bind(fd, local.get(), local.length) != 0) {
      if (error) *error = SocketErrorText("bind", from, errno);
      close(fd);
      return nullptr;
    }
  }
  SocketAddress address = ToSockaddr(to);
  int result = connect(fd, address.get(), address.length);
  if (result != 0 && errno != EINPROGRESS) {
    if (error) *error = SocketErrorText("connect", to, errno);
    close(fd);
    return nullptr;
  }
  if (result != 0) {
    short revents = 0;
    if (!WaitFor(fd, POLLOUT, options.connect_timeout_ms, &revents)) {
      if (error) *error = SocketErrorText("connect", to, ETIMEDOUT);
      close(fd);
      return nullptr;
    }
    int failure = 0;
    socklen_t length = sizeof failure;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length);
    if (failure != 0) {
      if (error) *error = SocketErrorText("connect", to, failure);
      close(fd);
      return nullptr;
    }
  }
  return std::unique_ptr<TcpClientSocket>(new TcpClientSocket(fd, LocalEndpointOf(fd)));
}

TcpClientSocket::~TcpClientSocket() {
  close(fd_);
}

IoStatus TcpClientSocket::SendAll(const uint8_t* data, size_t size, int timeout_ms) {
  uint32_t started = TickCount();
  size_t offset = 0;
  while (offset < size) {
    ssize_t sent = send(fd_, data + offset, size - offset, MSG_NOSIGNAL);
    if (sent > 0) {
      offset += static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      short revents = 0;
      if (!WaitFor(fd_, POLLOUT, RemainingMs(started, timeout_ms), &revents))
        return IoStatus::kTimeout;
      continue;
    }
    return errno == EPIPE || errno == ECONNRESET ? IoStatus::kClosed : IoStatus::kError;
  }
  return IoStatus::kOk;
}

IoStatus TcpClientSocket::Receive(uint8_t* buffer, size_t size, int timeout_ms, size_t* received) {
  uint32_t started = TickCount();
  for (;;) {
    ssize_t got = recv(fd_, buffer, size, 0);
    if (got > 0) {
      *received = static_cast<size_t>(got);
      return IoStatus::kOk;
    }
    if (got == 0) return IoStatus::kClosed;
    if (errno == EINTR) continue;
    if (errno == ECONNRESET) return IoStatus::kClosed;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::kError;
    short revents = 0;
    if (!WaitFor(fd_, POLLIN, RemainingMs(started, timeout_ms), &revents))
      return IoStatus::kTimeout;
  }
}

void TcpClientSocket::ShutdownWrite() {
  shutdown(fd_, SHUT_WR);
}

std::unique_ptr<UdpClientSocket> UdpClientSocket::Bind(Endpoint local, std::string* error) {
  int fd = socket(FamilyOf(local), SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    if (error) *error = SocketErrorText("socket", local, errno);
    return nullptr;
  }
  SocketAddress address = ToSockaddr(local);
  if (bind(fd, address.get(), address.length) != 0) {
    if (error) *error = SocketErrorText("bind", local, errno);
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<UdpClientSocket>(new UdpClientSocket(fd, LocalEndpointOf(fd)));
}

UdpClientSocket::~UdpClientSocket() {
  close(fd_);
}

bool UdpClientSocket::ReportTrafficClass() {
  int yes = 1;
  if (FamilyOf(local_) == AF_INET6)
    return setsockopt(fd_, IPPROTO_IPV6, IPV6_RECVTCLASS, &yes, sizeof yes) == 0;
  return setsockopt(fd_, IPPROTO_IP, IP_RECVTOS, &yes, sizeof yes) == 0;
}

bool UdpClientSocket::SendTo(const uint8_t* data, size_t size, Endpoint to) {
  SocketAddress address = ToSockaddr(to, FamilyOf(local_));
  ssize_t sent;
  do {
    sent = sendto(fd_, data, size, MSG_NOSIGNAL, address.get(), address.length);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size);
}

IoStatus UdpClientSocket::Receive(uint8_t* buffer, size_t size, int timeout_ms, size_t* received,
                                  Endpoint* from) {
  uint32_t started = TickCount();
  for (;;) {
    SocketAddress source;
    iovec vector{buffer, size};
    alignas(cmsghdr) uint8_t control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_name = source.get();
    message.msg_namelen = source.length;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t got = recvmsg(fd_, &message, 0);
    if (got >= 0) {
      *received = static_cast<size_t>(got);
      if (from) *from = FromSockaddr(source);
      ReadTrafficClass(message, &last_traffic_class_);
      return IoStatus::kOk;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return IoStatus::kError;
    short revents = 0;
    if (!WaitFor(fd_, POLLIN, RemainingMs(started, timeout_ms), &revents))
      return IoStatus::kTimeout;
  }
}

}  // namespace plat
