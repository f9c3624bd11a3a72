#include "core/servermain.h"

namespace core {

void TParlowindServer::Server_UDPRead(uint8_t*, size_t size, plat::Endpoint) {
  std::lock_guard<std::mutex> server_lock(*server_lock_);
  Add(counters_.UdpBytesReceived, static_cast<uint32_t>(size));
  Add(counters_.UdpPacketsReceived, 1);
}

}  // namespace core
