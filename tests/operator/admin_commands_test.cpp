// The operator's administration commands in this process, beside the control channel's: both
// reach the same operations, so they accept and refuse the same things, a player is kicked once
// whoever kicks it, and the operator hears why the configuration file refused a change.
#include <gtest/gtest.h>

#include <filesystem>

#include "operator/commands.h"
#include "operator/server_wiring.h"
#include "support/test_server.h"

namespace {

using oper::Json;
using pltest::Member;
using pltest::TestServer;

// The error code the command is refused with (and its message in `message`); empty when done.
std::string Refusal(oper::OperatorCommands& commands, const Json& request,
                    std::string* message = nullptr) {
  try {
    commands.Handle(request);
    return "";
  } catch (const oper::CommandError& error) {
    if (message) *message = error.what();
    return error.code();
  }
}

Json PasswordRequest(const std::string& password) {
  return Json{{"command", "password"}, {"which", "server"}, {"password", password}};
}

// The PlayerLeft frames `watcher` has had so far. Frames reach it in order: every PlayerLeft
// sent has come before the RoomCreated this creates; -1 when that never comes.
int LeavesHeard(Member& watcher, core::AdminOperations& admin) {
  if (!admin.CreateRoom(core::Actor::Operator(), "Marker")) return -1;
  int leaves = 0;
  const bool marked = watcher->ReadUntil(
      [&](const plclient::Frame& frame) {
        if (plclient::ParsePlayerLeft(frame)) ++leaves;
        return plclient::ParseRoomCreated(frame).has_value();
      },
      2000).has_value();
  return marked ? leaves : -1;
}

TEST(OperatorAdmin, PasswordsAreRefusedWhereTheControlChannelRefusesThemAndNowhereElse) {
  TestServer server;
  oper::OperatorCommands commands(oper::AccessTo(server.server()));
  Member admin = server.JoinAsAdmin("Admin");
  // A tab is text like any other: the file gives it back and a login frame carries it.
  EXPECT_EQ(Refusal(commands, PasswordRequest("a\tb")), "");
  ASSERT_TRUE(admin->SendAdminChangeServerPassword("c\td"));
  auto changed = admin->Await(&plclient::ParseResult, 2000);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->value, 140);
  // A line break would end its line in the file; longer than a login frame, no one could log in.
  EXPECT_EQ(Refusal(commands, PasswordRequest("x\ny")), "bad-argument");
  EXPECT_EQ(Refusal(commands, PasswordRequest(std::string(31, 'x'))), "bad-argument");
  EXPECT_TRUE(server.Connect()->Login("Late", "c\td").accepted);
  ASSERT_TRUE(server.Restart());
  EXPECT_TRUE(server.Connect()->Login("Later", "c\td").accepted);
}

TEST(OperatorAdmin, TheOperatorHearsWhyTheConfigurationFileRefusedAChange) {
  TestServer server;
  oper::OperatorCommands commands(oper::AccessTo(server.server()));
  std::filesystem::remove(server.ini_path());
  std::filesystem::create_directory(server.ini_path());
  for (const Json& request : {PasswordRequest("new"), Json{{"command", "save-rooms"}}}) {
    std::string message;
    EXPECT_EQ(Refusal(commands, request, &message), "not-saved");
    EXPECT_NE(message.find(server.ini_path() + "): Is a directory"), std::string::npos) << message;
  }
  EXPECT_TRUE(server.Connect()->Login("Late", "").accepted) << "the password stays as it was";
}

TEST(OperatorAdmin, APlayerIsKickedOnceWhoeverKicksIt) {
  TestServer server;
  Member watcher = server.Join("Watcher");
  Member target = server.Join("Target");
  clients::ClientRef kicked =
      server.server().clients().FindClientByPlayerNo(static_cast<uint8_t>(target.player_byte - 1));
  ASSERT_TRUE(kicked);
  core::AdminOperations& admin = server.server().admin();
  EXPECT_TRUE(admin.Kick(core::Actor::Operator(), kicked.get(), target.player_byte));
  EXPECT_FALSE(admin.Kick(core::Actor::Operator(), kicked.get(), target.player_byte));
  EXPECT_EQ(LeavesHeard(watcher, admin), 1);
}

TEST(OperatorAdmin, AKickAfterThePlayerLeftTellsNobodyAndSparesTheNumbersNextHolder) {
  TestServer server;
  Member watcher = server.Join("Watcher");
  Member gone = server.Join("Gone");
  const uint8_t number = gone.player_byte;
  // The kick looked the player up just before its connection dropped.
  clients::ClientRef stale =
      server.server().clients().FindClientByPlayerNo(static_cast<uint8_t>(number - 1));
  ASSERT_TRUE(stale);
  gone.connection.reset();
  ASSERT_TRUE(pltest::WaitUntil([&] { return server.server().clients().Count() == 1; }));
  Member next = server.Join("Next");
  ASSERT_EQ(next.player_byte, number);
  core::AdminOperations& admin = server.server().admin();
  EXPECT_FALSE(admin.Kick(core::Actor::Operator(), stale.get(), number));
  EXPECT_EQ(LeavesHeard(watcher, admin), 1) << "one PlayerLeft for the one departure";
  EXPECT_FALSE(next->ReadUntil(
      [](const plclient::Frame& frame) { return plclient::ParsePlayerLeft(frame).has_value(); },
      200));
}

}  // namespace
