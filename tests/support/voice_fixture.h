// Voice test clients: a logged-in control connection with its Id and player number, a UDP
// socket on loopback whose address the server has recorded, and helpers to collect what arrives.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "protoclient/protocol_client.h"
#include "protoclient/voice_datagrams.h"
#include "support/test_server.h"

namespace pltest {

struct VoiceClient {
  std::unique_ptr<plclient::ProtocolClient> control;
  std::unique_ptr<plclient::VoicePeer> udp;
  uint16_t id = 0;
  uint8_t player_byte = 0;

  // The server's record of this client (kept alive by the returned reference).
  clients::ClientRef Record(TestServer& server) const;
  // Datagrams that arrive within `timeout_ms` (collection stops at the first quiet gap).
  std::vector<std::vector<uint8_t>> Collect(int timeout_ms = 300);
};

// Logs in, learns the Id, moves to `room_byte` when it is not 1, and registers a UDP address
// with a keep-alive datagram of a type the server ignores; all of it over loopback `host`.
VoiceClient JoinWithVoice(TestServer& server, const std::string& name, uint8_t room_byte = 1,
                          const std::string& version = "1.3.0",
                          const std::string& host = "127.0.0.1");

std::vector<uint8_t> Payload(size_t size, uint8_t seed = 1);

}  // namespace pltest
