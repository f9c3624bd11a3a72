#include "platform/udp_socket.h"

#include <algorithm>

#include "platform/win32/winsock_util.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace plat {

Status UdpListener::BindSocket(Endpoint target, NativeHandle* fd_out, Endpoint* bound) {
  EnsureWinsock();
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
  *bound = LocalEndpointOf(fd);
  // A datagram to a client that has gone would otherwise make the next receive fail with a
  // connection reset (the port-unreachable answer of the peer's host).
  BOOL no = FALSE;
  DWORD returned = 0;
  WSAIoctl(fd, SIO_UDP_CONNRESET, &no, sizeof no, nullptr, 0, &returned, nullptr, nullptr);
  *fd_out = AsHandle(fd);
  return Status::Ok();
}

void UdpListener::SetBufferSizes(NativeHandle fd, int bytes) {
  setsockopt(AsSocket(fd), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
             sizeof bytes);
  setsockopt(AsSocket(fd), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
             sizeof bytes);
}

void UdpListener::SetReceiveWait(NativeHandle fd, uint32_t wait_ms) {
  DWORD wait = wait_ms;
  setsockopt(AsSocket(fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait),
             sizeof wait);
}

// Windows honours IP_TOS only where the administrator's policy lets programs mark their own
// traffic; elsewhere the mark is ignored and the datagrams leave unmarked.
void UdpListener::SetDscpMark(NativeHandle fd, int dscp) {
  if (dscp == 0) return;
  DWORD tos = static_cast<DWORD>(dscp) << 2;
  setsockopt(AsSocket(fd), IPPROTO_IP, IP_TOS, reinterpret_cast<const char*>(&tos), sizeof tos);
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
    // The arrival address is not read here: answers leave from the system's choice.
    Deliver(buffer.data(), static_cast<size_t>(received), FromSockaddr(source), 0);
  }
}

void UdpListener::CloseSocket(NativeHandle fd) {
  closesocket(AsSocket(fd));
}

bool UdpListener::SendTo(const uint8_t* data, size_t size, Endpoint to, uint32_t) const {
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
    sent[i] = SendTo(batch[i].data, batch[i].size, batch[i].to, batch[i].from_ip);
    if (sent[i]) ++delivered;
  }
  return delivered;
}

}  // namespace plat
