#include "support/voice_fixture.h"

#include <gtest/gtest.h>

#include "platform/client_socket.h"

namespace pltest {

clients::ClientRef VoiceClient::Record(TestServer& server) const {
  return server.server().clients().FindClientById(id);
}

std::vector<std::vector<uint8_t>> VoiceClient::Collect(int timeout_ms) {
  std::vector<std::vector<uint8_t>> received;
  while (auto datagram = udp->Receive(received.empty() ? timeout_ms : 100))
    received.push_back(*datagram);
  return received;
}

VoiceClient JoinWithVoice(TestServer& server, const std::string& name, uint8_t room_byte,
                          const std::string& version, const std::string& host) {
  VoiceClient client;
  client.control = server.LoggedIn(name, version, "", host);
  EXPECT_TRUE(client.control->SendListsReq());
  auto lists = client.control->Await(plclient::ParseServerLists, 2000);
  EXPECT_TRUE(lists.has_value());
  if (!lists) return client;
  client.id = lists->id;
  client.player_byte = static_cast<uint8_t>(lists->own_player_byte);
  if (room_byte != 1) {
    EXPECT_TRUE(client.control->SendChangeRoom(room_byte));
    uint8_t own = client.player_byte;
    EXPECT_TRUE(client.control->ReadUntil(
        [own](const plclient::Frame& frame) {
          auto moved = plclient::ParsePlayerMoved(frame);
          return moved && moved->player_byte == own;
        },
        2000));
  }
  client.udp = plclient::VoicePeer::Open({plat::ParseClientHost(host).value(), server.udp_port()});
  EXPECT_TRUE(client.udp != nullptr);
  EXPECT_TRUE(client.udp->Send(plclient::KeepAliveDatagram(client.id, 3, 0)));
  clients::ClientRef record = client.Record(server);
  EXPECT_TRUE(record != nullptr);
  EXPECT_TRUE(WaitUntil([&] { return record && record->PeerPort() == client.udp->Local().port; }));
  return client;
}

std::vector<uint8_t> Payload(size_t size, uint8_t seed) {
  std::vector<uint8_t> payload(size);
  for (size_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>(seed + i * 13);
  return payload;
}

}  // namespace pltest
