// The client commands: ClientLogin, ClientListsReq, ClientChangeRoom and ClientLeave.
#include "core/servermain.h"
#include "platform/clock.h"

namespace core {
namespace {

constexpr size_t kLoginName = 8;
constexpr size_t kLoginPassword = 39;
constexpr size_t kLoginVersion = 70;
constexpr size_t kListsOption = 8;
constexpr size_t kListsMode = 9;
constexpr size_t kRoomByte = 8;

std::vector<uint8_t> LoginAccepted(const std::string& servername) {
  return wire::FrameWriter(43)
      .Header(0, wire::kLoginAccepted)
      .CountedText(servername, wire::kNameLength)
      .U8(0)
      .U8(2)
      .U8(1)
      .U8(2)
      .Finish();
}

}  // namespace

// Whether `ip` may not log in one more player: the clients logged in from it (from its /64, for
// IPv6) fill the places one address may take, or it has logged in and out too often of late.
// Counts the refusal.
bool TParlowindServer::AddressRefused(const std::vector<clients::ClientRef>& registered,
                                      const plat::IpAddress& ip) {
  const plat::IpAddress group = plat::AddressGroup(ip);
  const size_t from_address = static_cast<size_t>(std::count_if(
      registered.begin(), registered.end(), [&group](const clients::ClientRef& other) {
        return plat::AddressGroup(other->Connection()->Peer().ip) == group;
      }));
  const uint32_t limit = guard_.limits().max_clients_per_address;
  if (limit != 0 && from_address >= limit) {
    security::Count(guard_.counters().ClientsPerAddressRefused);
    return true;
  }
  // Refused without an event line: the lines of the logins it had are what it is refused for.
  if (!guard_.login_churn().Admit(ip, from_address, clock_.MonotonicMs())) {
    security::Count(guard_.counters().LoginChurnRefused);
    return true;
  }
  return false;
}

// Refusals go straight to the connection: there is no client to queue them on.
static void WriteRefusal(plat::TcpConnection& connection, TrafficCounters& counters,
                         int16_t value) {
  std::vector<uint8_t> frame = wire::FrameWriter(8).Header(0, value).Finish();
  if (connection.Write(frame.data(), frame.size())) {
    Add(counters.TcpPacketsSent, 1);
    Add(counters.TcpBytesSent, static_cast<uint32_t>(frame.size()));
  }
}

bool TParlowindServer::ClientLogin(plat::TcpConnection& connection,
                                   std::span<const uint8_t> frame) {
  std::string name = wire::ReadCountedText(frame, kLoginName, wire::kNameLength);
  std::string password = wire::ReadCountedText(frame, kLoginPassword, wire::kNameLength);
  std::string version = wire::ReadCountedText(frame, kLoginVersion, wire::kNameLength);
  if (events_.Enabled()) {
    events_.Report(
        "CMD <-",
        "ClientLogin ClientName: " + name + " ClientPw: " + password + " ClientVer: " + version,
        wire::kClientLogin);
  }
  if (clients_.HasClientForConnection(&connection)) {
    events_.Report("ALERT", "Client already exists", EventHook::kNoCode);
    return false;
  }
  const size_t capacity = settings_.Get()->PlayerCapacity();
  if (clients_.Count() >= capacity) {
    security::Count(guard_.counters().ServerFullRefused);
    WriteRefusal(connection, counters_, wire::kResultServerFull);
    return true;
  }
  // Closed to make room for a newer connection: it does not log in any more.
  if (!connection.IsOpen()) return true;
  const plat::IpAddress ip = connection.Peer().ip;
  // A banned address gets no password check at all (its connections are closed at accept; this
  // one came in just before the ban).
  if (guard_.bans().IsBanned(ip, clock_.MonotonicMs())) return true;
  std::string server_password = passwords_.ServerPassword();
  if (!server_password.empty() && password != server_password) {
    // This connection closes after its answer; a ban must not close it before the answer.
    guard_.pending().Remove(&connection);
    security::Count(guard_.counters().LoginPasswordFailures);
    event_output_.Emit(LoginFailedLine(name, connection.Peer().IpText(), "wrong-server-password"));
    if (RecordAuthFailure(ip))
      WriteRefusal(connection, counters_, wire::kResultWrongServerPassword);
    return true;
  }
  auto client = std::make_shared<clients::TServerClient>(connection.shared_from_this(), &counters_,
                                                         clock_.Now());
  client->SetName(name.substr(0, wire::kNameLength));
  client->SetVersion(version);
  client->FrameLimit = guard_.NewFrameLimiter();
  client->VoiceLimit = guard_.NewVoiceLimiter();
  std::vector<uint8_t> accepted = LoginAccepted(settings_.Get()->Servername);
  {
    clients::ClientList::Lock lock = clients_.Acquire();
    // Checked again under the lock, so two logins at once cannot both take the last place.
    const bool full = clients_.Entries(lock).size() >= capacity;
    if (full || AddressRefused(clients_.Entries(lock), ip)) {
      lock.unlock();
      if (full) security::Count(guard_.counters().ServerFullRefused);
      WriteRefusal(connection, counters_, wire::kResultServerFull);
      return true;
    }
    client->SetPlayerNo(clients_.NextFreePlayerNo(lock));
    client->Id = clients_.NewClientId(lock);
    // LoginAccepted is queued before the client becomes visible, so it is the first frame the
    // client receives, whatever other threads broadcast meanwhile.
    client->QueueFrame(std::move(accepted));
    connection.SetSlot(client);
    connection.ClearInputDeadline();
    clients_.Append(lock, client);
  }
  guard_.pending().Remove(&connection);
  clients_.BroadcastPlayerJoined(*client);
  event_output_.Emit(JoinLine(ActorOf(*client), client->RoomId + 1));
  return false;
}

bool TParlowindServer::ClientListsReq(plat::TcpConnection&, std::span<const uint8_t> frame,
                                      clients::TServerClient& client) {
  if (wire::ReadU8(frame, kListsMode) == 1) {
    client.SendResult(wire::kResultListsRefused);
    return true;
  }
  client.SetJoinOption(wire::ReadU8(frame, kListsOption));
  client.SetJoinFlag(false);
  client.SendServerLists(clients_, rooms_);
  return false;
}

void TParlowindServer::ClientChangeRoom(std::span<const uint8_t> frame,
                                        clients::TServerClient& client) {
  const uint8_t room_byte = wire::ReadU8(frame, kRoomByte);
  if (events_.Enabled()) {
    events_.Report("CMD <->", "ClientChangeRoom RoomId: " + std::to_string(room_byte),
                   wire::kPlayerMoved, &client);
  }
  const int32_t from_room = client.RoomId + 1;
  client.SetRoomId(static_cast<int32_t>(room_byte) - 1);
  event_output_.Emit(MoveLine(ActorOf(client), from_room, room_byte));
  clients_.BroadcastPlayerMoved(client, room_byte);
}

bool TParlowindServer::ClientLeave(clients::TServerClient& client) {
  if (events_.Enabled()) events_.Report("CMD <->", "ClientLeave", wire::kPlayerLeft, &client);
  // A kick or a ban that came first has announced the departure already.
  clients::AnnounceDeparture(clients_, client, "left", wire::kReasonLeft);
  return true;
}

}  // namespace core
