#include "clients/serverclasses.h"

#include <algorithm>

#include "clients/serverfunctions.h"
#include "platform/clock.h"

namespace clients {

TServerClient::TServerClient(std::shared_ptr<plat::TcpConnection> connection,
                             core::TrafficCounters* server_counters)
    : ConnectTime(plat::TickCount()),
      connection_(std::move(connection)),
      server_counters_(server_counters) {}

TServerClient::~TServerClient() { Destroy(); }

void TServerClient::Destroy() {
  if (Closing.exchange(true)) return;
  // Only clear the slot if it still points at us: the connection may already serve nothing.
  if (connection_) {
    std::shared_ptr<void> slot = connection_->Slot();
    if (slot.get() == this) connection_->ClearSlot();
  }
  std::lock_guard<std::mutex> lock(out_queue_mutex_);
  out_queue_.clear();
}

TServerClient::PingState TServerClient::PingSnapshot() {
  std::lock_guard<std::mutex> lock(ping_mutex);
  return Ping;
}

plat::Endpoint TServerClient::Peer() const {
  uint64_t packed = peer_.load(std::memory_order_relaxed);
  return plat::Endpoint{static_cast<uint32_t>(packed >> 16), static_cast<uint16_t>(packed & 0xFFFF)};
}

std::string TServerClient::PeerIP() const {
  plat::Endpoint peer = Peer();
  if (peer.ip == 0 && peer.port == 0) return {};
  return peer.IpText();
}

void TServerClient::SetPeer(plat::Endpoint peer) {
  uint64_t packed = (static_cast<uint64_t>(peer.ip) << 16) | peer.port;
  if (peer_.load(std::memory_order_relaxed) != packed) peer_.store(packed, std::memory_order_relaxed);
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
    core::Add(Counters.TcpPacketsSent, 1);
    core::Add(Counters.TcpBytesSent, size);
    if (connection_ && connection_->Write(frame.data(), frame.size())) {
      core::Add(server_counters_->TcpBytesSent, size);
      core::Add(server_counters_->TcpPacketsSent, 1);
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
  QueueAndFlush(wire::FrameWriter(10).Header(Id, wire::kPlayerMoved).U8(player_byte).U8(room_byte).Finish());
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
  QueueAndFlush(wire::FrameWriter(10).Header(Id, wire::kPlayerLeft).U8(player_byte).U8(reason).Finish());
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

namespace {

// The room and player records of ServerLists are plain byte runs, not frames: FrameWriter's
// Finish would write a length field into them.
void PutByte(std::vector<uint8_t>& bytes, int64_t value) {
  if (value < 0 || value > 0xFF) throw wire::FieldRangeError("value does not fit a byte");
  bytes.push_back(static_cast<uint8_t>(value));
}

void PutCountedText(std::vector<uint8_t>& bytes, const std::string& text) {
  size_t length = std::min(text.size(), wire::kNameLength);
  bytes.push_back(static_cast<uint8_t>(length));
  bytes.insert(bytes.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
  bytes.insert(bytes.end(), wire::kNameLength - length, 0);
}

}  // namespace

void TServerClient::SendServerLists(ClientList& clients, RoomList& rooms) {
  const bool older = IsOlderDialect();
  std::vector<uint8_t> player_bytes;
  player_bytes.reserve(255 * 34);
  size_t player_count = 0;
  {
    ClientList::Lock lock = clients.Acquire();
    for (const ClientRef& client : clients.Entries(lock)) {
      PutByte(player_bytes, client->PlayerNo + 1);
      PutByte(player_bytes, client->RoomId.load() + 1);
      if (!older) PutByte(player_bytes, client->IsAdmin ? 1 : 0);
      PutCountedText(player_bytes, client->Name);
      ++player_count;
    }
  }
  std::vector<uint8_t> room_bytes;
  room_bytes.reserve(255 * 32);
  size_t room_count = 0;
  {
    RoomList::Lock lock = rooms.Acquire();
    for (const auto& room : rooms.Entries(lock)) {
      PutByte(room_bytes, room->RoomId + 1);
      PutCountedText(room_bytes, room->Name);
      ++room_count;
    }
  }
  wire::FrameWriter frame(12 + room_bytes.size() + player_bytes.size());
  frame.Header(Id, older ? wire::kServerListsOlder : wire::kServerListsNewer)
      .U8(static_cast<int64_t>(room_count))
      .U8(static_cast<int64_t>(player_count))
      .U16(PlayerNo + 1);
  std::vector<uint8_t> bytes = frame.Finish();
  bytes.insert(bytes.end(), room_bytes.begin(), room_bytes.end());
  bytes.insert(bytes.end(), player_bytes.begin(), player_bytes.end());
  if (bytes.size() > 0xFFFF) throw wire::FieldRangeError("ServerLists longer than its length field");
  wire::StoreU16(bytes.data() + wire::kOffsetLength, static_cast<uint16_t>(bytes.size()));
  QueueFrame(std::move(bytes));
}

}  // namespace clients
