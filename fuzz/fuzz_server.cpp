#include "fuzz/fuzz_server.h"

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/connection_pair.h"
#include "platform/files.h"

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
        "AuthFailuresBeforeBan=0\nMaxPendingPerAddress=0\n[Channels]\n0=Lobby\n1=Music\n";
    plat::ReplaceFileAtomically(directory + "/plserver.ini", ini);
    core::StartupEnvironment environment;
    environment.program_file = directory + "/plserver";
    environment.arguments = {"-LOG=" + directory + "/plserver.log"};
    auto server = std::make_unique<core::TParlowindServer>(environment);
    if (server->Server_Init()) return server;
  }
  std::abort();
}

// The peer ends of the registered clients' connections.
std::vector<plat::ConnectionPair>& Pairs() {
  static std::vector<plat::ConnectionPair> pairs;
  return pairs;
}

void ResetRooms(clients::RoomList& rooms) {
  std::vector<uint8_t> ids;
  {
    clients::RoomList::Lock lock = rooms.Acquire();
    for (const auto& room : rooms.Entries(lock)) ids.push_back(room->RoomId);
  }
  for (uint8_t id : ids) rooms.RemoveRoom(id);
  rooms.CreateRoom("Lobby");
  rooms.CreateRoom("Music");
}

void RegisterClients(core::TParlowindServer& server) {
  Pairs().clear();
  clients::ClientList& list = server.clients();
  clients::ClientList::Lock lock = list.Acquire();
  for (const FuzzClient& client_spec : kClients) {
    std::optional<plat::ConnectionPair> pair = plat::MakeConnectionPair();
    if (!pair) std::abort();
    auto client = std::make_shared<clients::TServerClient>(pair->server_side, &server.counters(),
                                                           server.clock().Now());
    pair->server_side->SetSlot(client);
    client->Id = client_spec.id;
    client->SetPlayerNo(client_spec.player_no);
    client->SetRoomId(client_spec.room);
    client->SetVersion(client_spec.player_no % 2 ? "1.2.0" : "2.0");
    client->SetName("player" + std::to_string(client_spec.player_no));
    // The discard port on loopback: relayed copies and pings go nowhere.
    client->SetPeer({0x7F000001, kClientPort});
    list.Append(lock, client);
    Pairs().push_back(std::move(*pair));
  }
}

}  // namespace

core::TParlowindServer& Server() {
  static std::unique_ptr<core::TParlowindServer> server = StartServer();
  return *server;
}

void ResetState() {
  core::TParlowindServer& server = Server();
  for (const clients::ClientRef& client : server.clients().TakeAll()) client->Destroy();
  DrainClients();
  for (plat::ConnectionPair& pair : Pairs()) pair.server_side->Close();
  server.passwords().SetServerPassword("");
  server.passwords().SetAdminPassword(core::kDefaultAdminPassword);
  ResetRooms(server.rooms());
  RegisterClients(server);
}

void DrainClients() {
  for (plat::ConnectionPair& pair : Pairs()) pair.peer->Drain();
}

}  // namespace fuzz
