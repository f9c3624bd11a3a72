// Reload with the real binary on a pseudo-terminal, while players talk: SIGHUP puts a changed
// file in force without dropping anyone or losing a voice copy, refuses a bad file whole, and
// closing the terminal shuts the server down cleanly.
#include <signal.h>

#include <atomic>
#include <thread>

#include "blackbox/server_fixture.h"
#include "protoclient/voice_datagrams.h"
#include "support/pty.h"

namespace pltest {
namespace {

constexpr int kWaitMs = 5000;

std::string ReloadIni(int port, const std::string& password, const std::string& max_clients,
                      const std::string& rooms, const std::string& extra = "") {
  return CurrentIni(port,
                    "IP=127.0.0.1\r\n[Passwords]\r\nAdminPassword=Xq7-admin\r\n"
                    "ServerPassword=" +
                        password + "\r\n[General]\r\nMaxClients=" + max_clients +
                        "\r\n[Security]\r\nMaxVoicePacketsPerSecond=500\r\n" + "[Channels]\r\n" +
                        rooms + extra);
}

// A player with its control connection and a voice socket the server has recorded.
struct Talker {
  std::unique_ptr<plclient::ProtocolClient> control;
  std::unique_ptr<plclient::VoicePeer> voice;
  uint16_t id = 0;
  uint32_t next_packet = 1;
  size_t voice_received = 0;
};

std::optional<Talker> Join(int port, const std::string& name, const std::string& password) {
  Talker talker;
  talker.control = plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port));
  if (!talker.control || !talker.control->Login(name, password).accepted) return std::nullopt;
  if (!talker.control->SendListsReq()) return std::nullopt;
  auto lists = talker.control->Await(plclient::ParseServerLists, kWaitMs);
  if (!lists) return std::nullopt;
  talker.id = lists->id;
  talker.voice = plclient::VoicePeer::Open(static_cast<uint16_t>(port + 1));
  // The pong comes back once the server has recorded the voice address.
  if (!talker.voice ||
      !talker.voice->Send(plclient::KeepAliveDatagram(talker.id, plclient::kKeepAlivePing, 1)))
    return std::nullopt;
  for (auto reply = talker.voice->Receive(kWaitMs); reply; reply = talker.voice->Receive(kWaitMs)) {
    auto pong = plclient::ParseKeepAlive(*reply);
    if (pong && pong->type == plclient::kKeepAlivePong) return talker;
  }
  return std::nullopt;
}

// Two of the talkers speak, 50 datagrams a second each, while every one of them counts the
// voice it receives; until stopped.
class Conversation {
 public:
  explicit Conversation(std::vector<Talker>& talkers)
      : talkers_(talkers), thread_([this] { Run(); }) {}
  ~Conversation() { Stop(); }
  void Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  // The copies every talker should have: each datagram reaches the three others.
  size_t Expected() const { return sent_ * (talkers_.size() - 1); }
  size_t Received() const {
    size_t total = 0;
    for (const Talker& talker : talkers_) total += talker.voice_received;
    return total;
  }

 private:
  void Run() {
    const std::vector<uint8_t> payload(60, 0x5A);
    for (int round = 0; running_; ++round) {
      for (size_t speaker = 0; speaker < 2; ++speaker) {
        Talker& talker = talkers_[speaker];
        talker.voice->Send(
            plclient::VoiceDatagramForRoom(talker.id, talker.next_packet++, payload));
        ++sent_;
      }
      Drain(20);
    }
    // The copies on their way when the talking stopped.
    Drain(500);
  }
  void Drain(int quiet_ms) {
    for (Talker& talker : talkers_) {
      while (auto datagram =
                 talker.voice->Receive(talker.id == talkers_.back().id ? quiet_ms : 0)) {
        if (!plclient::ParseKeepAlive(*datagram)) ++talker.voice_received;
      }
    }
  }

  std::vector<Talker>& talkers_;
  std::atomic<bool> running_{true};
  size_t sent_ = 0;
  std::thread thread_;
};

class ReloadTest : public ServerFixture {
 protected:
  // Starts the server on a terminal of the test's own; a port taken meanwhile makes it try again.
  std::unique_ptr<ChildProcess> StartOnTerminal(const std::function<void(int)>& write_ini) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = PickFreePortPair();
      write_ini(port_);
      auto server = std::make_unique<ChildProcess>(
          program_dir_.program(), std::vector<std::string>{"-LOG=" + LogPath()}, work_dir_.path(),
          ChildProcess::Input::kPseudoTerminal);
      if (server->WaitForOutput("info start ", kWaitMs)) return server;
      std::remove(LogPath().c_str());
    }
    ADD_FAILURE() << "the server did not start";
    return nullptr;
  }
};

TEST_F(ReloadTest, ChangesComeIntoForceWhilePlayersTalkABadFileIsRefusedAndAHangUpStops) {
  auto server = StartOnTerminal([&](int port) {
    WriteFile(IniPath(), ReloadIni(port, "old-pw", "8", "0=Lobby\r\n1=Old\r\n"));
  });
  ASSERT_TRUE(server);
  std::vector<Talker> talkers;
  for (const char* name : {"ann", "ben", "cid", "dot"}) {
    std::optional<Talker> talker = Join(port_, name, "old-pw");
    ASSERT_TRUE(talker) << name;
    talkers.push_back(std::move(*talker));
  }
  Conversation conversation(talkers);

  WriteFile(IniPath(), ReloadIni(port_, "new-pw", "5", "0=Lobby\r\n1=Fresh\r\n"));
  server->Signal(SIGHUP);
  std::optional<size_t> reloaded =
      server->WaitForOutput("info reload result=ok by=signal duration_us=", kWaitMs);
  ASSERT_TRUE(reloaded) << server->output();
  const std::string changed = server->output().substr(*reloaded);
  EXPECT_NE(changed.find("Channels General.MaxClients Passwords.ServerPassword"), std::string::npos)
      << changed;
  EXPECT_EQ(changed.find("new-pw"), std::string::npos);
  // Every player hears of the rooms as the administration commands would tell them.
  for (Talker& talker : talkers) {
    EXPECT_TRUE(talker.control->Await(plclient::ParseRoomCreated, kWaitMs));
    EXPECT_TRUE(talker.control->Await(plclient::ParseRoomDeleted, kWaitMs));
  }
  // The new password and the new limit, for newcomers only.
  auto stale = plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_));
  ASSERT_TRUE(stale);
  const plclient::LoginOutcome refused = stale->Login("eve", "old-pw");
  ASSERT_TRUE(refused.refused);
  EXPECT_EQ(refused.refused->value, wire::kResultWrongServerPassword);
  auto fifth_with_password =
      plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_));
  ASSERT_TRUE(fifth_with_password);
  ASSERT_TRUE(fifth_with_password->Login("fay", "new-pw").accepted);
  auto sixth = plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_));
  ASSERT_TRUE(sixth);
  const plclient::LoginOutcome full = sixth->Login("gus", "new-pw");
  ASSERT_TRUE(full.refused);
  EXPECT_EQ(full.refused->value, wire::kResultServerFull);
  ASSERT_TRUE(fifth_with_password->SendLeave());

  // A file the check does not pass changes nothing, and says why.
  WriteFile(IniPath(), ReloadIni(port_, "bad-pw", "abc", "0=Lobby\r\n", "[Security\r\n"));
  server->Signal(SIGHUP);
  std::optional<size_t> rejected =
      server->WaitForOutput("warning reload result=refused by=signal ", kWaitMs, *reloaded);
  ASSERT_TRUE(rejected) << server->output();
  ASSERT_TRUE(server->WaitForOutput("\n", kWaitMs, *rejected));
  const std::string refusal = server->output().substr(*rejected);
  EXPECT_NE(refusal.find(" problems=2 "), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("MaxClients"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("[Security"), std::string::npos) << refusal;
  auto again = plclient::ProtocolClient::Connect("127.0.0.1", static_cast<uint16_t>(port_));
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->Login("hal", "new-pw").accepted);

  conversation.Stop();
  EXPECT_GT(conversation.Expected(), 0u);
  EXPECT_EQ(conversation.Received(), conversation.Expected());
  // Nobody was dropped: every player is still served.
  for (Talker& talker : talkers) {
    ASSERT_TRUE(talker.control->SendServerStatsReq());
    EXPECT_TRUE(talker.control->Await(plclient::ParseServerStats, kWaitMs));
  }
  // Closing the terminal ends the server as an operator's quit would.
  server->HangUp();
  EXPECT_EQ(server->WaitForExit(15000), 0);
  const std::vector<std::string> texts = LogTexts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[texts.size() - 3], "Server_DeInit -- Stopped TCP");
  EXPECT_EQ(texts.back(), "Parlowind server shutdown");
}

}  // namespace
}  // namespace pltest
