#include "platform/connection_pair.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plat {

ConnectionPeer::~ConnectionPeer() {
  close(fd_);
}

size_t ConnectionPeer::Write(std::span<const uint8_t> bytes) {
  ssize_t written = send(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  return written < 0 ? 0 : static_cast<size_t>(written);
}

void ConnectionPeer::CloseWrite() {
  shutdown(fd_, SHUT_WR);
}

void ConnectionPeer::Drain() {
  uint8_t buffer[4096];
  while (recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
}

std::optional<ConnectionPair> MakeConnectionPair() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return std::nullopt;
  // Room for a whole fuzz input, so the writer never waits for the reader.
  int buffer_bytes = 1 << 20;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &buffer_bytes, sizeof buffer_bytes);
  setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &buffer_bytes, sizeof buffer_bytes);
  ConnectionPair pair;
  pair.server_side = std::make_shared<TcpConnection>(fds[0], Endpoint::Ipv4(0x7F000001, 40000),
                                                     Endpoint::Ipv4(0x7F000001, 8765));
  pair.peer = std::make_unique<ConnectionPeer>(fds[1]);
  return pair;
}

}  // namespace plat
