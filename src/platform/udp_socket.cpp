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
  Endpoint target = bindings_.empty() ? Endpoint{INADDR_ANY, default_port_} : bindings_.front();
  NativeHandle fd = kNoHandle;
  if (Status bound = BindSocket(target, &fd, &bound_); !bound.ok()) return bound;
  bound_port_ = bound_.port;
  SetBufferSizes(fd, kSocketBufferBytes);
  SetReceiveWait(fd, kStopCheckMs);
  SetDscpMark(fd, dscp_);
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
  if (self.ip == INADDR_ANY) self.ip = INADDR_LOOPBACK;
  uint8_t nudge = 0;
  SendTo(&nudge, 1, self);
  if (thread_.joinable()) thread_.join();
  fd_ = kNoHandle;
  CloseSocket(fd);
}

void UdpListener::Deliver(uint8_t* data, size_t size, Endpoint from, uint32_t local_ip) {
  if (!handler_) return;
  try {
    handler_(data, size, from, local_ip);
  } catch (const std::exception&) {
    // One bad datagram never stops the listener.
  }
}

}  // namespace plat
