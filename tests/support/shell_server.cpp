#include "support/shell_server.h"

#include "protoclient/protocol_client.h"

namespace pltest {

ProgramDirectory::ProgramDirectory(const std::string& program_name, uint16_t port)
    : installation(program_name), log(installation.File("server.log")), port(port) {
  WriteFile(installation.File("plserver.ini"),
            "[Version]\nServerVersion=v1.2.0\n[Networking]\nTCPPort=" + std::to_string(port) +
                "\nIP=127.0.0.1\n");
}

std::optional<std::string> ServerVersionOverTheWire(uint16_t port) {
  auto client = plclient::ProtocolClient::Connect("127.0.0.1", port);
  if (!client || !client->Login("shelltest", "", "1.2.4", 3000).accepted ||
      !client->SendServerStatsReq()) {
    return std::nullopt;
  }
  std::optional<plclient::ServerStats> stats = client->Await(plclient::ParseServerStats, 3000);
  if (!stats) return std::nullopt;
  return stats->version;
}

}  // namespace pltest
