// The two registries: RoomList (the rooms) and ClientList (the logged-in clients), their
// lookups, the lowest-free number allocation, client Ids from the system's random source, and
// the broadcasts that tell every registered client about a change.
//
// Lock order: RoomList before ClientList before a client's OutQueue lock. The ClientList lock is
// re-entrant for its holder. Broadcasts hold the ClientList lock while they queue and flush each
// recipient's frame; flushing never waits for a slow peer.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "clients/serverclasses.h"

namespace clients {

struct TRoom {
  uint8_t RoomId = 0;
  std::string Name;  // at most 30 characters
};

// A registry is full: all numbers 0..254 are in use.
class RegistryFull : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ClientList {
 public:
  using Lock = std::unique_lock<std::recursive_mutex>;
  static constexpr uint32_t kMaxId = 50000;

  ClientList() = default;
  ClientList(const ClientList&) = delete;
  ClientList& operator=(const ClientList&) = delete;

  Lock Acquire() { return Lock(mutex_); }
  // REQUIRES: the lock from Acquire held for as long as the result is used.
  const std::vector<ClientRef>& Entries(const Lock&) const { return clients_; }
  size_t Count();

  // REQUIRES: lock held. Throws RegistryFull when 0..254 are all taken.
  uint8_t NextFreePlayerNo(const Lock&) const;
  // REQUIRES: lock held. Uniform over 1..50000, never an Id in use, drawn from the system's
  // cryptographic random source: one login tells nothing of another's Id. Throws
  // std::runtime_error when the source fails (no login then).
  uint16_t NewClientId(const Lock&);
  // REQUIRES: lock held.
  void Append(const Lock&, ClientRef client);
  // REQUIRES: lock held. The client or null; the pointer is valid while the lock is held.
  TServerClient* FindByIdLocked(const Lock&, uint32_t id) const;

  ClientRef FindClientById(uint32_t id);
  ClientRef FindClientByPlayerNo(uint8_t player_no);
  bool HasClientForConnection(const plat::TcpConnection* connection);
  // Takes the client out of the list (no broadcast); false when it was not registered.
  bool Remove(const TServerClient* client);
  // Removes and returns every client (shutdown).
  std::vector<ClientRef> TakeAll();

  // The broadcasts. Each holds the lock for its whole run.
  void BroadcastPlayerMoved(const TServerClient& mover, int room_byte);
  void BroadcastPlayerJoined(const TServerClient& joiner);
  void BroadcastPlayerLeft(const TServerClient& leaver, int reason);
  void BroadcastRoomCreated(const TRoom& room);
  void BroadcastRoomDeleted(const TRoom& room);
  void BroadcastPlayerIsAdmin(const TServerClient& admin);

 private:
  template <typename Send>
  void Broadcast(Send&& send);

  std::recursive_mutex mutex_;
  std::vector<ClientRef> clients_;  // guarded by mutex_, in login order
  std::vector<uint16_t> ids_;       // guarded by mutex_; ids_[i] is clients_[i]->Id
};

enum class RoomRemoval { kRemoved, kOccupied, kNoSuchRoom };

class RoomList {
 public:
  using Lock = std::unique_lock<std::mutex>;
  explicit RoomList(ClientList& clients) : clients_(clients) {}
  RoomList(const RoomList&) = delete;
  RoomList& operator=(const RoomList&) = delete;

  Lock Acquire() { return Lock(mutex_); }
  // REQUIRES: lock held.
  const std::vector<std::unique_ptr<TRoom>>& Entries(const Lock&) const { return rooms_; }
  // REQUIRES: lock held. Throws RegistryFull when 0..254 are all taken.
  uint8_t NextFreeRoomId(const Lock&) const;

  std::optional<TRoom> FindRoom(uint8_t room_id);
  // Whether a room of that name exists, letter case of ASCII letters aside.
  bool HasRoomNamed(const std::string& name);
  // Appends a room with the lowest free RoomId and the name cut to 30 characters, then tells
  // every registered client. Throws RegistryFull, adding nothing, when the registry is full.
  TRoom CreateRoom(const std::string& name);
  // Tells every client, then removes the room and returns it; nothing when there is no such
  // room.
  std::optional<TRoom> RemoveRoom(uint8_t room_id);
  // The room of that name (letter case of ASCII letters aside), removed as RemoveRoom does
  // unless a registered client is in it; `removed` receives the room removed.
  RoomRemoval RemoveRoomNamedIfEmpty(const std::string& name, TRoom* removed);
  size_t Count();

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<TRoom>> rooms_;  // guarded by mutex_, in creation order
  ClientList& clients_;
};

// Announces the departure (unless it has been announced, Dropped) and takes the client out of
// the list, as one step under the list's lock. The caller destroys it.
void RemoveClient(ClientList& clients, TServerClient& client, int reason);

// A departure is announced exactly once, and only while the client is registered: under the
// list's lock, whoever comes first (the client's own leave, a kick, a ban, the end of its
// connection) sets Dropped, records `why` for its leave event line (null: none) and tells every
// client (it included) with PlayerLeft `reason`. False, changing nothing, when the client is
// leaving already or gone, so a kick that races a leave never tells of a player twice, nor of the
// next holder of its number.
bool AnnounceDeparture(ClientList& clients, TServerClient& client, const char* why, int reason);

}  // namespace clients
