#include "platform/udp_socket.h"

#include <errno.h>
#include <netinet/ip.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/posix/socket_util.h"

namespace plat {
namespace {

constexpr int kReceiveBatch = 16;
constexpr int kSendBatch = 64;
// Room for the control messages either way: the arrival address of a received datagram (an
// IPv4 datagram on a dual-stack socket may carry both forms), the source address of a sent one.
constexpr size_t kAddressControlSize =
    CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(in6_pktinfo));

struct alignas(cmsghdr) AddressControl {
  uint8_t bytes[kAddressControlSize];
};

bool UsableSource(const IpAddress& ip) {
  // A datagram to a multicast or broadcast address is answered from the system's choice.
  if (ip.IsIpv4()) return ip.Ipv4() != INADDR_BROADCAST && (ip.Ipv4() >> 28) != 0xE;
  return ip.bytes[0] != 0xFF;
}

// The server's address a received datagram was sent to; unspecified when the message does not
// say.
IpAddress ArrivalAddress(msghdr& message) {
  for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
       part = CMSG_NXTHDR(&message, part)) {
    IpAddress ip;
    if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_PKTINFO) {
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(part), sizeof info);
      ip = IpAddress::FromIpv4(ntohl(info.ipi_addr.s_addr));
    } else if (part->cmsg_level == IPPROTO_IPV6 && part->cmsg_type == IPV6_PKTINFO) {
      in6_pktinfo info;
      std::memcpy(&info, CMSG_DATA(part), sizeof info);
      std::memcpy(ip.bytes.data(), &info.ipi6_addr, 16);
    } else {
      continue;
    }
    return UsableSource(ip) ? ip : IpAddress{};
  }
  return IpAddress{};
}

// Sets the message's source address, where one is asked for; without one the message carries
// no control part and the system chooses, as for a plain sendto. A dual-stack socket takes the
// IPv6 form for both kinds of peer (an IPv4-mapped source for an IPv4-mapped destination).
void SetSourceAddress(msghdr& message, AddressControl& control, const IpAddress& from, int family) {
  if (from.IsUnspecified() || (family == AF_INET && !from.IsIpv4())) {
    message.msg_control = nullptr;
    message.msg_controllen = 0;
    return;
  }
  std::memset(control.bytes, 0, sizeof control.bytes);
  message.msg_control = control.bytes;
  cmsghdr* part = nullptr;
  if (family == AF_INET) {
    message.msg_controllen = CMSG_SPACE(sizeof(in_pktinfo));
    part = CMSG_FIRSTHDR(&message);
    part->cmsg_level = IPPROTO_IP;
    part->cmsg_type = IP_PKTINFO;
    part->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    // Interface 0: the route decides the way out, only the source address is fixed.
    info.ipi_spec_dst.s_addr = htonl(from.Ipv4());
    std::memcpy(CMSG_DATA(part), &info, sizeof info);
    return;
  }
  message.msg_controllen = CMSG_SPACE(sizeof(in6_pktinfo));
  part = CMSG_FIRSTHDR(&message);
  part->cmsg_level = IPPROTO_IPV6;
  part->cmsg_type = IPV6_PKTINFO;
  part->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
  in6_pktinfo info{};
  std::memcpy(&info.ipi6_addr, from.bytes.data(), 16);
  std::memcpy(CMSG_DATA(part), &info, sizeof info);
}

}  // namespace

Status UdpListener::BindSocket(Endpoint target, int family, NativeHandle* fd_out, Endpoint* bound) {
  int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Status::Error(SocketErrorText("socket", target, errno));
  int yes = 1, no = 0;
  if (family == AF_INET6 && target.ip.IsUnspecified())
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
  SocketAddress address = ToSockaddr(target, family);
  if (bind(fd, address.get(), address.length) != 0) {
    std::string error = SocketErrorText("bind", target, errno);
    close(fd);
    return Status::Error(error);
  }
  // Each datagram tells which of the host's addresses it was sent to; on a dual-stack socket
  // the IPv4 ones say it with IP_PKTINFO.
  setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &yes, sizeof yes);
  if (family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &yes, sizeof yes);
  *bound = LocalEndpointOf(fd);
  *fd_out = fd;
  return Status::Ok();
}

void UdpListener::SetBufferSizes(NativeHandle fd, int bytes) {
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void UdpListener::SetReceiveWait(NativeHandle fd, uint32_t wait_ms) {
  timeval wait{static_cast<time_t>(wait_ms / 1000),
               static_cast<suseconds_t>(wait_ms % 1000 * 1000)};
  setsockopt(static_cast<int>(fd), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
}

void UdpListener::SetDscpMark(NativeHandle fd, int family, int dscp) {
  if (dscp == 0) return;
  int tos = dscp << 2;  // the two low bits of the byte are ECN's
  // A dual-stack socket marks its IPv4 datagrams with IP_TOS, its IPv6 ones with IPV6_TCLASS.
  setsockopt(static_cast<int>(fd), IPPROTO_IP, IP_TOS, &tos, sizeof tos);
  if (family == AF_INET6)
    setsockopt(static_cast<int>(fd), IPPROTO_IPV6, IPV6_TCLASS, &tos, sizeof tos);
}

void UdpListener::ListenLoop() {
  int fd = static_cast<int>(fd_.load());
  // Not zero-filled: only the pages that datagrams reach become resident.
  std::unique_ptr<uint8_t[]> storage(new uint8_t[kReceiveBatch * kReceiveBufferSize]);
  uint8_t* const buffers = storage.get();
  iovec vectors[kReceiveBatch];
  SocketAddress sources[kReceiveBatch];
  AddressControl controls[kReceiveBatch];
  mmsghdr messages[kReceiveBatch];
  while (!stopping_.load(std::memory_order_acquire)) {
    for (int i = 0; i < kReceiveBatch; ++i) {
      vectors[i] = {buffers + i * kReceiveBufferSize, kReceiveBufferSize};
      messages[i] = {};
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_name = sources[i].get();
      messages[i].msg_hdr.msg_namelen = sizeof sources[i].any;
      messages[i].msg_hdr.msg_control = controls[i].bytes;
      messages[i].msg_hdr.msg_controllen = sizeof controls[i].bytes;
    }
    int received = recvmmsg(fd, messages, kReceiveBatch, MSG_WAITFORONE, nullptr);
    if (received <= 0) continue;  // time-out, interruption or a transient error
    if (stopping_.load(std::memory_order_acquire)) break;
    for (int i = 0; i < received; ++i) {
      // A datagram longer than the buffer is cut by the kernel; it never reaches the handler.
      if (messages[i].msg_hdr.msg_flags & MSG_TRUNC) continue;
      Deliver(buffers + i * kReceiveBufferSize, messages[i].msg_len, FromSockaddr(sources[i]),
              ArrivalAddress(messages[i].msg_hdr));
    }
  }
}

void UdpListener::CloseSocket(NativeHandle fd) {
  close(static_cast<int>(fd));
}

bool UdpListener::SendTo(const uint8_t* data, size_t size, const Endpoint& to,
                         const IpAddress& from) const {
  int fd = fd_.load(std::memory_order_relaxed);
  if (fd < 0) return false;
  const int family = family_.load(std::memory_order_relaxed);
  SocketAddress address = ToSockaddr(to, family);
  iovec vector{const_cast<uint8_t*>(data), size};
  AddressControl control;
  msghdr message{};
  message.msg_name = address.get();
  message.msg_namelen = address.length;
  message.msg_iov = &vector;
  message.msg_iovlen = 1;
  SetSourceAddress(message, control, from, family);
  ssize_t sent;
  do {
    sent = sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size);
}

size_t UdpListener::SendBatch(std::span<const OutgoingDatagram> batch, std::span<bool> sent) const {
  int fd = fd_.load(std::memory_order_relaxed);
  size_t delivered = 0;
  batch = batch.first(std::min(batch.size(), sent.size()));
  for (size_t i = 0; i < batch.size(); ++i) sent[i] = false;
  if (fd < 0) return 0;
  const int family = family_.load(std::memory_order_relaxed);
  SocketAddress addresses[kSendBatch];
  AddressControl controls[kSendBatch];
  iovec vectors[kSendBatch];
  mmsghdr messages[kSendBatch];
  size_t start = 0;
  while (start < batch.size()) {
    size_t count = std::min<size_t>(kSendBatch, batch.size() - start);
    for (size_t i = 0; i < count; ++i) {
      const OutgoingDatagram& datagram = batch[start + i];
      addresses[i] = ToSockaddr(datagram.to, family);
      vectors[i] = {const_cast<uint8_t*>(datagram.data), datagram.size};
      messages[i] = {};
      messages[i].msg_hdr.msg_name = addresses[i].get();
      messages[i].msg_hdr.msg_namelen = addresses[i].length;
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      SetSourceAddress(messages[i].msg_hdr, controls[i], datagram.from, family);
    }
    int done = sendmmsg(fd, messages, static_cast<unsigned>(count), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (done < 0) {
      if (errno == EINTR) continue;
      done = 0;
    }
    for (int i = 0; i < done; ++i) {
      if (messages[i].msg_len == batch[start + i].size) {
        sent[start + i] = true;
        ++delivered;
      }
    }
    // sendmmsg stops at the first datagram that fails: that one is skipped, the rest follow.
    start += static_cast<size_t>(done) + (static_cast<size_t>(done) < count ? 1 : 0);
  }
  return delivered;
}

}  // namespace plat
