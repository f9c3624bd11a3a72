#include "operator/server_wiring.h"

#include <cstdio>

#include "platform/local_socket.h"

namespace oper {

ServerAccess AccessTo(core::TParlowindServer& server) {
  return ServerAccess{server.clients(),
                      server.rooms(),
                      server.guard(),
                      server.counters(),
                      server.admin(),
                      server.event_output(),
                      server.voice_queue(),
                      server.config_file(),
                      server.clock(),
                      server.live_settings(),
                      [&server] { return server.Reload("operator"); },
                      server.settings()->ServerVersion,
                      server.StartTick()};
}

std::shared_ptr<OperatorServer> StartOperatorInterface(core::TParlowindServer& server) {
  const std::shared_ptr<const core::Settings> current = server.settings();
  const core::Settings& settings = *current;
  OperatorServer::Options options;
  options.socket_path = plat::LocalSocketsSupported() ? settings.OperatorSocket : "";
  options.max_connections = static_cast<size_t>(settings.OperatorMaxConnections);
  options.mode = settings.OperatorSocketMode;
  auto operator_server = std::make_shared<OperatorServer>(AccessTo(server), options);
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
  // The server may outlive the interface (main ends it first): its steps hold it weakly.
  std::weak_ptr<OperatorServer> weak = operator_server;
  server.AddShutdownStep([weak] {
    if (std::shared_ptr<OperatorServer> running = weak.lock()) running->Stop();
  });
  server.AddReloadStep([weak](const core::Settings&, const core::Settings& after,
                              const plat::IniFile& file, core::ReloadOutcome& outcome) {
    if (std::shared_ptr<OperatorServer> running = weak.lock())
      running->ApplyReload(after, file, outcome);
  });
  return operator_server;
}

}  // namespace oper
