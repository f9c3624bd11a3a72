// Client side of the control protocol: the frames a client sends, and the frames the server sends
// parsed into plain records. Parsers take the frame as received and check its code and size;
// a frame of the wrong kind or size gives nothing.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace plclient {

// --- Frames a client sends ----------------------------------------------------------------
std::vector<uint8_t> ClientLoginFrame(const std::string& name, const std::string& password,
                                      const std::string& version);
std::vector<uint8_t> ClientListsReqFrame(uint8_t option, uint8_t mode);
std::vector<uint8_t> ClientChangeRoomFrame(uint8_t room_byte);
std::vector<uint8_t> ClientLeaveFrame();
std::vector<uint8_t> AdminLoginFrame(const std::string& password);
std::vector<uint8_t> AdminCreateRoomFrame(const std::string& name);
std::vector<uint8_t> AdminDeleteRoomFrame(uint8_t room_byte);
std::vector<uint8_t> AdminKickPlayerFrame(uint8_t player_byte);
std::vector<uint8_t> AdminChangeServerPasswordFrame(const std::string& password);
std::vector<uint8_t> AdminSaveAsDefaultChannelsFrame();
std::vector<uint8_t> AdminChangeAdminPasswordFrame(const std::string& password);
std::vector<uint8_t> PlayerStatsReqFrame(uint8_t player_byte);
std::vector<uint8_t> ServerStatsReqFrame();
// A header-only frame with any code (for codes the server does not know).
std::vector<uint8_t> BareFrame(int16_t code);

// --- Frames the server sends --------------------------------------------------------------
struct Frame {
  std::vector<uint8_t> bytes;
  uint16_t Magic() const;
  uint16_t Id() const;
  uint16_t Length() const;
  int16_t Code() const;
  size_t size() const { return bytes.size(); }
};

constexpr size_t kLoginAcceptedSize = 43;
constexpr size_t kOlderPlayerRecordSize = 33;
constexpr size_t kNewerPlayerRecordSize = 34;
constexpr size_t kRoomRecordSize = 32;
constexpr size_t kOlderPlayerStatsSize = 73;
constexpr size_t kNewerPlayerStatsSize = 104;
constexpr size_t kServerStatsSize = 75;

// Eight counters in wire order: UDP packets sent, bytes sent, packets received, bytes received,
// then the same four for TCP.
struct Counters {
  uint32_t udp_packets_sent = 0, udp_bytes_sent = 0, udp_packets_received = 0,
           udp_bytes_received = 0;
  uint32_t tcp_packets_sent = 0, tcp_bytes_sent = 0, tcp_packets_received = 0,
           tcp_bytes_received = 0;
};

// Any 8-byte frame: the code field is the result value.
struct Result {
  uint16_t id = 0;
  int16_t value = 0;
};
struct LoginAccepted {
  uint16_t id = 0;
  std::string servername;
  std::array<uint8_t, 4> tail{};  // bytes 39..42
};
struct RoomRecord {
  uint8_t room_byte = 0;
  std::string name;
};
struct PlayerRecord {
  uint8_t player_byte = 0;
  uint8_t room_byte = 0;
  bool is_admin = false;  // newer dialect only
  std::string name;
};
struct ServerLists {
  uint16_t id = 0;
  bool older = false;  // code 2 with 33-byte player records, else code 3 with 34-byte records
  uint16_t own_player_byte = 0;
  std::vector<RoomRecord> rooms;
  std::vector<PlayerRecord> players;
};
struct PlayerMoved {
  uint16_t id = 0;
  uint8_t player_byte = 0, room_byte = 0;
};
struct PlayerJoined {
  uint16_t id = 0;
  uint8_t player_byte = 0, room_byte = 0;
  std::string name;
};
struct PlayerLeft {
  uint16_t id = 0;
  uint8_t player_byte = 0, reason = 0;
};
struct RoomCreated {
  uint16_t id = 0;
  uint8_t room_byte = 0;
  std::string name;
};
struct RoomDeleted {
  uint16_t id = 0;
  uint8_t room_byte = 0;
};
struct PlayerIsAdmin {
  uint16_t id = 0;
  uint8_t player_byte = 0;
};
struct PlayerStats {
  uint16_t id = 0;
  bool older = false;  // 73 bytes, code 60; else 104 bytes, code 61
  uint32_t connected_ms = 0;
  float loss_percentage = 0;
  uint32_t idle_ms = 0;
  uint16_t ping_rtt = 0;
  uint16_t peer_port = 0;
  std::string peer_ip;
  std::string version;  // newer dialect only
  Counters counters;
  uint8_t player_byte = 0;
};
struct ServerStats {
  uint16_t id = 0;
  uint32_t uptime_ms = 0;
  Counters counters;
  std::string version;
};

std::optional<Result> ParseResult(const Frame& frame);
std::optional<LoginAccepted> ParseLoginAccepted(const Frame& frame);
std::optional<ServerLists> ParseServerLists(const Frame& frame);
std::optional<PlayerMoved> ParsePlayerMoved(const Frame& frame);
std::optional<PlayerJoined> ParsePlayerJoined(const Frame& frame);
std::optional<PlayerLeft> ParsePlayerLeft(const Frame& frame);
std::optional<RoomCreated> ParseRoomCreated(const Frame& frame);
std::optional<RoomDeleted> ParseRoomDeleted(const Frame& frame);
std::optional<PlayerIsAdmin> ParsePlayerIsAdmin(const Frame& frame);
std::optional<PlayerStats> ParsePlayerStats(const Frame& frame);
std::optional<ServerStats> ParseServerStats(const Frame& frame);

// A short name of the frame's kind ("Result", "PlayerMoved", ...), for messages.
std::string DescribeFrame(const Frame& frame);

}  // namespace plclient
