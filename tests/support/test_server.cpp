#include "support/test_server.h"

#include <gtest/gtest.h>

#include "platform/ini_file.h"

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace pltest {
namespace {

constexpr int kPortTries = 20;

std::mt19937& Random() {
  static std::mt19937 random(std::random_device{}());
  return random;
}

}  // namespace

std::string IniKeys::Render(uint16_t tcp_port) const {
  std::ostringstream text;
  text << "[Version]\r\nServerVersion=v1.2.0\r\n";
  auto networking = sections_.find("Networking");
  text << "[Networking]\r\nTCPPort=" << tcp_port << "\r\n";
  if (networking != sections_.end()) {
    for (const auto& [key, value] : networking->second) text << key << "=" << value << "\r\n";
  }
  for (const auto& [section, keys] : sections_) {
    if (section == "Networking") continue;
    text << "[" << section << "]\r\n";
    for (const auto& [key, value] : keys) text << key << "=" << value << "\r\n";
  }
  text << raw_;
  return text.str();
}

TestServer::TestServer(const IniKeys& keys, const plat::Clock& clock) : clock_(clock) {
  std::uniform_int_distribution<int> draw(20000, 60000);
  for (int attempt = 0; attempt < kPortTries; ++attempt) {
    tcp_port_ = static_cast<uint16_t>(draw(Random()));
    std::ofstream(ini_path(), std::ios::binary | std::ios::trunc) << keys.Render(tcp_port_);
    core::StartupEnvironment environment;
    environment.program_file = directory_.File("plserver");
    environment.arguments = {"-LOG=" + directory_.File("plserver.log")};
    auto server = std::make_unique<core::TParlowindServer>(std::move(environment), clock_);
    if (server->Server_Init()) {
      server_ = std::move(server);
      return;
    }
    // Most likely the port pair is taken: the failed server stops quietly, try another pair.
  }
  ADD_FAILURE() << "no test server could be started";
}

bool TestServer::StartOnCurrentFile() {
  core::StartupEnvironment environment;
  environment.program_file = directory_.File("plserver");
  environment.arguments = {"-LOG=" + directory_.File("plserver.log")};
  auto server = std::make_unique<core::TParlowindServer>(std::move(environment), clock_);
  if (!server->Server_Init()) return false;
  server_ = std::move(server);
  return true;
}

bool TestServer::Restart() {
  server_.reset();
  if (StartOnCurrentFile()) return true;
  std::uniform_int_distribution<int> draw(20000, 60000);
  for (int attempt = 0; attempt < kPortTries; ++attempt) {
    tcp_port_ = static_cast<uint16_t>(draw(Random()));
    std::string error;
    std::optional<plat::IniFile> ini = plat::IniFile::Open(ini_path(), &error);
    if (!ini) break;
    ini->WriteInteger("Networking", "TCPPort", tcp_port_);
    if (!ini->Commit().ok()) break;
    if (StartOnCurrentFile()) return true;
  }
  ADD_FAILURE() << "the test server could not be started again";
  return false;
}

// The server stops before its directory goes: the members end in that order.
TestServer::~TestServer() = default;

std::string TestServer::ReadIni() const {
  return ReadFile(ini_path());
}

std::unique_ptr<plclient::ProtocolClient> TestServer::Connect(
    const plclient::ClientOptions& options, const std::string& host) {
  std::string error;
  auto client = plclient::ProtocolClient::Connect(host, tcp_port_, options, &error);
  EXPECT_TRUE(client) << error;
  return client;
}

std::unique_ptr<plclient::ProtocolClient> TestServer::LoggedIn(const std::string& name,
                                                               const std::string& version,
                                                               const std::string& password,
                                                               const std::string& host) {
  auto client = Connect({}, host);
  if (!client) return nullptr;
  plclient::LoginOutcome outcome = client->Login(name, password, version);
  EXPECT_TRUE(outcome.accepted) << "login of " << name << " was not accepted";
  return outcome.accepted ? std::move(client) : nullptr;
}

Member TestServer::Join(const std::string& name, const std::string& version) {
  Member member;
  member.connection = LoggedIn(name, version);
  if (!member.connection) return member;
  EXPECT_TRUE(member->SendListsReq());
  std::optional<plclient::ServerLists> lists = member->Await(&plclient::ParseServerLists, 2000);
  EXPECT_TRUE(lists) << "no ServerLists for " << name;
  if (!lists) return member;
  member.lists = *lists;
  member.id = lists->id;
  member.player_byte = static_cast<uint8_t>(lists->own_player_byte);
  return member;
}

Member TestServer::JoinAsAdmin(const std::string& name, const std::string& password) {
  Member member = Join(name);
  if (!member.connection) return member;
  EXPECT_TRUE(member->SendAdminLogin(password));
  auto own = member->ReadUntil(
      [&](const plclient::Frame& frame) {
        auto notice = plclient::ParsePlayerIsAdmin(frame);
        return notice && notice->player_byte == member.player_byte;
      },
      2000);
  EXPECT_TRUE(own) << name << " did not become an administrator";
  return member;
}

bool WaitUntil(const std::function<bool()>& condition, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace pltest
