#include "protoclient/voice_datagrams.h"

#include "wire/datagrams.h"
#include "wire/global_types.h"

namespace plclient {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;

std::vector<uint8_t> VoiceHeader(uint16_t id, uint8_t mode, uint8_t byte7, uint32_t packet_id) {
  std::vector<uint8_t> datagram(kVoiceHeaderSize, 0);
  wire::StoreU16(&datagram[wire::kOffsetMagic], wire::kFrameMagic);
  wire::StoreU16(&datagram[wire::kOffsetId], id);
  datagram[wire::kOffsetMode] = mode;
  datagram[wire::kOffsetMode + 1] = byte7;
  wire::StoreU32(&datagram[wire::kOffsetPacketId], packet_id);
  return datagram;
}

void FinishVoice(std::vector<uint8_t>& datagram) {
  wire::StoreU16(&datagram[wire::kOffsetLength], static_cast<uint16_t>(datagram.size()));
  SealVoiceDatagram(datagram);
}

}  // namespace

std::vector<uint8_t> VoiceDatagramForRoom(uint16_t id, uint32_t packet_id,
                                          std::span<const uint8_t> payload, uint8_t byte7) {
  std::vector<uint8_t> datagram = VoiceHeader(id, wire::kModeRoom, byte7, packet_id);
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  FinishVoice(datagram);
  return datagram;
}

std::vector<uint8_t> VoiceDatagramForPlayers(uint16_t id, uint32_t packet_id,
                                             std::span<const uint8_t> player_bytes,
                                             std::span<const uint8_t> payload, uint8_t byte7) {
  std::vector<uint8_t> datagram = VoiceHeader(id, wire::kModeList, byte7, packet_id);
  datagram.push_back(static_cast<uint8_t>(player_bytes.size()));
  datagram.insert(datagram.end(), player_bytes.begin(), player_bytes.end());
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  FinishVoice(datagram);
  return datagram;
}

void SealVoiceDatagram(std::vector<uint8_t>& datagram) {
  if (datagram.size() < kVoiceHeaderSize) return;
  wire::Seal(datagram.data(), datagram.size());
}

bool VoiceCrcValid(std::span<const uint8_t> datagram) {
  if (datagram.size() < kVoiceHeaderSize) return false;
  std::vector<uint8_t> copy(datagram.begin(), datagram.end());
  return wire::CheckAndClearCrc(copy.data(), copy.size());
}

std::vector<uint8_t> KeepAliveDatagram(uint16_t id, uint8_t type, uint8_t marker) {
  std::vector<uint8_t> datagram(kKeepAliveSize, 0);
  wire::BuildKeepAlive(datagram.data(), id, type, marker);
  return datagram;
}

std::optional<KeepAlive> ParseKeepAlive(std::span<const uint8_t> datagram) {
  if (datagram.size() < kKeepAliveSize ||
      wire::ReadU16(datagram, wire::kOffsetMagic) != wire::kKeepAliveMagic)
    return std::nullopt;
  return KeepAlive{wire::ReadU16(datagram, wire::kOffsetId), datagram[wire::kOffsetKeepAliveType],
                   datagram[wire::kOffsetMarker]};
}

std::unique_ptr<VoicePeer> VoicePeer::Open(uint16_t server_udp_port, std::string* error) {
  return Open(plat::Endpoint::Ipv4(kLoopback, server_udp_port), error);
}

std::unique_ptr<VoicePeer> VoicePeer::Open(plat::Endpoint server, std::string* error) {
  // The socket is of the server's family; a server on loopback is reached from loopback.
  plat::Endpoint local{server.ip.IsIpv4() ? plat::IpAddress::FromIpv4(0) : plat::IpAddress{}, 0};
  if (server.ip.IsLoopback())
    local.ip = server.ip.IsIpv4() ? plat::IpAddress::FromIpv4(kLoopback) : server.ip;
  std::unique_ptr<plat::UdpClientSocket> socket = plat::UdpClientSocket::Bind(local, error);
  if (!socket) return nullptr;
  return std::unique_ptr<VoicePeer>(new VoicePeer(std::move(socket), server));
}

bool VoicePeer::Send(std::span<const uint8_t> datagram) {
  return socket_->SendTo(datagram.data(), datagram.size(), server_);
}

std::optional<std::vector<uint8_t>> VoicePeer::Receive(int timeout_ms) {
  std::vector<uint8_t> buffer(65536);
  size_t received = 0;
  if (socket_->Receive(buffer.data(), buffer.size(), timeout_ms, &received, nullptr) !=
      plat::IoStatus::kOk) {
    return std::nullopt;
  }
  buffer.resize(received);
  return buffer;
}

}  // namespace plclient
