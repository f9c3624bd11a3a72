#include "platform/client_socket.h"

#include "platform/clock.h"
#include "platform/win32/winsock_util.h"

namespace plat {
namespace {

// Waits until the socket is readable (or writable, when `write`); false on time-out. A failed
// connect counts as ready, so the caller sees its error.
bool WaitFor(SOCKET fd, bool write, int timeout_ms) {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(fd, &ready);
  FD_SET(fd, &failed);
  timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &wait) > 0;
}

}  // namespace

std::unique_ptr<TcpClientSocket> TcpClientSocket::Connect(Endpoint to,
                                                          const TcpClientOptions& options,
                                                          std::string* error) {
  EnsureWinsock();
  SOCKET fd =
      WSASocketW(FamilyOf(to), SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (fd == INVALID_SOCKET) {
    if (error) *error = SocketErrorText("socket", to, WSAGetLastError());
    return nullptr;
  }
  MakeNonBlocking(fd);
  if (options.receive_buffer_bytes > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF,
               reinterpret_cast<const char*>(&options.receive_buffer_bytes),
               sizeof options.receive_buffer_bytes);
  }
  if (options.no_delay) {
    BOOL yes = TRUE;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
  }
  if (options.local_ip != 0 && to.ip.IsIpv4()) {
    const Endpoint from = Endpoint::Ipv4(options.local_ip, 0);
    SocketAddress local = ToSockaddr(from);
    if (bind(fd, local.get(), local.length) != 0) {
      if (error) *error = SocketErrorText("bind", from, WSAGetLastError());
      closesocket(fd);
      return nullptr;
    }
  }
  SocketAddress address = ToSockaddr(to);
  if (connect(fd, address.get(), address.length) != 0) {
    int failure = WSAGetLastError();
    if (failure != WSAEWOULDBLOCK) {
      if (error) *error = SocketErrorText("connect", to, failure);
      closesocket(fd);
      return nullptr;
    }
    if (!WaitFor(fd, true, options.connect_timeout_ms)) {
      if (error) *error = SocketErrorText("connect", to, WSAETIMEDOUT);
      closesocket(fd);
      return nullptr;
    }
    failure = 0;
    int length = sizeof failure;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &length);
    if (failure != 0) {
      if (error) *error = SocketErrorText("connect", to, failure);
      closesocket(fd);
      return nullptr;
    }
  }
  return std::unique_ptr<TcpClientSocket>(new TcpClientSocket(AsHandle(fd), LocalEndpointOf(fd)));
}

TcpClientSocket::~TcpClientSocket() {
  closesocket(AsSocket(fd_));
}

IoStatus TcpClientSocket::SendAll(const uint8_t* data, size_t size, int timeout_ms) {
  uint32_t started = TickCount();
  size_t offset = 0;
  while (offset < size) {
    int sent = send(AsSocket(fd_), reinterpret_cast<const char*>(data + offset),
                    static_cast<int>(std::min<size_t>(size - offset, 1 << 20)), 0);
    if (sent > 0) {
      offset += static_cast<size_t>(sent);
      continue;
    }
    int error = WSAGetLastError();
    if (sent < 0 && error == WSAEWOULDBLOCK) {
      if (!WaitFor(AsSocket(fd_), true, RemainingMs(started, timeout_ms)))
        return IoStatus::kTimeout;
      continue;
    }
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN
               ? IoStatus::kClosed
               : IoStatus::kError;
  }
  return IoStatus::kOk;
}

IoStatus TcpClientSocket::Receive(uint8_t* buffer, size_t size, int timeout_ms, size_t* received) {
  uint32_t started = TickCount();
  for (;;) {
    int got = recv(AsSocket(fd_), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (got > 0) {
      *received = static_cast<size_t>(got);
      return IoStatus::kOk;
    }
    if (got == 0) return IoStatus::kClosed;
    int error = WSAGetLastError();
    if (error == WSAECONNRESET || error == WSAECONNABORTED) return IoStatus::kClosed;
    if (error != WSAEWOULDBLOCK) return IoStatus::kError;
    if (!WaitFor(AsSocket(fd_), false, RemainingMs(started, timeout_ms))) return IoStatus::kTimeout;
  }
}

void TcpClientSocket::ShutdownWrite() {
  shutdown(AsSocket(fd_), SD_SEND);
}

std::unique_ptr<UdpClientSocket> UdpClientSocket::Bind(Endpoint local, std::string* error) {
  EnsureWinsock();
  SOCKET fd =
      WSASocketW(FamilyOf(local), SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (fd == INVALID_SOCKET) {
    if (error) *error = SocketErrorText("socket", local, WSAGetLastError());
    return nullptr;
  }
  MakeNonBlocking(fd);
  SocketAddress address = ToSockaddr(local);
  if (bind(fd, address.get(), address.length) != 0) {
    if (error) *error = SocketErrorText("bind", local, WSAGetLastError());
    closesocket(fd);
    return nullptr;
  }
  return std::unique_ptr<UdpClientSocket>(new UdpClientSocket(AsHandle(fd), LocalEndpointOf(fd)));
}

UdpClientSocket::~UdpClientSocket() {
  closesocket(AsSocket(fd_));
}

// Receiving the TOS byte needs WSARecvMsg; the Windows build's clients do without it.
bool UdpClientSocket::ReportTrafficClass() {
  return false;
}

bool UdpClientSocket::SendTo(const uint8_t* data, size_t size, Endpoint to) {
  SocketAddress address = ToSockaddr(to, FamilyOf(local_));
  int sent = sendto(AsSocket(fd_), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                    address.get(), address.length);
  return sent == static_cast<int>(size);
}

IoStatus UdpClientSocket::Receive(uint8_t* buffer, size_t size, int timeout_ms, size_t* received,
                                  Endpoint* from) {
  uint32_t started = TickCount();
  for (;;) {
    SocketAddress source;
    int got = recvfrom(AsSocket(fd_), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0,
                       source.get(), &source.length);
    if (got >= 0) {
      *received = static_cast<size_t>(got);
      if (from) *from = FromSockaddr(source);
      return IoStatus::kOk;
    }
    int error = WSAGetLastError();
    // A port-unreachable answer to an earlier datagram: not this socket's failure.
    if (error == WSAECONNRESET) continue;
    if (error != WSAEWOULDBLOCK) return IoStatus::kError;
    if (!WaitFor(AsSocket(fd_), false, RemainingMs(started, timeout_ms))) return IoStatus::kTimeout;
  }
}

}  // namespace plat
