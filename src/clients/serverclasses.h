// TServerClient: the server's record of one logged-in client, with its outgoing frame queue and
// the builders of every frame the server sends to it.
//
// Ownership: shared. ClientList holds one reference while the client is registered, the
// connection's slot another, and any thread that looked the client up holds one while it uses it,
// so a client is never freed under a user. Destroy ends its life as a client (queue emptied, slot
// cleared); the memory goes with the last reference.
//
// Connection: every client has its control connection, from its creation by ClientLogin to its
// end; the constructor refuses a null one, so Connection() is never null and users need not
// check. (Tools and fuzz harnesses that register clients give them a real connection pair.)
//
// Threading: identity (Id, PlayerNo, Name, ClientVersion) is set before the client is registered
// and never changes after. Counters and flags are atomics. The ping fields are guarded by
// ping_mutex. The OutQueue has its own lock, taken after the registry locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clients/event_subject.h"
#include "clients/peer_route.h"
#include "clients/traffic_counters.h"
#include "platform/endpoint.h"
#include "platform/tcp_connection.h"
#include "security/rate_limit.h"
#include "wire/global_types.h"

namespace clients {

class ClientList;
class RoomList;

class TServerClient final : public std::enable_shared_from_this<TServerClient>,
                            public EventSubject,
                            public plat::ConnectionSlot {
 public:
  // `connect_time`: the server clock's tick at the login. Throws std::invalid_argument for a null
  // connection.
  TServerClient(std::shared_ptr<plat::TcpConnection> connection, TrafficCounters* server_counters,
                uint32_t connect_time);
  ~TServerClient();
  TServerClient(const TServerClient&) = delete;
  TServerClient& operator=(const TServerClient&) = delete;

  // Ends the client: Closing is set first, the connection's slot is cleared, queued frames are
  // released. Safe to call more than once.
  void Destroy();

  // --- Fields -----------------------------------------------------------------------------
  std::atomic<bool> Closing{false};
  std::atomic<bool> IsAdmin{false};
  TrafficCounters Counters;  // this client's own traffic, as seen by the server
  std::atomic<bool> Dropped{false};
  std::string Name;           // set before registration
  std::string ClientVersion;  // set before registration
  std::atomic<int32_t> RoomId{0};
  uint8_t PlayerNo = 0;  // set under the ClientList lock before registration
  std::atomic<int32_t> JoinOption{-1};
  std::atomic<bool> JoinFlag{false};
  uint16_t Id = 0;  // set under the ClientList lock before registration
  std::atomic<uint32_t> LastSeen{0};
  std::atomic<uint32_t> LastPacketId{0};
  std::atomic<uint32_t> UdpErrors{0};
  // UdpErrors as a percentage of the datagrams received from it; 0 before the first.
  double LossPercentage() const {
    // The protocol's 32-bit count, as PlayerStats carries it.
    const auto received =
        static_cast<uint32_t>(Counters.UdpPacketsReceived.load(std::memory_order_relaxed));
    if (received == 0) return 0.0;
    return static_cast<double>(UdpErrors.load(std::memory_order_relaxed)) / received * 100.0;
  }
  const uint32_t ConnectTime;  // the server clock's tick at the login
  std::atomic<bool> PingTimedOut{false};
  // Why the server ends this client, for its leave event line (a constant text; null: the
  // connection ended by itself).
  std::atomic<const char*> LeaveReason{nullptr};

  // Abuse limits. FrameLimit and AdminLoginFailures belong to the connection's own thread,
  // VoiceLimit to the datagram intake (under the server lock); both are set before registration.
  security::FrameLimiter FrameLimit;
  security::VoiceLimiter VoiceLimit;
  uint32_t AdminLoginFailures = 0;
  std::atomic<uint32_t> VoiceDropped{0};  // voice datagrams past VoiceLimit

  // Ping state, written by the pinger and by the intake on a pong.
  struct PingState {
    uint32_t PingRtt = 0;
    bool PingPending = false;
    uint32_t PingSentAt = 0;
    int32_t PingTries = 0;
  };
  std::mutex ping_mutex;
  PingState Ping;  // guarded by ping_mutex
  PingState PingSnapshot();

  // The UDP address of the last datagram that carried this client's Id (port 0: none yet).
  plat::Endpoint Peer() const { return route_.Get().peer; }
  // Dotted decimal for IPv4, the IPv6 text for IPv6; empty while none.
  std::string PeerIP() const;
  uint16_t PeerPort() const { return Peer().port; }
  // The peer with the server's address those datagrams were sent to, from which this client's
  // datagrams leave (unspecified: the system chooses).
  PeerRoute::Route Route() const { return route_.Get(); }
  void SetPeer(const plat::Endpoint& peer, const plat::IpAddress& reply_from = plat::IpAddress{});

  bool IsOlderDialect() const { return ClientVersion == wire::kOlderDialectVersion; }
  // Client part of event reports.
  std::string EventClientPart() const override;
  const std::shared_ptr<plat::TcpConnection>& Connection() const { return connection_; }

  // --- Setters --------------------------------------------------------------------------------
  void SetName(std::string name) { Name = std::move(name); }
  void SetVersion(std::string version) { ClientVersion = std::move(version); }
  void SetAdmin(bool value) { IsAdmin = value; }
  void SetPlayerNo(uint8_t value) { PlayerNo = value; }
  void SetRoomId(int32_t value) { RoomId = value; }
  void SetJoinOption(int32_t value) { JoinOption = value; }
  void SetJoinFlag(bool value) { JoinFlag = value; }
  void SetLastSeen(uint32_t tick) { LastSeen.store(tick, std::memory_order_relaxed); }

  // --- Queue --------------------------------------------------------------------------------
  // Frames leave in the order they were queued.
  void QueueFrame(std::vector<uint8_t> frame);
  void QueueBytes(const uint8_t* bytes, int count);
  // Hands every queued frame to the connection, oldest first. Never waits for the peer.
  void FlushQueue();
  size_t QueuedFrames();

  // --- Builders: each builds one frame for this client and, but for SendServerLists, flushes.
  // A value that does not fit its field throws wire::FieldRangeError and queues nothing.
  void SendResult(int32_t value);
  void SendPlayerMoved(int player_byte, int room_byte);
  void SendPlayerJoined(int player_byte, int room_byte, const std::string& name);
  void SendPlayerLeft(int player_byte, int reason);
  void SendRoomCreated(int room_byte, const std::string& room_name);
  void SendRoomDeleted(int room_byte);
  void SendPlayerIsAdmin(int player_byte);
  void SendServerLists(ClientList& clients, RoomList& rooms);

 private:
  void QueueAndFlush(std::vector<uint8_t> frame);

  std::shared_ptr<plat::TcpConnection> connection_;
  TrafficCounters* server_counters_;
  PeerRoute route_;
  std::mutex out_queue_mutex_;
  std::deque<std::vector<uint8_t>> out_queue_;  // guarded by out_queue_mutex_
};

using ClientRef = std::shared_ptr<TServerClient>;

// The logged-in client `connection` serves, or null before login and after the leave.
ClientRef ClientOf(const plat::TcpConnection& connection);

}  // namespace clients
