// The backend-independent part of the voice socket: which address it binds, its buffer sizes,
// how often its listener looks at the stop flag, starting and stopping the listener thread and
// the guard around the handler. The backends open, tune and read the socket.
#include "platform/udp_socket.h"

#include <exception>

#include "platform/socket_address.h"
#include "platform/thread_start.h"

namespace plat {
namespace {

// Voice arrives in bursts from many speakers; a larger kernel buffer rides them out.
constexpr int kSocketBufferBytes = 1 << 20;
// The listener re-checks its stop flag at least this often.
constexpr uint32_t kStopCheckMs = 200;

}  // namespace

UdpListener::UdpListener() = default;

UdpListener::~UdpListener() {
  Deactivate();
}

Status UdpListener::Activate() {
  NativeHandle fd = kNoHandle;
  int family = AF_INET6;
  ipv4_only_reason_.clear();
  if (!bindings_.empty()) {
    family = FamilyOf(bindings_.front());
    if (Status bound = BindSocket(bindings_.front(), family, &fd, &bound_); !bound.ok())
      return bound;
  } else if (Status dual = BindSocket({IpAddress{}, default_port_}, family, &fd, &bound_);
             !dual.ok()) {
    // A host without IPv6 still serves IPv4.
    family = AF_INET;
    if (Status bound = BindSocket(Endpoint::Ipv4(0, default_port_), family, &fd, &bound_);
        !bound.ok())
      return bound;
    ipv4_only_reason_ = dual.message();
  }
  bound_port_ = bound_.port;
  SetBufferSizes(fd, kSocketBufferBytes);
  SetReceiveWait(fd, kStopCheckMs);
  SetDscpMark(fd, family, dscp_);
  family_ = family;
  stopping_ = false;
  fd_ = fd;
  if (Status error = StartThread(thread_, "UDP listener", [this] { ListenLoop(); }); !error.ok()) {
    Deactivate();  // the socket is not left bound without its thread
    return error;
  }
  return Status::Ok();
}

void UdpListener::Deactivate() {
  NativeHandle fd = fd_.load();
  if (fd == kNoHandle) return;
  stopping_ = true;
  // Wake the receive at once with a datagram to ourselves; the receive time-out is the fallback.
  Endpoint self = bound_;
  if (self.ip.IsUnspecified()) self.ip = IpAddress::FromIpv4(0x7F000001);
  uint8_t nudge = 0;
  SendTo(&nudge, 1, self);
  if (thread_.joinable()) thread_.join();
  fd_ = kNoHandle;
  CloseSocket(fd);
}

void UdpListener::Deliver(uint8_t* data, size_t size, const Endpoint& from,
                          const IpAddress& local) {
  if (!handler_) return;
  try {
    handler_(data, size, from, local);
  } catch (const std::exception&) {
    // One bad datagram never stops the listener.
  }
}

}  // namespace plat
