// Client side of the voice channel: voice and keep-alive datagrams, and a UDP socket bound on
// loopback to send them to the server's UDP port and receive what the server sends back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/client_socket.h"
#include "wire/datagrams.h"

namespace plclient {

// The layouts are the server's own (wire/datagrams.h), under the names clients use.
using wire::kKeepAliveSize;
using wire::kServerPingMarker;
using wire::kVoiceHeaderSize;
constexpr uint8_t kKeepAlivePing = wire::kTypePing;
constexpr uint8_t kKeepAlivePong = wire::kTypePong;

// A mode-0 voice datagram (for the sender's room), sealed.
std::vector<uint8_t> VoiceDatagramForRoom(uint16_t id, uint32_t packet_id,
                                          std::span<const uint8_t> payload, uint8_t byte7 = 0);
// A mode-1 voice datagram for the listed player bytes (PlayerNo + 1), sealed.
std::vector<uint8_t> VoiceDatagramForPlayers(uint16_t id, uint32_t packet_id,
                                             std::span<const uint8_t> player_bytes,
                                             std::span<const uint8_t> payload, uint8_t byte7 = 0);
// Stores the CRC-32 of the whole datagram (computed with the field 0) at offset 12.
void SealVoiceDatagram(std::vector<uint8_t>& datagram);
// Whether the CRC at offset 12 matches the rest of the datagram.
bool VoiceCrcValid(std::span<const uint8_t> datagram);

// A 12-byte keep-alive datagram: BB AA, Id, 0C 00, type, marker, FF EE 00 00.
std::vector<uint8_t> KeepAliveDatagram(uint16_t id, uint8_t type, uint8_t marker);
struct KeepAlive {
  uint16_t id = 0;
  uint8_t type = 0;
  uint8_t marker = 0;
};
// Nothing unless the datagram starts with the keep-alive magic and has 12 bytes or more.
std::optional<KeepAlive> ParseKeepAlive(std::span<const uint8_t> datagram);

// A UDP socket (any free port) that talks to one server UDP port: bound on 127.0.0.1 for a
// server on loopback, on every address otherwise.
class VoicePeer {
 public:
  static std::unique_ptr<VoicePeer> Open(uint16_t server_udp_port, std::string* error = nullptr);
  static std::unique_ptr<VoicePeer> Open(plat::Endpoint server, std::string* error = nullptr);
  bool Send(std::span<const uint8_t> datagram);
  // The next datagram within the time limit; nothing on time-out.
  std::optional<std::vector<uint8_t>> Receive(int timeout_ms);
  plat::Endpoint Local() const { return socket_->Local(); }

 private:
  VoicePeer(std::unique_ptr<plat::UdpClientSocket> socket, plat::Endpoint server)
      : socket_(std::move(socket)), server_(server) {}
  std::unique_ptr<plat::UdpClientSocket> socket_;
  plat::Endpoint server_;
};

}  // namespace plclient
