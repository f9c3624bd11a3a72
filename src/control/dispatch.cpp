// The control channel's read loop: one pass per call on the connection's own thread. A pass
// flushes the client's queue, reads one frame, hands it to its command handler, counts it, and
// takes the connection down when the handler or the connection says so.
#include <array>

#include "control/frame_reader.h"
#include "core/servermain.h"
#include "platform/clock.h"

namespace core {
namespace {

// Why a client goes: the reason the server recorded, or what became of its connection. A
// connection the server closed without a recorded reason had output its peer did not read.
const char* LeaveReasonOf(const clients::TServerClient& client, plat::TcpConnection& connection) {
  if (const char* reason = client.LeaveReason.load()) return reason;
  if (!connection.PeerGone() && !connection.IsOpen()) return "slow-reader";
  return "disconnected";
}

// Frames whose command tells every player something.
bool CausesBroadcast(int16_t code) {
  return code == wire::kClientChangeRoom || code == wire::kAdminCreateRoom ||
         code == wire::kAdminDeleteRoom || code == wire::kAdminKickPlayer;
}

}  // namespace

void TParlowindServer::TcpExecute(plat::TcpConnection& connection) {
  try {
    clients::ClientRef client = clients::ClientOf(connection);
    const bool dropped = client && client->Dropped;
    if (client && !dropped) client->FlushQueue();
    std::array<uint8_t, wire::kMaxFrame> frame;
    const control::FrameRead read = control::ReadFrame(connection, frame, dropped);
    const bool frame_read = !read.connection_ended;
    bool disconnect = !frame_read;
    if (frame_read) disconnect = HandleFrame(connection, {frame.data(), read.size}, client);
    // A pass that read no frame is counted as two bytes, as the old read loop counted it.
    uint32_t counted = static_cast<uint32_t>(frame_read ? read.size : 2);
    Add(counters_.TcpPacketsReceived, 1);
    Add(counters_.TcpBytesReceived, counted);
    if (client && !client->Dropped) {
      Add(client->Counters.TcpPacketsReceived, 1);
      Add(client->Counters.TcpBytesReceived, counted);
      client->SetLastSeen(clock_.Now());
      client->FlushQueue();
    }
    if (disconnect) {
      events_.Report("TCP/IP", "Disconnected", EventHook::kNoCode, client.get());
      if (client) {
        event_output_.Emit(LeaveLine(ActorOf(*client), LeaveReasonOf(*client, connection)));
        clients::RemoveClient(clients_, *client, wire::kReasonLeft);
        client->Destroy();
      }
      connection.Close();
    }
  } catch (const std::exception&) {
    // The rest of the pass is skipped; the connection stays, and the next pass goes on.
  }
}

bool TParlowindServer::HandleFrame(plat::TcpConnection& connection, std::span<const uint8_t> frame,
                                   const clients::ClientRef& client) {
  switch (AdmitFrame(client.get(), wire::ReadI16(frame, wire::kOffsetCode))) {
    case security::FrameVerdict::kHandle:
      return DispatchFrame(connection, frame, client);
    case security::FrameVerdict::kDrop:
      return false;
    case security::FrameVerdict::kDisconnect:
      return true;
  }
  return false;
}

security::FrameVerdict TParlowindServer::AdmitFrame(clients::TServerClient* client,
                                                    int16_t code) {
  // Before login a connection gets one frame only: its login, or it is closed.
  if (!client) return security::FrameVerdict::kHandle;
  guard_.Refresh(client->FrameLimit);
  const uint64_t now_ms = clock_.MonotonicMs();
  const security::FrameVerdict verdict = client->FrameLimit.Admit(now_ms);
  // The connections of one address share a budget for what reaches every player.
  if (verdict == security::FrameVerdict::kHandle && CausesBroadcast(code) &&
      !guard_.broadcast_budget().Admit(client->Connection()->Peer().ip, now_ms)) {
    security::Count(guard_.counters().BroadcastFramesDropped);
    return security::FrameVerdict::kDrop;
  }
  switch (verdict) {
    case security::FrameVerdict::kHandle:
      break;
    case security::FrameVerdict::kDrop:
      security::Count(guard_.counters().FramesDropped);
      break;
    case security::FrameVerdict::kDisconnect:
      security::Count(guard_.counters().FloodDisconnects);
      events_.Report("ALERT", "Disconnected: too many frames", EventHook::kNoCode, client);
      client->LeaveReason = "rate-limit";
      break;
  }
  return verdict;
}

bool TParlowindServer::DispatchFrame(plat::TcpConnection& connection,
                                     std::span<const uint8_t> frame,
                                     const clients::ClientRef& client) {
  const int16_t code = wire::ReadI16(frame, wire::kOffsetCode);
  if (code == wire::kClientLogin) return ClientLogin(connection, frame);
  if (!client) return true;  // only a login is accepted before login: the connection closes
  bool disconnect = false;
  clients::TServerClient& sender = *client;
  switch (code) {
    case wire::kClientListsReq:
      disconnect = ClientListsReq(connection, frame, sender);
      break;
    case wire::kClientChangeRoom:
      ClientChangeRoom(frame, sender);
      break;
    case wire::kClientLeave:
      disconnect = ClientLeave(sender);
      break;
    case wire::kPlayerStatsReq:
      PlayerStatsReq(frame, sender);
      break;
    case wire::kServerStatsReq:
      ServerStatsReq(sender);
      break;
    case wire::kAdminLogin:
      disconnect = AdminLogin(frame, sender);
      break;
    case wire::kAdminCreateRoom:
      AdminCreateRoom(frame, sender);
      break;
    case wire::kAdminDeleteRoom:
      AdminDeleteRoom(frame, sender);
      break;
    case wire::kAdminKickPlayer:
      AdminKickPlayer(frame, sender);
      break;
    case wire::kAdminChangeServerPassword:
      AdminChangeServerPassword(frame, sender);
      break;
    case wire::kAdminSaveAsDefaultChannels:
      AdminSaveAsDefaultChannels(sender);
      break;
    case wire::kAdminChangeAdminPassword:
      AdminChangeAdminPassword(frame, sender);
      break;
    default:
      break;  // counted and otherwise ignored
  }
  return disconnect;
}

}  // namespace core
