#include "platform/udp_socket.h"

#include <algorithm>
#include <exception>

#include "platform/thread_start.h"
#include "platform/win32/winsock_util.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace plat {

UdpListener::UdpListener() = default;

UdpListener::~UdpListener() {
  Deactivate();
}

Status UdpListener::Activate() {
  EnsureWinsock();
  Endpoint target = bindings_.empty() ? Endpoint{INADDR_ANY, default_port_} : bindings_.front();
  SOCKET fd = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (fd == INVALID_SOCKET)
    return Status::Error(SocketErrorText("socket", target, WSAGetLastError()));
  BOOL yes = TRUE;
  setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
  sockaddr_in address = ToSockaddr(target);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::string error = SocketErrorText("bind", target, WSAGetLastError());
    closesocket(fd);
    return Status::Error(error);
  }
  bound_ = LocalEndpointOf(fd);
  bound_port_ = bound_.port;
  // A datagram to a client that has gone would otherwise make the next receive fail with a
  // connection reset (the port-unreachable answer of the peer's host).
  BOOL no = FALSE;
  DWORD returned = 0;
  WSAIoctl(fd, SIO_UDP_CONNRESET, &no, sizeof no, nullptr, 0, &returned, nullptr, nullptr);
  // Voice arrives in bursts from many speakers; a larger buffer rides them out.
  int buffer_bytes = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer_bytes),
             sizeof buffer_bytes);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer_bytes),
             sizeof buffer_bytes);
  // The listener re-checks its stop flag at least this often.
  DWORD wait_ms = 200;
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait_ms), sizeof wait_ms);
  stopping_ = false;
  fd_ = AsHandle(fd);
  if (Status error = StartThread(thread_, "UDP listener", [this] { ListenLoop(); }); !error.ok()) {
    Deactivate();  // the socket is not left bound without its thread
    return error;
  }
  return Status::Ok();
}

void UdpListener::ListenLoop() {
  SOCKET fd = AsSocket(fd_.load());
  std::vector<uint8_t> buffer(kReceiveBufferSize);
  while (!stopping_.load(std::memory_order_acquire)) {
    sockaddr_in source{};
    int length = sizeof source;
    int received =
        recvfrom(fd, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()), 0,
                 reinterpret_cast<sockaddr*>(&source), &length);
    // A time-out, a transient error or a datagram longer than the buffer (WSAEMSGSIZE: it is
    // cut, and never reaches the handler).
    if (received < 0) continue;
    if (stopping_.load(std::memory_order_acquire)) break;
    try {
      if (handler_) handler_(buffer.data(), static_cast<size_t>(received), FromSockaddr(source));
    } catch (const std::exception&) {
      // One bad datagram never stops the listener.
    }
  }
}

void UdpListener::CloseSocket(NativeHandle fd) {
  closesocket(AsSocket(fd));
}

bool UdpListener::SendTo(const uint8_t* data, size_t size, Endpoint to) const {
  NativeHandle fd = fd_.load(std::memory_order_relaxed);
  if (fd == kNoHandle) return false;
  sockaddr_in address = ToSockaddr(to);
  int sent = sendto(AsSocket(fd), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                    reinterpret_cast<sockaddr*>(&address), sizeof address);
  return sent == static_cast<int>(size);
}

// Windows has no call that sends several datagrams at once: one sendto each.
size_t UdpListener::SendBatch(std::span<const OutgoingDatagram> batch, std::span<bool> sent) const {
  size_t delivered = 0;
  batch = batch.first(std::min(batch.size(), sent.size()));
  for (size_t i = 0; i < batch.size(); ++i) {
    sent[i] = SendTo(batch[i].data, batch[i].size, batch[i].to);
    if (sent[i]) ++delivered;
  }
  return delivered;
}

}  // namespace plat
