#include "operator/server_wiring.h"

#include <cstdio>

#include "platform/local_socket.h"

namespace oper {

std::unique_ptr<OperatorServer> StartOperatorInterface(core::TParlowindServer& server) {
  const core::Settings& settings = server.settings();
  ServerAccess access{server.clients(),
                      server.rooms(),
                      server.guard(),
                      server.counters(),
                      server.passwords(),
                      server.event_output(),
                      server.voice_queue(),
                      settings.ServerVersion,
                      server.StartTick(),
                      settings.MaxClients,
                      settings.ConfigurationPath(),
                      server.config_file_mutex(),
                      [&server] { return server.SaveRooms(); }};
  OperatorServer::Options options;
  options.socket_path = plat::LocalSocketsSupported() ? settings.OperatorSocket : "";
  options.max_connections = static_cast<size_t>(settings.OperatorMaxConnections);
  options.mode = settings.OperatorSocketMode;
  auto operator_server = std::make_unique<OperatorServer>(std::move(access), options);
  plat::Status status = operator_server->Start();
  if (!plat::LocalSocketsSupported())
    status = plat::Status::Error("this build serves no operator socket");
  core::EventLine line(status.ok() ? core::EventLevel::kInfo : core::EventLevel::kWarning,
                       status.ok() ? "operator" : "operator-off");
  if (!status.ok()) {
    line.Text("reason", status.message());
    if (!settings.OperatorSocket.empty())
      std::fprintf(stderr, "plserver: operator socket off: %s\n", status.message().c_str());
  } else {
    line.Text("socket", settings.OperatorSocket);
  }
  server.event_output().Emit(line);
  OperatorServer* raw = operator_server.get();
  server.AddShutdownStep([raw] { raw->Stop(); });
  return operator_server;
}

}  // namespace oper
