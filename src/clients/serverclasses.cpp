#include "clients/serverclasses.h"

#include <algorithm>
#include <stdexcept>

#include "clients/serverfunctions.h"

namespace clients {

TServerClient::TServerClient(std::shared_ptr<plat::TcpConnection> connection,
                             TrafficCounters* server_counters, uint32_t connect_time)
    : ConnectTime(connect_time),
      connection_(std::move(connection)),
      server_counters_(server_counters) {
  if (!connection_) throw std::invalid_argument("a client needs its control connection");
}

TServerClient::~TServerClient() {
  Destroy();
}

void TServerClient::Destroy() {
  if (Closing.exchange(true)) return;
  // Only clear the slot if it still points at us: the connection may already serve nothing.
  // The slot's reference is held until the end, so clearing it cannot end the client here.
  std::shared_ptr<plat::ConnectionSlot> slot = connection_->Slot();
  if (slot.get() == this) connection_->ClearSlot();
  std::lock_guard<std::mutex> lock(out_queue_mutex_);
  out_queue_.clear();
}

TServerClient::PingState TServerClient::PingSnapshot() {
  std::lock_guard<std::mutex> lock(ping_mutex);
  return Ping;
}

std::string TServerClient::PeerIP() const {
  plat::Endpoint peer = Peer();
  if (peer.ip.IsUnspecified() && peer.port == 0) return {};
  return peer.IpText();
}

void TServerClient::SetPeer(const plat::Endpoint& peer, const plat::IpAddress& reply_from) {
  route_.Set({peer, reply_from});
}

std::string TServerClient::EventClientPart() const {
  return " ClientId: " + std::to_string(PlayerNo + 1) + " ClientName: " + Name;
}

void TServerClient::QueueFrame(std::vector<uint8_t> frame) {
  if (Closing) return;
  std::lock_guard<std::mutex> lock(out_queue_mutex_);
  out_queue_.push_back(std::move(frame));
}

void TServerClient::QueueBytes(const uint8_t* bytes, int count) {
  if (Closing) return;
  if (count < 0) throw std::invalid_argument("negative byte count");
  QueueFrame(std::vector<uint8_t>(bytes, bytes + count));
}

size_t TServerClient::QueuedFrames() {
  std::lock_guard<std::mutex> lock(out_queue_mutex_);
  return out_queue_.size();
}

void TServerClient::FlushQueue() {
  if (Closing) return;
  std::lock_guard<std::mutex> lock(out_queue_mutex_);
  while (!out_queue_.empty()) {
    std::vector<uint8_t> frame = std::move(out_queue_.front());
    out_queue_.pop_front();
    auto size = static_cast<uint32_t>(frame.size());
    Add(Counters.TcpPacketsSent, 1);
    Add(Counters.TcpBytesSent, size);
    if (connection_->Write(frame.data(), frame.size())) {
      Add(server_counters_->TcpBytesSent, size);
      Add(server_counters_->TcpPacketsSent, 1);
    }
  }
}

void TServerClient::QueueAndFlush(std::vector<uint8_t> frame) {
  QueueFrame(std::move(frame));
  FlushQueue();
}

void TServerClient::SendResult(int32_t value) {
  QueueAndFlush(wire::FrameWriter(8).Header(Id, value).Finish());
}

void TServerClient::SendPlayerMoved(int player_byte, int room_byte) {
  QueueAndFlush(
      wire::FrameWriter(10).Header(Id, wire::kPlayerMoved).U8(player_byte).U8(room_byte).Finish());
}

void TServerClient::SendPlayerJoined(int player_byte, int room_byte, const std::string& name) {
  QueueAndFlush(wire::FrameWriter(41)
                    .Header(Id, wire::kPlayerJoined)
                    .U8(player_byte)
                    .U8(room_byte)
                    .CountedText(name, wire::kNameLength)
                    .Finish());
}

void TServerClient::SendPlayerLeft(int player_byte, int reason) {
  QueueAndFlush(
      wire::FrameWriter(10).Header(Id, wire::kPlayerLeft).U8(player_byte).U8(reason).Finish());
}

void TServerClient::SendRoomCreated(int room_byte, const std::string& room_name) {
  QueueAndFlush(wire::FrameWriter(40)
                    .Header(Id, wire::kRoomCreated)
                    .U8(room_byte)
                    .CountedText(room_name, wire::kNameLength)
                    .Finish());
}

void TServerClient::SendRoomDeleted(int room_byte) {
  QueueAndFlush(wire::FrameWriter(9).Header(Id, wire::kRoomDeleted).U8(room_byte).Finish());
}

void TServerClient::SendPlayerIsAdmin(int player_byte) {
  QueueAndFlush(wire::FrameWriter(9).Header(Id, wire::kPlayerIsAdmin).U8(player_byte).Finish());
}

void TServerClient::SendServerLists(ClientList& clients, RoomList& rooms) {
  const bool older = IsOlderDialect();
  wire::FrameWriter players(255 * 34);
  size_t player_count = 0;
  {
    ClientList::Lock lock = clients.Acquire();
    for (const ClientRef& client : clients.Entries(lock)) {
      players.U8(client->PlayerNo + 1).U8(client->RoomId.load() + 1);
      if (!older) players.U8(client->IsAdmin ? 1 : 0);
      players.CountedText(client->Name, wire::kNameLength);
      ++player_count;
    }
  }
  wire::FrameWriter room_records(255 * 32);
  size_t room_count = 0;
  {
    RoomList::Lock lock = rooms.Acquire();
    for (const auto& room : rooms.Entries(lock)) {
      room_records.U8(room->RoomId + 1).CountedText(room->Name, wire::kNameLength);
      ++room_count;
    }
  }
  QueueFrame(wire::FrameWriter(12 + room_records.size() + players.size())
                 .Header(Id, older ? wire::kServerListsOlder : wire::kServerListsNewer)
                 .U8(static_cast<int64_t>(room_count))
                 .U8(static_cast<int64_t>(player_count))
                 .U16(PlayerNo + 1)
                 .Append(room_records.bytes())
                 .Append(players.bytes())
                 .Finish());
}

ClientRef ClientOf(const plat::TcpConnection& connection) {
  // The slot holds nothing but clients; the checked cast keeps a mistake from becoming a wild
  // pointer.
  return std::dynamic_pointer_cast<TServerClient>(connection.Slot());
}

}  // namespace clients
