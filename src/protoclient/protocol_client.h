// The protocol client library: speaks the server's control protocol and voice datagrams, for the
// tests, the benchmark and the operator tools.
//
// ProtocolClient is one control connection. It sends any client frame and reads server frames
// by their length field, each operation within a time limit. Not thread-safe: one thread uses
// one client (a second thread may send while the first reads).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/client_socket.h"
#include "protoclient/client_frames.h"

namespace plclient {

struct ClientOptions {
  int connect_timeout_ms = 2000;
  int send_timeout_ms = 2000;
  // When above 0, the kernel receive buffer of the connection (set before connecting).
  int receive_buffer_bytes = 0;
  // When not 0, the local IPv4 address to connect to an IPv4 server from (host byte order).
  uint32_t local_ip = 0;
};

// What a login brought: LoginAccepted, or the refusal's Result (the connection is then closed by
// the server), or neither when nothing came in time.
struct LoginOutcome {
  std::optional<LoginAccepted> accepted;
  std::optional<Result> refused;
};

class ProtocolClient {
 public:
  // Connects to host:port (host is a dotted IPv4 address, an IPv6 literal or "localhost");
  // nothing and an error text when that fails.
  static std::unique_ptr<ProtocolClient> Connect(const std::string& host, uint16_t port,
                                                 const ClientOptions& options = {},
                                                 std::string* error = nullptr);

  // --- Sending; false when the bytes could not all be sent in time -------------------------
  bool Send(std::span<const uint8_t> bytes);
  bool SendLogin(const std::string& name, const std::string& password, const std::string& version) {
    return Send(ClientLoginFrame(name, password, version));
  }
  bool SendListsReq(uint8_t option = 0, uint8_t mode = 0) {
    return Send(ClientListsReqFrame(option, mode));
  }
  bool SendChangeRoom(uint8_t room_byte) { return Send(ClientChangeRoomFrame(room_byte)); }
  bool SendLeave() { return Send(ClientLeaveFrame()); }
  bool SendAdminLogin(const std::string& password) { return Send(AdminLoginFrame(password)); }
  bool SendAdminCreateRoom(const std::string& name) { return Send(AdminCreateRoomFrame(name)); }
  bool SendAdminDeleteRoom(uint8_t room_byte) { return Send(AdminDeleteRoomFrame(room_byte)); }
  bool SendAdminKickPlayer(uint8_t player_byte) { return Send(AdminKickPlayerFrame(player_byte)); }
  bool SendAdminChangeServerPassword(const std::string& password) {
    return Send(AdminChangeServerPasswordFrame(password));
  }
  bool SendAdminSaveAsDefaultChannels() { return Send(AdminSaveAsDefaultChannelsFrame()); }
  bool SendAdminChangeAdminPassword(const std::string& password) {
    return Send(AdminChangeAdminPasswordFrame(password));
  }
  bool SendPlayerStatsReq(uint8_t player_byte) { return Send(PlayerStatsReqFrame(player_byte)); }
  bool SendServerStatsReq() { return Send(ServerStatsReqFrame()); }

  // --- Receiving -------------------------------------------------------------------------
  // The next server frame, read by its length field; nothing on time-out, on a closed
  // connection or on a malformed header (see LastStatus).
  std::optional<Frame> ReadFrame(int timeout_ms);
  // Reads frames until one matches, dropping the others; nothing when none came in time.
  std::optional<Frame> ReadUntil(const std::function<bool(const Frame&)>& match, int timeout_ms);
  // Reads frames until one parses with `parse`; nothing when none came in time.
  template <typename Parsed>
  std::optional<Parsed> Await(std::optional<Parsed> (*parse)(const Frame&), int timeout_ms) {
    std::optional<Frame> frame =
        ReadUntil([&](const Frame& f) { return parse(f).has_value(); }, timeout_ms);
    return frame ? parse(*frame) : std::nullopt;
  }
  // True when the server closes the connection within the time limit (frames that arrive
  // meanwhile are dropped).
  bool WaitForClose(int timeout_ms);
  // True when nothing at all arrives within the time limit (and the connection stays open).
  bool ExpectSilence(int timeout_ms);
  plat::IoStatus LastStatus() const { return last_status_; }

  // Sends ClientLogin and waits for LoginAccepted or a refusal.
  LoginOutcome Login(const std::string& name, const std::string& password = "",
                     const std::string& version = "1.3.0", int timeout_ms = 2000);

  void ShutdownWrite() { socket_->ShutdownWrite(); }
  plat::Endpoint Local() const { return socket_->Local(); }

 private:
  ProtocolClient(std::unique_ptr<plat::TcpClientSocket> socket, const ClientOptions& options)
      : socket_(std::move(socket)), options_(options) {}
  // Reads until `wanted` bytes are buffered or the time is up.
  bool Fill(size_t wanted, uint32_t started, int timeout_ms);

  std::unique_ptr<plat::TcpClientSocket> socket_;
  ClientOptions options_;
  std::vector<uint8_t> input_;
  plat::IoStatus last_status_ = plat::IoStatus::kOk;
};

}  // namespace plclient
