// Administration: every command logs in as administrator first (the password comes from
// --admin-password, PLCTL_ADMIN_PASSWORD or a prompt) and then waits for the server's own
// confirmation: a broadcast for rooms and kicks, a Result for passwords and the saved rooms.
#include "commands.h"
#include "text/safe_text.h"
#include "failure.h"
#include "operator_link.h"
#include "session.h"
#include "socket_commands.h"
#include "wire/global_types.h"

namespace plctl {
namespace {

const char kPasswordOptionHelp[] =
    "Through the operator socket (the default) no password is needed. With --host:\n"
    "  --admin-password TEXT    the administrator password (else PLCTL_ADMIN_PASSWORD, else\n"
    "                           --password-file, else a prompt on the terminal with echo off)\n";

void ExpectArguments(const Invocation& invocation, size_t count, const std::string& usage) {
  if (invocation.arguments.size() != count) ThrowUsage("usage: plctl " + usage);
}

// Connects, logs in and becomes administrator; the password is settled before the connection
// so that a prompt does not keep a half-open session waiting.
std::unique_ptr<Session> AdminSession(const Invocation& invocation) {
  const std::string password = AdminPassword(invocation);
  auto session = Session::Open(invocation.global);
  session->AdminLogin(password);
  return session;
}

void Done(const Output& output, Json document, const std::string& text) {
  output.Print(Json::MakeObject().Add("ok", true).Add("done", std::move(document)), text + "\n");
}

int AdminLoginCheck(const Invocation& invocation, const Output& output) {
  ExpectArguments(invocation, 0, "admin-login");
  auto session = AdminSession(invocation);
  session->Leave();
  Done(output, "admin-login", "administrator password accepted");
  return kExitDone;
}

int CreateRoom(const Invocation& invocation, const std::string& name, const Output& output) {
  if (name.empty() || name.size() > wire::kNameLength) {
    ThrowUsage("a room name has 1 to " + std::to_string(wire::kNameLength) + " characters");
  }
  auto session = AdminSession(invocation);
  session->Send(plclient::AdminCreateRoomFrame(name));
  plclient::RoomCreated created = *plclient::ParseRoomCreated(session->AwaitReply(
      [&](const plclient::Frame& f) {
        auto room = plclient::ParseRoomCreated(f);
        return room && room->name == name;
      },
      "RoomCreated"));
  session->Leave();
  Done(
      output,
      Json::MakeObject().Add("room_created", static_cast<int>(created.room_byte)).Add("name", name),
      "room " + std::to_string(created.room_byte) + " " + text::QuotedName(name) + " created");
  return kExitDone;
}

int DeleteRoom(const Invocation& invocation, const std::string& which, const Output& output) {
  auto session = AdminSession(invocation);
  const uint8_t room_byte = ResolveRoom(session->lists(), which);
  session->Send(plclient::AdminDeleteRoomFrame(room_byte));
  session->AwaitReply(
      [room_byte](const plclient::Frame& f) {
        auto deleted = plclient::ParseRoomDeleted(f);
        return deleted && deleted->room_byte == room_byte;
      },
      "RoomDeleted");
  session->Leave();
  Done(output, Json::MakeObject().Add("room_deleted", static_cast<int>(room_byte)),
       "room " + std::to_string(room_byte) + " deleted");
  return kExitDone;
}

int Room(const Invocation& invocation, const Output& output) {
  if (!invocation.global.use_protocol) return SocketRoom(invocation, output);
  const std::string usage = "room create <name> | room delete <room>";
  ExpectArguments(invocation, 2, usage);
  if (invocation.arguments[0] == "create")
    return CreateRoom(invocation, invocation.arguments[1], output);
  if (invocation.arguments[0] == "delete")
    return DeleteRoom(invocation, invocation.arguments[1], output);
  ThrowUsage("usage: plctl " + usage);
}

int Kick(const Invocation& invocation, const Output& output) {
  if (!invocation.global.use_protocol) return SocketKick(invocation, output);
  ExpectArguments(invocation, 1, "kick <player>");
  auto session = AdminSession(invocation);
  const uint8_t player_byte = ResolvePlayer(session->lists(), invocation.arguments[0]);
  session->Send(plclient::AdminKickPlayerFrame(player_byte));
  session->AwaitReply(
      [player_byte](const plclient::Frame& f) {
        auto left = plclient::ParsePlayerLeft(f);
        return left && left->player_byte == player_byte && left->reason == wire::kReasonKicked;
      },
      "PlayerLeft");
  session->Leave();
  Done(output, Json::MakeObject().Add("kicked", static_cast<int>(player_byte)),
       "player " + std::to_string(player_byte) + " kicked");
  return kExitDone;
}

int Password(const Invocation& invocation, const Output& output) {
  if (!invocation.global.use_protocol) return SocketPassword(invocation, output);
  const std::string usage = "password server|admin [<new password>]";
  if (invocation.arguments.empty() || invocation.arguments.size() > 2)
    ThrowUsage("usage: plctl " + usage);
  const std::string& which = invocation.arguments[0];
  if (which != "server" && which != "admin") ThrowUsage("usage: plctl " + usage);
  const std::string value = invocation.arguments.size() == 2
                                ? invocation.arguments[1]
                                : SecretFromUser(invocation.global, "PLCTL_NEW_PASSWORD",
                                                 "New " + which + " password: ", true);
  if (value.size() > wire::kNameLength) {
    ThrowUsage("a password has at most " + std::to_string(wire::kNameLength) + " characters");
  }
  const bool server = which == "server";
  auto session = AdminSession(invocation);
  session->Send(server ? plclient::AdminChangeServerPasswordFrame(value)
                       : plclient::AdminChangeAdminPasswordFrame(value));
  const int16_t done =
      server ? wire::kResultServerPasswordChanged : wire::kResultAdminPasswordChanged;
  session->AwaitReply(
      [done](const plclient::Frame& f) {
        auto result = plclient::ParseResult(f);
        return result && result->value == done;
      },
      "the password's Result");
  session->Leave();
  Done(output, Json::MakeObject().Add("password_changed", which),
       (server ? std::string("server") : std::string("administrator")) + " password changed" +
           (server && value.empty() ? " (no server password now)" : ""));
  return kExitDone;
}

int SaveRooms(const Invocation& invocation, const Output& output) {
  if (!invocation.global.use_protocol) return SocketSaveRooms(invocation, output);
  ExpectArguments(invocation, 0, "save-rooms");
  auto session = AdminSession(invocation);
  session->Send(plclient::AdminSaveAsDefaultChannelsFrame());
  session->AwaitReply(
      [](const plclient::Frame& f) {
        auto result = plclient::ParseResult(f);
        return result && result->value == wire::kResultChannelsSaved;
      },
      "the Result of saving");
  session->Leave();
  Done(output,
       Json::MakeObject().Add("rooms_saved", static_cast<int>(session->lists().rooms.size())),
       std::to_string(session->lists().rooms.size()) + " rooms saved as the default rooms");
  return kExitDone;
}

std::vector<OptionSpec> PasswordOption() {
  return {{"admin-password", true}};
}

}  // namespace

std::vector<CommandSpec> AdminCommands() {
  const std::string password_help = kPasswordOptionHelp;
  return {
      {"admin-login", "check the administrator password",
       "Usage: plctl admin-login [--admin-password TEXT]\n"
       "Logs in as administrator and leaves again: exit code 0 when the password is right,\n"
       "1 when the server refuses it.\n" +
           password_help,
       PasswordOption(), AdminLoginCheck},
      {"room", "create or delete a room",
       "Usage: plctl room create <name>\n"
       "       plctl room delete <room>\n"
       "Creates a room (names are compared without regard to case; a duplicate is refused) or\n"
       "deletes one, given by its number or name. Players in a deleted room stay where they "
       "are.\n" +
           password_help,
       PasswordOption(), Room},
      {"kick", "disconnect a player",
       "Usage: plctl kick <player>\n"
       "Disconnects a player, given by its number or name; everybody is told it was kicked.\n" +
           password_help,
       PasswordOption(), Kick},
      {"password", "change the server or the administrator password",
       "Usage: plctl password server|admin\n"
       "Changes the password at once and in the server's configuration file. The new password\n"
       "comes from --password-file, else PLCTL_NEW_PASSWORD, else a prompt without echo (asked\n"
       "twice); it never needs the command line. An empty server password lets anybody log\n"
       "in. Players logged in already stay.\n" +
           password_help,
       PasswordOption(), Password},
      {"save-rooms", "save the current rooms as the default rooms",
       "Usage: plctl save-rooms\n"
       "Writes the current rooms to the configuration file; the server creates them at its next\n"
       "start.\n" +
           password_help,
       PasswordOption(), SaveRooms},
  };
}

}  // namespace plctl
