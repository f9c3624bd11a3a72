#include "clients/serverfunctions.h"

#include <algorithm>

#include "platform/ascii_case.h"
#include "platform/random.h"

namespace clients {
namespace {

// The lowest number from 0 to 254 that no entry of `entries` holds in `field`.
template <typename Entries, typename Field>
uint8_t LowestFreeNumber(const Entries& entries, Field field, const char* full) {
  bool used[wire::kMaxNumbers] = {};
  for (const auto& entry : entries) {
    const auto number = field(*entry);
    if (number >= 0 && number < wire::kMaxNumbers) used[number] = true;
  }
  for (int candidate = 0; candidate < wire::kMaxNumbers; ++candidate) {
    if (!used[candidate]) return static_cast<uint8_t>(candidate);
  }
  throw RegistryFull(full);
}

}  // namespace

size_t ClientList::Count() {
  Lock lock = Acquire();
  return clients_.size();
}

uint8_t ClientList::NextFreePlayerNo(const Lock&) const {
  return LowestFreeNumber(
      clients_, [](const TServerClient& client) { return static_cast<int>(client.PlayerNo); },
      "all player numbers are in use");
}

uint16_t ClientList::NewClientId(const Lock&) {
  if (clients_.size() >= kMaxId) throw RegistryFull("all client Ids are in use");
  // Uniform: 16-bit draws at or past the last whole multiple of 50000 are drawn again.
  constexpr uint32_t kWhole = 65536 - 65536 % kMaxId;
  for (;;) {
    uint16_t draw = 0;
    plat::FillRandom(&draw, sizeof draw);
    if (draw >= kWhole) continue;
    const auto id = static_cast<uint16_t>(1 + draw % kMaxId);
    if (std::find(ids_.begin(), ids_.end(), id) == ids_.end()) return id;
  }
}

void ClientList::Append(const Lock&, ClientRef client) {
  ids_.push_back(client->Id);
  clients_.push_back(std::move(client));
}

TServerClient* ClientList::FindByIdLocked(const Lock&, uint32_t id) const {
  if (id > 0xFFFF) return nullptr;
  auto at = std::find(ids_.begin(), ids_.end(), static_cast<uint16_t>(id));
  return at == ids_.end() ? nullptr : clients_[static_cast<size_t>(at - ids_.begin())].get();
}

ClientRef ClientList::FindClientById(uint32_t id) {
  Lock lock = Acquire();
  TServerClient* found = FindByIdLocked(lock, id);
  return found ? found->shared_from_this() : nullptr;
}

ClientRef ClientList::FindClientByPlayerNo(uint8_t player_no) {
  Lock lock = Acquire();
  for (const ClientRef& client : clients_) {
    if (client->PlayerNo == player_no) return client;
  }
  return nullptr;
}

bool ClientList::HasClientForConnection(const plat::TcpConnection* connection) {
  Lock lock = Acquire();
  return std::any_of(clients_.begin(), clients_.end(), [connection](const ClientRef& client) {
    return client->Connection().get() == connection;
  });
}

bool ClientList::Remove(const TServerClient* client) {
  Lock lock = Acquire();
  for (size_t i = 0; i < clients_.size(); ++i) {
    if (clients_[i].get() == client) {
      clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(i));
      ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

std::vector<ClientRef> ClientList::TakeAll() {
  Lock lock = Acquire();
  std::vector<ClientRef> all = std::move(clients_);
  clients_.clear();
  ids_.clear();
  return all;
}

template <typename Send>
void ClientList::Broadcast(Send&& send) {
  Lock lock = Acquire();
  for (const ClientRef& client : clients_) send(*client);
}

void ClientList::BroadcastPlayerMoved(const TServerClient& mover, int room_byte) {
  Broadcast([&](TServerClient& to) { to.SendPlayerMoved(mover.PlayerNo + 1, room_byte); });
}

void ClientList::BroadcastPlayerJoined(const TServerClient& joiner) {
  Broadcast([&](TServerClient& to) {
    if (&to != &joiner) to.SendPlayerJoined(joiner.PlayerNo + 1, 1, joiner.Name);
  });
}

void ClientList::BroadcastPlayerLeft(const TServerClient& leaver, int reason) {
  Broadcast([&](TServerClient& to) { to.SendPlayerLeft(leaver.PlayerNo + 1, reason); });
}

void ClientList::BroadcastRoomCreated(const TRoom& room) {
  Broadcast([&](TServerClient& to) { to.SendRoomCreated(room.RoomId + 1, room.Name); });
}

void ClientList::BroadcastRoomDeleted(const TRoom& room) {
  Broadcast([&](TServerClient& to) { to.SendRoomDeleted(room.RoomId + 1); });
}

void ClientList::BroadcastPlayerIsAdmin(const TServerClient& admin) {
  Broadcast([&](TServerClient& to) {
    if (!to.IsOlderDialect()) to.SendPlayerIsAdmin(admin.PlayerNo + 1);
  });
}

uint8_t RoomList::NextFreeRoomId(const Lock&) const {
  return LowestFreeNumber(
      rooms_, [](const TRoom& room) { return static_cast<int>(room.RoomId); },
      "all room numbers are in use");
}

std::optional<TRoom> RoomList::FindRoom(uint8_t room_id) {
  Lock lock = Acquire();
  for (const auto& room : rooms_) {
    if (room->RoomId == room_id) return *room;
  }
  return std::nullopt;
}

TRoom RoomList::CreateRoom(const std::string& name) {
  TRoom created;
  {
    Lock lock = Acquire();
    created.RoomId = NextFreeRoomId(lock);
    created.Name = name.substr(0, wire::kNameLength);
    rooms_.push_back(std::make_unique<TRoom>(created));
  }
  clients_.BroadcastRoomCreated(created);
  return created;
}

bool RoomList::HasRoomNamed(const std::string& name) {
  Lock lock = Acquire();
  return std::any_of(rooms_.begin(), rooms_.end(), [&name](const auto& room) {
    return plat::EqualsIgnoringAsciiCase(room->Name, name);
  });
}

RoomRemoval RoomList::RemoveRoomNamedIfEmpty(const std::string& name, TRoom* removed) {
  Lock lock = Acquire();
  auto at = std::find_if(rooms_.begin(), rooms_.end(), [&name](const auto& room) {
    return plat::EqualsIgnoringAsciiCase(room->Name, name);
  });
  if (at == rooms_.end()) return RoomRemoval::kNoSuchRoom;
  {
    // The room registry's lock, then the client registry's: their order everywhere.
    ClientList::Lock clients_lock = clients_.Acquire();
    for (const ClientRef& client : clients_.Entries(clients_lock)) {
      if (!client->Dropped && client->RoomId == (*at)->RoomId) return RoomRemoval::kOccupied;
    }
  }
  *removed = **at;
  clients_.BroadcastRoomDeleted(**at);
  rooms_.erase(at);
  return RoomRemoval::kRemoved;
}

std::optional<TRoom> RoomList::RemoveRoom(uint8_t room_id) {
  Lock lock = Acquire();
  auto at = std::find_if(rooms_.begin(), rooms_.end(),
                         [room_id](const auto& room) { return room->RoomId == room_id; });
  if (at == rooms_.end()) return std::nullopt;
  TRoom removed = **at;
  clients_.BroadcastRoomDeleted(removed);
  rooms_.erase(at);
  return removed;
}

size_t RoomList::Count() {
  Lock lock = Acquire();
  return rooms_.size();
}

void RemoveClient(ClientList& clients, TServerClient& client, int reason) {
  ClientList::Lock lock = clients.Acquire();
  AnnounceDeparture(clients, client, nullptr, reason);
  clients.Remove(&client);
}

bool AnnounceDeparture(ClientList& clients, TServerClient& client, const char* why, int reason) {
  // The lock is re-entrant: the broadcast takes it again.
  ClientList::Lock lock = clients.Acquire();
  if (clients.FindByIdLocked(lock, client.Id) != &client) return false;
  if (client.Dropped.exchange(true)) return false;
  if (why) client.LeaveReason = why;
  clients.BroadcastPlayerLeft(client, reason);
  return true;
}

}  // namespace clients
