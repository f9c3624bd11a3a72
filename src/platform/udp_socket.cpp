// The backend-independent part of the voice socket: how its listener thread is stopped.
#include "platform/udp_socket.h"

#include "platform/socket_address.h"

namespace plat {

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

}  // namespace plat
