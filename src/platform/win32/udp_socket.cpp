#include "platform/udp_socket.h"

#include <algorithm>

#include "platform/win32/winsock_util.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace plat {
namespace {

// IPV6_TCLASS, which not every SDK's headers name.
constexpr int kIpv6TrafficClass = 39;

}  // namespace

Status UdpListener::BindSocket(Endpoint target, int family, NativeHandle* fd_out, Endpoint* bound) {
  EnsureWinsock();
  SOCKET fd = WSASocketW(family, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (fd == INVALID_SOCKET)
    return Status::Error(SocketErrorText("socket", target, WSAGetLastError()));
  BOOL yes = TRUE;
  setsockopt(fd, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
  if (family == AF_INET6 && target.ip.IsUnspecified()) {
    DWORD no = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&no), sizeof no);
  }
  SocketAddress address = ToSockaddr(target, family);
  if (bind(fd, address.get(), address.length) != 0) {
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

// Windows honours IP_TOS and IPV6_TCLASS only where the administrator's policy lets programs
// mark their own traffic; elsewhere the mark is ignored and the datagrams leave unmarked.
void UdpListener::SetDscpMark(NativeHandle fd, int family, int dscp) {
  if (dscp == 0) return;
  DWORD tos = static_cast<DWORD>(dscp) << 2;
  setsockopt(AsSocket(fd), IPPROTO_IP, IP_TOS, reinterpret_cast<const char*>(&tos), sizeof tos);
  if (family == AF_INET6) {
    setsockopt(AsSocket(fd), IPPROTO_IPV6, kIpv6TrafficClass, reinterpret_cast<const char*>(&tos),
               sizeof tos);
  }
}

void UdpListener::ListenLoop() {
  SOCKET fd = AsSocket(fd_.load());
  std::vector<uint8_t> buffer(kReceiveBufferSize);
  while (!stopping_.load(std::memory_order_acquire)) {
    SocketAddress source;
    int received = recvfrom(fd, reinterpret_cast<char*>(buffer.data()),
                            static_cast<int>(buffer.size()), 0, source.get(), &source.length);
    // A time-out, a transient error or a datagram longer than the buffer (WSAEMSGSIZE: it is
    // cut, and never reaches the handler).
    if (received < 0) continue;
    if (stopping_.load(std::memory_order_acquire)) break;
    // The arrival address is not read here: answers leave from the system's choice.
    Deliver(buffer.data(), static_cast<size_t>(received), FromSockaddr(source), IpAddress{});
  }
}

void UdpListener::CloseSocket(NativeHandle fd) {
  closesocket(AsSocket(fd));
}

bool UdpListener::SendTo(const uint8_t* data, size_t size, const Endpoint& to,
                         const IpAddress&) const {
  NativeHandle fd = fd_.load(std::memory_order_relaxed);
  if (fd == kNoHandle) return false;
  SocketAddress address = ToSockaddr(to, family_.load(std::memory_order_relaxed));
  int sent = sendto(AsSocket(fd), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                    address.get(), address.length);
  return sent == static_cast<int>(size);
}

// Windows has no call that sends several datagrams at once: one sendto each.
size_t UdpListener::SendBatch(std::span<const OutgoingDatagram> batch, std::span<bool> sent) const {
  size_t delivered = 0;
  batch = batch.first(std::min(batch.size(), sent.size()));
  for (size_t i = 0; i < batch.size(); ++i) {
    sent[i] = SendTo(batch[i].data, batch[i].size, batch[i].to, batch[i].from);
    if (sent[i]) ++delivered;
  }
  return delivered;
}

}  // namespace plat
