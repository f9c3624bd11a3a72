// The administration commands over real connections, and what they leave in the INI file.
#include <gtest/gtest.h>

#include "platform/ini_file.h"
#include "support/test_server.h"

namespace {

using plclient::Frame;
using pltest::IniKeys;
using pltest::Member;
using pltest::TestServer;

std::optional<int16_t> NextResult(Member& member) {
  auto result = member->Await(&plclient::ParseResult, 2000);
  if (!result) return std::nullopt;
  EXPECT_EQ(result->id, member.id);
  return result->value;
}

IniKeys WithExtras() {
  return IniKeys()
      .Set("Channels", "0", "Lobby")
      .Set("Channels", "1", "Games")
      .Set("Passwords", "AdminPassword", "rivet")
      .Raw("; keep this comment\r\n[Custom]\r\nKeep=yes\r\n");
}

std::string IniValue(const TestServer& server, const std::string& section, const std::string& key) {
  return plat::IniFile::Parse(server.ini_path(), server.ReadIni())
      .ReadString(section, key, "<missing>");
}

TEST(Admin, EveryCommandOfANonAdministratorIsRefusedAndChangesNothing) {
  TestServer server(WithExtras());
  Member user = server.Join("User");
  const std::string ini_before = server.ReadIni();
  std::vector<std::vector<uint8_t>> commands = {
      plclient::AdminCreateRoomFrame("New"),       plclient::AdminDeleteRoomFrame(1),
      plclient::AdminKickPlayerFrame(1),           plclient::AdminChangeServerPasswordFrame("x"),
      plclient::AdminSaveAsDefaultChannelsFrame(), plclient::AdminChangeAdminPasswordFrame("y")};
  for (const auto& command : commands) {
    ASSERT_TRUE(user->Send(command));
    EXPECT_EQ(NextResult(user), -100);
  }
  EXPECT_EQ(server.ReadIni(), ini_before);
  EXPECT_EQ(server.server().rooms().Count(), 2u);
  EXPECT_TRUE(server.Connect()->Login("Another").accepted) << "the server password is unchanged";
}

TEST(Admin, WrongPasswordIsRefused) {
  TestServer server(WithExtras());
  Member user = server.Join("User");
  ASSERT_TRUE(user->SendAdminLogin("Rivet"));
  EXPECT_EQ(NextResult(user), -101);
  ASSERT_TRUE(user->SendAdminCreateRoom("New"));
  EXPECT_EQ(NextResult(user), -100);
}

TEST(Admin, OlderDialectAdministratorGetsResult100AndOnlyNewerClientsHearOfIt) {
  TestServer server;
  Member older = server.Join("Older", "1.2.0");
  Member older2 = server.Join("Older2", "1.2.0");
  Member newer = server.Join("Newer", "1.3.0");
  older->Await(&plclient::ParsePlayerJoined, 2000);
  older->Await(&plclient::ParsePlayerJoined, 2000);
  older2->Await(&plclient::ParsePlayerJoined, 2000);
  ASSERT_TRUE(older->SendAdminLogin("rivet"));
  std::optional<Frame> accepted = older->ReadFrame(2000);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->bytes,
            (std::vector<uint8_t>{0xBA, 0xB0, static_cast<uint8_t>(older.id),
                                  static_cast<uint8_t>(older.id >> 8), 8, 0, 100, 0}));
  std::optional<Frame> notice = newer->ReadFrame(2000);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->bytes, (std::vector<uint8_t>{0xBA, 0xB0, static_cast<uint8_t>(newer.id),
                                                 static_cast<uint8_t>(newer.id >> 8), 9, 0, 15, 0,
                                                 older.player_byte}));
  EXPECT_TRUE(older->ExpectSilence(150));
  EXPECT_TRUE(older2->ExpectSilence(1));
}

TEST(Admin, NewerDialectAdministratorLearnsOfItsSuccessFromPlayerIsAdmin) {
  TestServer server;
  Member admin = server.Join("Admin");
  Member other = server.Join("Other");
  admin->Await(&plclient::ParsePlayerJoined, 2000);
  ASSERT_TRUE(admin->SendAdminLogin("rivet"));
  for (Member* member : {&admin, &other}) {
    auto notice = (*member)->Await(&plclient::ParsePlayerIsAdmin, 2000);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->player_byte, admin.player_byte);
    EXPECT_EQ(notice->id, member->id);
  }
  EXPECT_TRUE(admin->ExpectSilence(150)) << "no Result 100 for the newer dialect";
}

TEST(Admin, CreateRoomTakesTheLowestFreeNumberAndRefusesANameInAnyCase) {
  TestServer server(WithExtras());
  Member admin = server.JoinAsAdmin("Admin");
  Member other = server.Join("Other");
  admin->Await(&plclient::ParsePlayerJoined, 2000);
  ASSERT_TRUE(admin->SendAdminCreateRoom("gAMES"));
  EXPECT_EQ(NextResult(admin), -111);
  ASSERT_TRUE(admin->SendAdminDeleteRoom(1));  // Lobby, room 0
  for (Member* member : {&admin, &other}) {
    auto deleted = (*member)->Await(&plclient::ParseRoomDeleted, 2000);
    ASSERT_TRUE(deleted);
    EXPECT_EQ(deleted->room_byte, 1);
  }
  ASSERT_TRUE(admin->SendAdminCreateRoom("Quiet Corner"));
  for (Member* member : {&admin, &other}) {
    std::optional<Frame> frame =
        (*member)->ReadUntil([](const Frame& f) { return f.Code() == 13; }, 2000);
    ASSERT_TRUE(frame);
    std::vector<uint8_t> expected = {0xBA,
                                     0xB0,
                                     static_cast<uint8_t>(member->id),
                                     static_cast<uint8_t>(member->id >> 8),
                                     40,
                                     0,
                                     13,
                                     0,
                                     1,
                                     12};
    for (char c : std::string("Quiet Corner")) expected.push_back(static_cast<uint8_t>(c));
    expected.resize(40, 0);
    EXPECT_EQ(frame->bytes, expected);
  }
}

TEST(Admin, DeleteRoomRefusesAnUnknownRoomAndIgnoresRoomByteZero) {
  TestServer server(WithExtras());
  Member admin = server.JoinAsAdmin("Admin");
  ASSERT_TRUE(admin->SendAdminDeleteRoom(9));
  EXPECT_EQ(NextResult(admin), -120);
  ASSERT_TRUE(admin->SendAdminDeleteRoom(0));
  EXPECT_TRUE(admin->ExpectSilence(200));
  EXPECT_EQ(server.server().rooms().Count(), 2u);
}

TEST(Admin, KickRefusesAnUnknownPlayerAndIgnoresPlayerByteZero) {
  TestServer server;
  Member admin = server.JoinAsAdmin("Admin");
  ASSERT_TRUE(admin->SendAdminKickPlayer(7));
  EXPECT_EQ(NextResult(admin), -130);
  ASSERT_TRUE(admin->SendAdminKickPlayer(0));
  EXPECT_TRUE(admin->ExpectSilence(200));
}

// A kicked client that stays silent loses its connection and its place at once, and its
// departure is announced exactly once, with reason 4.
TEST(Admin, KickedSilentClientIsClosedPromptlyAndItsSlotFreed) {
  TestServer server;
  Member admin = server.JoinAsAdmin("Admin");
  Member victim = server.Join("Victim");
  admin->Await(&plclient::ParsePlayerJoined, 2000);
  ASSERT_TRUE(admin->SendAdminKickPlayer(victim.player_byte));
  for (Member* member : {&admin, &victim}) {
    auto left = (*member)->Await(&plclient::ParsePlayerLeft, 2000);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->player_byte, victim.player_byte);
    EXPECT_EQ(left->reason, 4);
  }
  EXPECT_TRUE(victim->WaitForClose(1500)) << "the kicked connection stays open";
  EXPECT_TRUE(pltest::WaitUntil([&] { return server.server().clients().Count() == 1; }, 1500));
  EXPECT_TRUE(admin->ExpectSilence(200)) << "no second PlayerLeft";
  Member next = server.Join("Next");
  EXPECT_EQ(next.player_byte, victim.player_byte);
}

TEST(Admin, ChangeServerPasswordAnswers140AndWritesOnlyItsKey) {
  TestServer server(WithExtras());
  Member admin = server.JoinAsAdmin("Admin");
  ASSERT_TRUE(admin->SendAdminChangeServerPassword("NewPass"));
  EXPECT_EQ(NextResult(admin), 140);
  EXPECT_TRUE(pltest::WaitUntil(
      [&] { return IniValue(server, "Passwords", "ServerPassword") == "NewPass"; }));
  const std::string ini = server.ReadIni();
  EXPECT_NE(ini.find("; keep this comment"), std::string::npos);
  EXPECT_EQ(IniValue(server, "Custom", "Keep"), "yes");
  EXPECT_EQ(IniValue(server, "Channels", "1"), "Games");
  EXPECT_EQ(IniValue(server, "Passwords", "AdminPassword"), "rivet");
  plclient::LoginOutcome old_password = server.Connect()->Login("Late", "");
  ASSERT_TRUE(old_password.refused);
  EXPECT_EQ(old_password.refused->value, -2);
  EXPECT_TRUE(server.Connect()->Login("Late", "NewPass").accepted);
}

TEST(Admin, ChangeAdminPasswordAnswers160AndAdministratorsStay) {
  TestServer server(WithExtras());
  Member admin = server.JoinAsAdmin("Admin");
  ASSERT_TRUE(admin->SendAdminChangeAdminPassword("Harder"));
  EXPECT_EQ(NextResult(admin), 160);
  EXPECT_TRUE(pltest::WaitUntil(
      [&] { return IniValue(server, "Passwords", "AdminPassword") == "Harder"; }));
  EXPECT_EQ(IniValue(server, "Custom", "Keep"), "yes");
  Member user = server.Join("User");
  ASSERT_TRUE(user->SendAdminLogin("rivet"));
  EXPECT_EQ(NextResult(user), -101);
  ASSERT_TRUE(admin->SendAdminDeleteRoom(99));
  EXPECT_EQ(NextResult(admin), -120) << "still an administrator";
}

TEST(Admin, SaveAsDefaultChannelsWritesTheRoomsInListOrder) {
  TestServer server(
      WithExtras().Set("Channels", "2", "Old Third").Set("Channels", "3", "Old Fourth"));
  Member admin = server.JoinAsAdmin("Admin");
  ASSERT_TRUE(admin->SendAdminDeleteRoom(2));  // Games
  ASSERT_TRUE(admin->SendAdminDeleteRoom(4));  // Old Fourth
  ASSERT_TRUE(admin->SendAdminCreateRoom("Fresh"));
  ASSERT_TRUE(admin->Await(&plclient::ParseRoomCreated, 2000));
  ASSERT_TRUE(admin->SendAdminSaveAsDefaultChannels());
  EXPECT_EQ(NextResult(admin), 150);
  plat::IniFile ini = plat::IniFile::Parse(server.ini_path(), server.ReadIni());
  EXPECT_EQ(ini.ReadString("Channels", "0", ""), "Lobby");
  EXPECT_EQ(ini.ReadString("Channels", "1", ""), "Old Third");
  EXPECT_EQ(ini.ReadString("Channels", "2", ""), "Fresh");
  EXPECT_FALSE(ini.HasKey("Channels", "3"));
  EXPECT_EQ(ini.ReadString("Custom", "Keep", ""), "yes");
  EXPECT_NE(server.ReadIni().find("; keep this comment"), std::string::npos);
}

}  // namespace

namespace {

TEST(Admin, APasswordWithALineBreakIsRefusedAndChangesNothingInMemoryOrFile) {
  TestServer server(WithExtras());
  Member admin = server.JoinAsAdmin("Admin");
  const std::string before = server.ReadIni();
  ASSERT_TRUE(admin->SendAdminChangeServerPassword("x\r\n[Channels]\r\n0=Injected"));
  EXPECT_EQ(NextResult(admin), -140);
  ASSERT_TRUE(admin->SendAdminChangeAdminPassword("y\nz"));
  EXPECT_EQ(NextResult(admin), -160);
  // The connection serves on, and the file is left as it was.
  ASSERT_TRUE(admin->SendServerStatsReq());
  EXPECT_TRUE(admin->Await(plclient::ParseServerStats, 2000).has_value());
  EXPECT_EQ(server.ReadIni(), before);
  // The old passwords stay in force, now and after a restart.
  for (int run = 0; run < 2; ++run) {
    EXPECT_TRUE(server.Connect()->Login("Late", "").accepted) << "run " << run;
    Member again = server.JoinAsAdmin("Again", "rivet");
    EXPECT_NE(again.connection, nullptr);
    if (run == 0) {
      ASSERT_TRUE(server.Restart());
    }
  }
}

TEST(Admin, PasswordsReadBackTheSameAfterARestart) {
  TestServer server(WithExtras());
  Member admin = server.JoinAsAdmin("Admin");
  const std::string server_password = "\"quoted\"";
  const std::string admin_password = "  spaced  ";
  ASSERT_TRUE(admin->SendAdminChangeServerPassword(server_password));
  EXPECT_EQ(NextResult(admin), 140);
  ASSERT_TRUE(admin->SendAdminChangeAdminPassword(admin_password));
  EXPECT_EQ(NextResult(admin), 160);
  ASSERT_TRUE(server.Restart());
  plclient::LoginOutcome unquoted = server.Connect()->Login("Late", "quoted");
  ASSERT_TRUE(unquoted.refused);
  EXPECT_EQ(unquoted.refused->value, -2);
  auto user = server.Connect();
  ASSERT_TRUE(user->Login("Late", server_password).accepted);
  ASSERT_TRUE(user->SendListsReq());
  auto lists = user->Await(&plclient::ParseServerLists, 2000);
  ASSERT_TRUE(lists);
  ASSERT_TRUE(user->SendAdminLogin("spaced"));
  auto refused = user->Await(&plclient::ParseResult, 2000);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->value, -101);
  ASSERT_TRUE(user->SendAdminLogin(admin_password));
  auto notice = user->Await(&plclient::ParsePlayerIsAdmin, 2000);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->player_byte, lists->own_player_byte);
}

TEST(Admin, SavedRoomsWithEmptyOrBlankNamesDoNotCutTheListShortAfterARestart) {
  TestServer server(IniKeys().Set("Channels", "0", "Default").Set("Channels", "1", "Lobby"));
  Member admin = server.JoinAsAdmin("Admin");
  for (const std::string name : {"", "Quiet", "   ", "Last"}) {
    ASSERT_TRUE(admin->SendAdminCreateRoom(name));
    ASSERT_TRUE(admin->Await(&plclient::ParseRoomCreated, 2000)) << name;
  }
  ASSERT_TRUE(admin->SendAdminSaveAsDefaultChannels());
  EXPECT_EQ(NextResult(admin), 150);
  ASSERT_TRUE(server.Restart());
  Member user = server.Join("User");
  std::vector<std::string> names;
  for (const auto& room : user.lists.rooms) names.push_back(room.name);
  // The room without a name cannot be listed (reading stops at an empty name); all others are.
  EXPECT_EQ(names, (std::vector<std::string>{"Default", "Lobby", "Quiet", "   ", "Last"}));
}

}  // namespace
