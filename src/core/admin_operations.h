// The administration operations, each written once for the two who may administer the server:
// an administrator on the control channel and the operator on the operator socket. Each makes
// its change, writes its admin event line naming who made it, and says what became of it; the
// callers answer in their own form (a Result frame, a JSON answer).
//
// A change answered with success has reached memory and, for the passwords and the default
// rooms, the configuration file as well; a refused one has changed neither.
//
// Threading: any thread. The registries and the configuration file take their own locks.
#pragma once

#include <optional>
#include <string>

#include "clients/serverfunctions.h"
#include "core/configuration_file.h"
#include "core/event_output.h"
#include "core/server_events.h"
#include "core/vars.h"
#include "platform/status.h"

namespace core {

enum class PasswordKind { kServer, kAdmin };

// What became of a change that can be refused; `reason` says why it was not done.
struct ChangeResult {
  enum class Outcome { kDone, kBadValue, kNotSaved };
  Outcome outcome = Outcome::kDone;
  std::string reason;
  bool done() const { return outcome == Outcome::kDone; }
};

class AdminOperations {
 public:
  AdminOperations(clients::ClientList& clients, clients::RoomList& rooms, PasswordStore& passwords,
                  ConfigurationFile& config, EventOutput& events)
      : clients_(clients), rooms_(rooms), passwords_(passwords), config_(config), events_(events) {}
  AdminOperations(const AdminOperations&) = delete;
  AdminOperations& operator=(const AdminOperations&) = delete;

  // Creates a room of `name` (cut to 30 characters) and tells every client; nothing when a room
  // of that name exists, letter case of ASCII letters aside. Throws clients::RegistryFull when
  // every room number is in use.
  std::optional<clients::TRoom> CreateRoom(const Actor& by, const std::string& name);
  // Deletes the room clients know as `room_number` (its RoomId + 1) and tells every client;
  // nothing when there is no such room. Clients in it keep their RoomId.
  std::optional<clients::TRoom> DeleteRoom(const Actor& by, int room_number);
  // Kicks `player`, which `by` named as `player_number` (null: nobody has that number). False
  // when there is no such player or it is already leaving.
  bool Kick(const Actor& by, clients::TServerClient* player, int player_number);
  // Writes the new password to the configuration file, then uses it. Refused for a password no
  // login could carry or the file could not give back, and for an empty administrator password.
  ChangeResult ChangePassword(const Actor& by, PasswordKind which, const std::string& password);
  // Writes the rooms as the configuration file's [Channels] in one replacement of the file.
  plat::Status SaveRooms(const Actor& by);

 private:
  clients::ClientList& clients_;
  clients::RoomList& rooms_;
  PasswordStore& passwords_;
  ConfigurationFile& config_;
  EventOutput& events_;
};

}  // namespace core
