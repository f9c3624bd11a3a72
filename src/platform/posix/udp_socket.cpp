#include "platform/udp_socket.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "platform/posix/socket_util.h"
#include "platform/thread_start.h"

namespace plat {
namespace {

constexpr int kReceiveBatch = 16;
constexpr int kSendBatch = 64;

}  // namespace

UdpListener::UdpListener() = default;

UdpListener::~UdpListener() {
  Deactivate();
}

Status UdpListener::Activate() {
  Endpoint target = bindings_.empty() ? Endpoint{INADDR_ANY, default_port_} : bindings_.front();
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Status::Error(SocketErrorText("socket", target, errno));
  sockaddr_in address = ToSockaddr(target);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::string error = SocketErrorText("bind", target, errno);
    close(fd);
    return Status::Error(error);
  }
  bound_ = LocalEndpointOf(fd);
  bound_port_ = bound_.port;
  // Voice arrives in bursts from many speakers; a larger kernel buffer rides them out.
  int buffer_bytes = 1 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer_bytes, sizeof buffer_bytes);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer_bytes, sizeof buffer_bytes);
  // The listener re-checks its stop flag at least this often.
  timeval wait{0, 200000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  stopping_ = false;
  fd_ = fd;
  if (Status error = StartThread(thread_, "UDP listener", [this] { ListenLoop(); }); !error.ok()) {
    Deactivate();  // the socket is not left bound without its thread
    return error;
  }
  return Status::Ok();
}

void UdpListener::ListenLoop() {
  int fd = fd_.load();
  // Not zero-filled: only the pages that datagrams reach become resident.
  std::unique_ptr<uint8_t[]> storage(new uint8_t[kReceiveBatch * kReceiveBufferSize]);
  uint8_t* const buffers = storage.get();
  iovec vectors[kReceiveBatch];
  sockaddr_in sources[kReceiveBatch];
  mmsghdr messages[kReceiveBatch];
  while (!stopping_.load(std::memory_order_acquire)) {
    for (int i = 0; i < kReceiveBatch; ++i) {
      vectors[i] = {buffers + i * kReceiveBufferSize, kReceiveBufferSize};
      messages[i] = {};
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
      messages[i].msg_hdr.msg_name = &sources[i];
      messages[i].msg_hdr.msg_namelen = sizeof sources[i];
    }
    int received = recvmmsg(fd, messages, kReceiveBatch, MSG_WAITFORONE, nullptr);
    if (received <= 0) continue;  // time-out, interruption or a transient error
    if (stopping_.load(std::memory_order_acquire)) break;
    for (int i = 0; i < received; ++i) {
      // A datagram longer than the buffer is cut by the kernel; it never reaches the handler.
      if (messages[i].msg_hdr.msg_flags & MSG_TRUNC) continue;
      try {
        if (handler_) {
          handler_(buffers + i * kReceiveBufferSize, messages[i].msg_len, FromSockaddr(sources[i]));
        }
      } catch (const std::exception&) {
        // One bad datagram never stops the listener.
      }
    }
  }
}

void UdpListener::CloseSocket(NativeHandle fd) {
  close(static_cast<int>(fd));
}

bool UdpListener::SendTo(const uint8_t* data, size_t size, Endpoint to) const {
  int fd = fd_.load(std::memory_order_relaxed);
  if (fd < 0) return false;
  sockaddr_in address = ToSockaddr(to);
  ssize_t sent;
  do {
    sent = sendto(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL,
                  reinterpret_cast<sockaddr*>(&address), sizeof address);
  } while (sent < 0 && errno == EINTR);
  return sent == static_cast<ssize_t>(size);
}

size_t UdpListener::SendBatch(std::span<const OutgoingDatagram> batch, std::span<bool> sent) const {
  int fd = fd_.load(std::memory_order_relaxed);
  size_t delivered = 0;
  batch = batch.first(std::min(batch.size(), sent.size()));
  for (size_t i = 0; i < batch.size(); ++i) sent[i] = false;
  if (fd < 0) return 0;
  sockaddr_in addresses[kSendBatch];
  iovec vectors[kSendBatch];
  mmsghdr messages[kSendBatch];
  size_t start = 0;
  while (start < batch.size()) {
    size_t count = std::min<size_t>(kSendBatch, batch.size() - start);
    for (size_t i = 0; i < count; ++i) {
      const OutgoingDatagram& datagram = batch[start + i];
      addresses[i] = ToSockaddr(datagram.to);
      vectors[i] = {const_cast<uint8_t*>(datagram.data), datagram.size};
      messages[i] = {};
      messages[i].msg_hdr.msg_name = &addresses[i];
      messages[i].msg_hdr.msg_namelen = sizeof addresses[i];
      messages[i].msg_hdr.msg_iov = &vectors[i];
      messages[i].msg_hdr.msg_iovlen = 1;
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
