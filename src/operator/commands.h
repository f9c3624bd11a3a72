// The operator's commands: each takes a request (a JSON object with the command's arguments)
// and returns its result, or throws CommandError with a stable code. They use the registries
// and the ban list as the administration commands do, but never through a player's connection,
// and they never write to a socket: the caller sends the answer once every lock is released.
//
// Threading: the operator thread alone calls them, but for ReloadBans, which a reload calls
// from its own thread.
#pragma once

#include <nlohmann/json.hpp>
#include <mutex>
#include <stdexcept>
#include <string>

#include "core/ban_book.h"
#include "operator/server_access.h"

namespace oper {

// The manual bans' book and its helpers are the server's.
using core::BanBook;
using core::kBansSection;
using core::kMaxBanSeconds;
using core::kMaxReasonLength;
using core::ManualBan;
using core::ParsePrefix;
using core::PrefixText;
using core::UtcText;

using Json = nlohmann::ordered_json;

// Stable error codes of answers.
namespace error_code {
inline constexpr char kBadJson[] = "bad-json";        // the line is not JSON
inline constexpr char kBadRequest[] = "bad-request";  // not an object, or no command
inline constexpr char kTooLong[] = "too-long";        // the line passed the length limit
inline constexpr char kUnknownCommand[] = "unknown-command";
inline constexpr char kBadArgument[] = "bad-argument";  // missing or of the wrong type/value
inline constexpr char kNotFound[] = "not-found";        // no such player, room or ban
inline constexpr char kExists[] = "exists";             // a room of that name exists
inline constexpr char kFull[] = "full";                 // a registry or the ban list is full
inline constexpr char kNotSaved[] = "not-saved";        // the configuration file refused it
inline constexpr char kBusy[] = "busy";                 // too many operator connections
inline constexpr char kRefused[] = "refused";  // the configuration file did not pass the check
}  // namespace error_code

class CommandError : public std::runtime_error {
 public:
  CommandError(std::string code, const std::string& message)
      : std::runtime_error(message), code_(std::move(code)) {}
  const std::string& code() const { return code_; }

 private:
  std::string code_;
};

class OperatorCommands {
 public:
  explicit OperatorCommands(ServerAccess access) : access_(std::move(access)) {}

  // Runs the request's command (not watch, which the connection handles); throws CommandError.
  Json Handle(const Json& request);

  // Start-up: reads the bans kept in the configuration file and enforces them.
  void LoadBans();
  // Forgets the bans that have ended and removes them from the file.
  void DropEndedBans();
  // A reload: the file's bans replace the manual bans in force; those new or changed are
  // enforced at once. Any thread.
  void ReloadBans(const plat::IniFile& file, core::ReloadOutcome& outcome);

  ServerAccess& access() { return access_; }

 private:
  Json Status();
  Json List();
  Json Player(const Json& request);
  Json Kick(const Json& request);
  Json Room(const Json& request);
  Json Password(const Json& request);
  Json SaveRooms();
  Json Reload();
  Json Ban(const Json& request);
  Json BanAdd(const Json& request);
  Json BanRemove(const Json& request);
  Json BanList();

  // The player a request names ("player": its number as clients show it, or its name).
  clients::ClientRef FindPlayer(const Json& request);
  // Closes the connections and clients of the block at once.
  void Enforce(const plat::IpPrefix& prefix);
  // Writes the book to the configuration file; the reason when the file cannot take it.
  plat::Status StoreBook(const BanBook& book);

  ServerAccess access_;
  // The bans are changed by the operator's commands and by a reload, which may run on another
  // thread (SIGHUP).
  std::mutex book_mutex_;
  BanBook book_;  // guarded by book_mutex_
};

// Helpers shared by the command files.
std::string StringArgument(const Json& request, const char* name);
int64_t IntegerArgument(const Json& request, const char* name);
// The answer to a change the configuration file did not take, with the file's reason.
CommandError NotSaved(const std::string& reason);

}  // namespace oper
