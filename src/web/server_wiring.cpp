#include "web/server_wiring.h"

#include <cstdio>
#include <optional>

#include "core/event_line.h"

namespace web {

std::shared_ptr<WebView> StartWebView(core::TParlowindServer& server) {
  const std::shared_ptr<const core::Settings> in_force = server.settings();
  const core::Settings& settings = *in_force;
  const std::optional<plat::Endpoint> address = plat::ParseEndpoint(settings.WebListen);
  if (!address) return nullptr;  // off, or refused with a warning when the file was read
  ViewSources sources{server.clients(), server.rooms(), server.live_settings()};
  WebView::Options options;
  options.max_streams = static_cast<size_t>(settings.WebMaxStreams);
  options.max_streams_per_address = static_cast<size_t>(settings.WebMaxStreamsPerAddress);
  auto view =
      std::make_shared<WebView>(std::move(sources), server.clock(), server.StartTick(), options);
  core::EventOutput& events = server.event_output();
  if (plat::Status status = view->Start(*address, events); !status.ok()) {
    core::EventLine line(core::EventLevel::kWarning, "web-failed");
    events.Emit(line.Text("listen", settings.WebListen).Text("error", status.message()));
    std::fprintf(stderr, "plserver: warning: no web view: %s\n", status.message().c_str());
    return nullptr;
  }
  core::EventLine line(core::EventLevel::kInfo, "web");
  events.Emit(line.Word("listen", plat::Endpoint{address->ip, view->BoundPort()}.ToString()));
  server.AddShutdownStep([weak = std::weak_ptr<WebView>(view)] {
    if (std::shared_ptr<WebView> running = weak.lock()) running->Stop();
  });
  return view;
}

}  // namespace web
