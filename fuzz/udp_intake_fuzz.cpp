// Feeds arbitrary datagrams to the intake, which hands voice to the running relay thread. The
// first input byte picks the Id the datagram carries (one of the registered clients, or the
// datagram's own), so the checks, the pongs and the relay of every mode are reached.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 8193) return 0;
  core::TParlowindServer& server = fuzz::Server();
  // The registered clients, once: nothing a datagram does outlasts it but counters and the
  // packet-id sequence, which the checks handle from any state.
  static const bool registered = (fuzz::ResetState(), true);
  (void)registered;
  std::vector<uint8_t> datagram(data + 1, data + size);
  const uint8_t selector = data[0];
  if (selector < 4 * 16 && datagram.size() >= 4) {
    uint16_t id = fuzz::kClients[selector % 4].id;
    datagram[2] = static_cast<uint8_t>(id);
    datagram[3] = static_cast<uint8_t>(id >> 8);
  }
  // A registered client's datagrams come from its recorded address; the others from ports of
  // their own, which the probe filter soon ignores.
  const uint16_t port =
      selector < 4 * 16 ? fuzz::kClientPort : static_cast<uint16_t>(40000 + selector);
  server.Server_UDPRead(datagram.data(), datagram.size(), {0x7F000001, port});
  return 0;
}
