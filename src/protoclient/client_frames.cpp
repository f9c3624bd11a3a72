#include "protoclient/client_frames.h"

#include <bit>

#include "wire/global_types.h"

namespace plclient {
namespace {

std::vector<uint8_t> TextFrame(int16_t code, const std::string& text) {
  return wire::FrameWriter(39).Header(0, code).CountedText(text, wire::kNameLength).Finish();
}

std::vector<uint8_t> ByteFrame(int16_t code, uint8_t value) {
  return wire::FrameWriter(9).Header(0, code).U8(value).Finish();
}

std::span<const uint8_t> View(const Frame& frame) {
  return frame.bytes;
}

bool Is(const Frame& frame, int16_t code, size_t size) {
  return frame.size() == size && frame.Code() == code && frame.Length() == size;
}

std::string Text(const Frame& frame, size_t offset, size_t max_length) {
  return wire::ReadCountedText(View(frame), offset, max_length);
}

Counters ReadCounters(const Frame& frame, size_t offset) {
  auto at = [&](size_t i) { return wire::ReadU32(View(frame), offset + 4 * i); };
  return Counters{at(0), at(1), at(2), at(3), at(4), at(5), at(6), at(7)};
}

}  // namespace

std::vector<uint8_t> ClientLoginFrame(const std::string& name, const std::string& password,
                                      const std::string& version) {
  return wire::FrameWriter(101)
      .Header(0, wire::kClientLogin)
      .CountedText(name, wire::kNameLength)
      .CountedText(password, wire::kNameLength)
      .CountedText(version, wire::kNameLength)
      .Finish();
}
std::vector<uint8_t> ClientListsReqFrame(uint8_t option, uint8_t mode) {
  return wire::FrameWriter(10).Header(0, wire::kClientListsReq).U8(option).U8(mode).Finish();
}
std::vector<uint8_t> ClientChangeRoomFrame(uint8_t room_byte) {
  return ByteFrame(wire::kClientChangeRoom, room_byte);
}
std::vector<uint8_t> ClientLeaveFrame() {
  return BareFrame(wire::kClientLeave);
}
std::vector<uint8_t> AdminLoginFrame(const std::string& password) {
  return TextFrame(wire::kAdminLogin, password);
}
std::vector<uint8_t> AdminCreateRoomFrame(const std::string& name) {
  return TextFrame(wire::kAdminCreateRoom, name);
}
std::vector<uint8_t> AdminDeleteRoomFrame(uint8_t room_byte) {
  return ByteFrame(wire::kAdminDeleteRoom, room_byte);
}
std::vector<uint8_t> AdminKickPlayerFrame(uint8_t player_byte) {
  return ByteFrame(wire::kAdminKickPlayer, player_byte);
}
std::vector<uint8_t> AdminChangeServerPasswordFrame(const std::string& password) {
  return TextFrame(wire::kAdminChangeServerPassword, password);
}
std::vector<uint8_t> AdminSaveAsDefaultChannelsFrame() {
  return BareFrame(wire::kAdminSaveAsDefaultChannels);
}
std::vector<uint8_t> AdminChangeAdminPasswordFrame(const std::string& password) {
  return TextFrame(wire::kAdminChangeAdminPassword, password);
}
std::vector<uint8_t> PlayerStatsReqFrame(uint8_t player_byte) {
  return ByteFrame(wire::kPlayerStatsReq, player_byte);
}
std::vector<uint8_t> ServerStatsReqFrame() {
  return BareFrame(wire::kServerStatsReq);
}
std::vector<uint8_t> BareFrame(int16_t code) {
  return wire::FrameWriter(8).Header(0, code).Finish();
}

uint16_t Frame::Magic() const {
  return wire::ReadU16(bytes, wire::kOffsetMagic);
}
uint16_t Frame::Id() const {
  return wire::ReadU16(bytes, wire::kOffsetId);
}
uint16_t Frame::Length() const {
  return wire::ReadU16(bytes, wire::kOffsetLength);
}
int16_t Frame::Code() const {
  return wire::ReadI16(bytes, wire::kOffsetCode);
}

std::optional<Result> ParseResult(const Frame& frame) {
  if (frame.size() != wire::kHeaderSize || frame.Length() != wire::kHeaderSize) return std::nullopt;
  return Result{frame.Id(), frame.Code()};
}

std::optional<LoginAccepted> ParseLoginAccepted(const Frame& frame) {
  if (!Is(frame, wire::kLoginAccepted, kLoginAcceptedSize)) return std::nullopt;
  LoginAccepted accepted{frame.Id(), Text(frame, 8, wire::kNameLength), {}};
  for (size_t i = 0; i < 4; ++i) accepted.tail[i] = frame.bytes[39 + i];
  return accepted;
}

std::optional<ServerLists> ParseServerLists(const Frame& frame) {
  if (frame.size() < 12 || frame.Length() != frame.size()) return std::nullopt;
  const bool older = frame.Code() == wire::kServerListsOlder;
  if (!older && frame.Code() != wire::kServerListsNewer) return std::nullopt;
  const size_t room_count = frame.bytes[8];
  const size_t player_count = frame.bytes[9];
  const size_t record = older ? kOlderPlayerRecordSize : kNewerPlayerRecordSize;
  if (frame.size() != 12 + room_count * kRoomRecordSize + player_count * record)
    return std::nullopt;
  ServerLists lists;
  lists.id = frame.Id();
  lists.older = older;
  lists.own_player_byte = wire::ReadU16(View(frame), 10);
  size_t at = 12;
  for (size_t i = 0; i < room_count; ++i, at += kRoomRecordSize) {
    lists.rooms.push_back({frame.bytes[at], Text(frame, at + 1, wire::kNameLength)});
  }
  for (size_t i = 0; i < player_count; ++i, at += record) {
    PlayerRecord player{frame.bytes[at], frame.bytes[at + 1], false, {}};
    if (!older) player.is_admin = frame.bytes[at + 2] != 0;
    player.name = Text(frame, at + (older ? 2 : 3), wire::kNameLength);
    lists.players.push_back(std::move(player));
  }
  return lists;
}

std::optional<PlayerMoved> ParsePlayerMoved(const Frame& frame) {
  if (!Is(frame, wire::kPlayerMoved, 10)) return std::nullopt;
  return PlayerMoved{frame.Id(), frame.bytes[8], frame.bytes[9]};
}

std::optional<PlayerJoined> ParsePlayerJoined(const Frame& frame) {
  if (!Is(frame, wire::kPlayerJoined, 41)) return std::nullopt;
  return PlayerJoined{frame.Id(), frame.bytes[8], frame.bytes[9],
                      Text(frame, 10, wire::kNameLength)};
}

std::optional<PlayerLeft> ParsePlayerLeft(const Frame& frame) {
  if (!Is(frame, wire::kPlayerLeft, 10)) return std::nullopt;
  return PlayerLeft{frame.Id(), frame.bytes[8], frame.bytes[9]};
}

std::optional<RoomCreated> ParseRoomCreated(const Frame& frame) {
  if (!Is(frame, wire::kRoomCreated, 40)) return std::nullopt;
  return RoomCreated{frame.Id(), frame.bytes[8], Text(frame, 9, wire::kNameLength)};
}

std::optional<RoomDeleted> ParseRoomDeleted(const Frame& frame) {
  if (!Is(frame, wire::kRoomDeleted, 9)) return std::nullopt;
  return RoomDeleted{frame.Id(), frame.bytes[8]};
}

std::optional<PlayerIsAdmin> ParsePlayerIsAdmin(const Frame& frame) {
  if (!Is(frame, wire::kPlayerIsAdmin, 9)) return std::nullopt;
  return PlayerIsAdmin{frame.Id(), frame.bytes[8]};
}

std::optional<PlayerStats> ParsePlayerStats(const Frame& frame) {
  const bool older = Is(frame, wire::kPlayerStatsOlder, kOlderPlayerStatsSize);
  if (!older && !Is(frame, wire::kPlayerStatsNewer, kNewerPlayerStatsSize)) return std::nullopt;
  std::span<const uint8_t> bytes = View(frame);
  PlayerStats stats;
  stats.id = frame.Id();
  stats.older = older;
  stats.connected_ms = wire::ReadU32(bytes, 8);
  stats.loss_percentage = std::bit_cast<float>(wire::ReadU32(bytes, 12));
  stats.idle_ms = wire::ReadU32(bytes, 16);
  stats.ping_rtt = wire::ReadU16(bytes, 20);
  stats.peer_port = wire::ReadU16(bytes, 22);
  stats.peer_ip = Text(frame, 24, wire::kAddressLength);
  size_t counters_at = 40;
  if (!older) {
    stats.version = Text(frame, 40, wire::kNameLength);
    counters_at = 71;
  }
  stats.counters = ReadCounters(frame, counters_at);
  stats.player_byte = frame.bytes[counters_at + 32];
  return stats;
}

std::optional<ServerStats> ParseServerStats(const Frame& frame) {
  if (!Is(frame, wire::kServerStats, kServerStatsSize)) return std::nullopt;
  return ServerStats{frame.Id(), wire::ReadU32(View(frame), 8), ReadCounters(frame, 12),
                     Text(frame, 44, wire::kNameLength)};
}

std::string DescribeFrame(const Frame& frame) {
  std::string kind;
  if (ParseResult(frame)) {
    kind = "Result " + std::to_string(frame.Code());
  } else if (ParseLoginAccepted(frame)) {
    kind = "LoginAccepted";
  } else if (ParseServerLists(frame)) {
    kind = "ServerLists";
  } else if (ParsePlayerMoved(frame)) {
    kind = "PlayerMoved";
  } else if (ParsePlayerJoined(frame)) {
    kind = "PlayerJoined";
  } else if (ParsePlayerLeft(frame)) {
    kind = "PlayerLeft";
  } else if (ParseRoomCreated(frame)) {
    kind = "RoomCreated";
  } else if (ParseRoomDeleted(frame)) {
    kind = "RoomDeleted";
  } else if (ParsePlayerIsAdmin(frame)) {
    kind = "PlayerIsAdmin";
  } else if (ParsePlayerStats(frame)) {
    kind = "PlayerStats";
  } else if (ParseServerStats(frame)) {
    kind = "ServerStats";
  } else {
    kind = "unknown frame code " + std::to_string(frame.Code());
  }
  return kind + " (" + std::to_string(frame.size()) + " bytes)";
}

}  // namespace plclient
