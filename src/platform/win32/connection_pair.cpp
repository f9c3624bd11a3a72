// Windows has no socketpair: the pair is a loopback TCP connection made through a listener on a
// free port that is closed again at once.
#include "platform/connection_pair.h"

#include "platform/win32/winsock_util.h"

namespace plat {

ConnectionPeer::~ConnectionPeer() {
  closesocket(AsSocket(fd_));
}

size_t ConnectionPeer::Write(std::span<const uint8_t> bytes) {
  int written = send(AsSocket(fd_), reinterpret_cast<const char*>(bytes.data()),
                     static_cast<int>(bytes.size()), 0);
  return written < 0 ? 0 : static_cast<size_t>(written);
}

void ConnectionPeer::CloseWrite() {
  shutdown(AsSocket(fd_), SD_SEND);
}

void ConnectionPeer::Drain() {
  char buffer[4096];
  while (recv(AsSocket(fd_), buffer, sizeof buffer, 0) > 0) {
  }
}

std::optional<ConnectionPair> MakeConnectionPair() {
  EnsureWinsock();
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return std::nullopt;
  SocketAddress address = ToSockaddr(Endpoint::Ipv4(INADDR_LOOPBACK, 0));
  SOCKET client = INVALID_SOCKET;
  SOCKET server = INVALID_SOCKET;
  if (bind(listener, address.get(), address.length) == 0 && listen(listener, 1) == 0 &&
      getsockname(listener, address.get(), &address.length) == 0) {
    client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client != INVALID_SOCKET && connect(client, address.get(), address.length) == 0) {
      server = accept(listener, nullptr, nullptr);
    }
  }
  closesocket(listener);
  if (server == INVALID_SOCKET) {
    if (client != INVALID_SOCKET) closesocket(client);
    return std::nullopt;
  }
  // Room for a whole fuzz input, so the writer never waits for the reader.
  int buffer_bytes = 1 << 20;
  setsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer_bytes),
             sizeof buffer_bytes);
  setsockopt(server, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer_bytes),
             sizeof buffer_bytes);
  MakeNonBlocking(client);
  ConnectionPair pair;
  pair.server_side = std::make_shared<TcpConnection>(
      AsHandle(server), Endpoint::Ipv4(0x7F000001, 40000), Endpoint::Ipv4(0x7F000001, 8765));
  pair.peer = std::make_unique<ConnectionPeer>(AsHandle(client));
  return pair;
}

}  // namespace plat
