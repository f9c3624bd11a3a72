#include "fuzz/fuzz_server.h"

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "platform/files.h"
#include "platform/tcp_listener.h"

namespace fuzz {
namespace {

std::unique_ptr<core::TParlowindServer> StartServer() {
  std::string directory = "/tmp/plserver-fuzz-" + std::to_string(std::random_device{}());
  std::string command = "mkdir -p " + directory;
  if (std::system(command.c_str()) != 0) std::abort();
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 50; ++attempt) {
    int port = std::uniform_int_distribution<int>(20000, 60000)(random);
    std::string ini =
        "[Version]\nServerVersion=v1.2.0\n[Networking]\nTCPPort=" + std::to_string(port) +
        "\n[Security]\nUdpFromAnyAddress=1\n"
        // The fuzzer explores the handlers, not the abuse limits, which would soon drop or
        // ban its one address and its clients.
        "MaxFramesPerSecond=0\nMaxVoicePacketsPerSecond=0\nMaxVoiceBytesPerSecond=0\n"
        "AuthFailuresBeforeBan=0\nMaxPendingPerAddress=0\n";
    plat::ReplaceFileAtomically(directory + "/plserver.ini", ini);
    core::StartupEnvironment environment;
    environment.program_file = directory + "/plserver";
    environment.arguments = {"-LOG=" + directory + "/plserver.log"};
    auto server = std::make_unique<core::TParlowindServer>(environment);
    if (!server->Server_Init()) continue;
    clients::ClientList& list = server->clients();
    clients::ClientList::Lock lock = list.Acquire();
    for (const FuzzClient& client_spec : kClients) {
      auto client = std::make_shared<clients::TServerClient>(nullptr, &server->counters());
      client->Id = client_spec.id;
      client->SetPlayerNo(client_spec.player_no);
      client->SetRoomId(client_spec.room);
      client->SetVersion(client_spec.player_no % 2 ? "1.2.0" : "2.0");
      // The discard port on loopback: relayed copies and pings go nowhere.
      client->SetPeer({0x7F000001, kClientPort});
      list.Append(lock, client);
    }
    return server;
  }
  std::abort();
}

}  // namespace

core::TParlowindServer& Server() {
  static std::unique_ptr<core::TParlowindServer> server = StartServer();
  return *server;
}

}  // namespace fuzz
